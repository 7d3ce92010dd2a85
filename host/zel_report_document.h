#pragma once
// A report as a toolkit prints it (the PDF of a commissioning record): its page as HTML with
// each plot at a placeholder, and the plots themselves, so that a printed plot is drawn as
// lines and text rather than as a picture of them.

#include <string>
#include <vector>

#include "host/zel_plot_scene.h"

struct ZelReportDocument {
  std::string title;  // the document's title in its metadata
  std::string html;   // plot N stands at <img src="plot:N">, see ZelPlotPlaceholder
  std::vector<ZelPlotScene> plots;
};

inline constexpr char kZelPlotPlaceholderScheme[] = "plot:";

// The markup that stands for plot `index` in a report's HTML.
inline std::string ZelPlotPlaceholder(std::size_t index) {
  return "<img src=\"" + std::string(kZelPlotPlaceholderScheme) + std::to_string(index) + "\">";
}
