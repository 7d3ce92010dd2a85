#pragma once
// A plot laid out once, in pixels of a picture, as strokes, dots and labels. The SVG writer,
// the PNG raster and a toolkit's vector drawing (the PDF of a report) all draw this one list,
// so every picture of a plot carries the same title, axis titles, tick labels and key.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

struct ZelPlotPoint {
  double x, y;
};
// A line through its points; `clip` keeps it inside the plot area.
struct ZelPlotStroke {
  std::vector<ZelPlotPoint> points;
  std::uint32_t colour;  // 0xRRGGBB
  double width;
  bool clip;
};
struct ZelPlotDots {
  std::vector<ZelPlotPoint> points;
  std::uint32_t colour;
  bool clip;
};
enum class ZelTextAnchor { Start, Middle, End };
// Text on a baseline at (x, y), `size` pixels high; a vertical label reads upwards, its
// baseline at x.
struct ZelPlotLabel {
  double x, y;
  std::string text;
  int size;
  ZelTextAnchor anchor;
  bool vertical = false;
};
using ZelPlotItem = std::variant<ZelPlotStroke, ZelPlotDots, ZelPlotLabel>;

struct ZelPlotScene {
  int width = 0, height = 0;             // the picture
  int left = 0, top = 0, right = 0, bottom = 0;  // the plot area that clipped items stay in
  std::vector<ZelPlotItem> items;        // in drawing order
};

// Dots are drawn as discs of this radius.
inline constexpr double kZelPlotDotRadius = 1.5;
