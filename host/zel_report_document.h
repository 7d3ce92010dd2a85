#pragma once
// A report as a toolkit prints it (the PDF of a commissioning record): its page as HTML with
// each plot at a placeholder, and the plots themselves, so that a printed plot is drawn as
// lines and text rather than as a picture of them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/zel_plot_scene.h"

// The edge that a page's style gives every cell of its tables: solid, this wide and of this
// colour.
struct ZelCellEdge {
  double width_px = 0.0;     // in CSS pixels (a 96th of an inch); not above 0: no edge
  std::uint32_t colour = 0;  // 0xRRGGBB
};

struct ZelReportDocument {
  std::string title;  // the document's title in its metadata
  std::string html;   // plot N stands at <img src="plot:N">, see ZelPlotPlaceholder
  std::vector<ZelPlotScene> plots;
  // The print style: what the page's style would say of these, handed apart from the markup,
  // whose style then leaves them out. A printer applies them to the whole document, which
  // costs it less than reading them off every element. Absent, the markup's own style rules.
  std::string body_typeface = {};             // the body's font family; empty: none
  std::optional<ZelCellEdge> cell_edge = {};  // every cell's edge, nested tables' too
};

inline constexpr char kZelPlotPlaceholderScheme[] = "plot:";

// The markup that stands for plot `index` in a report's HTML.
inline std::string ZelPlotPlaceholder(std::size_t index) {
  return "<img src=\"" + std::string(kZelPlotPlaceholderScheme) + std::to_string(index) + "\">";
}
