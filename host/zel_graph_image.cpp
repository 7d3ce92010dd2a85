// Pictures and data files of a graph without any toolkit. A plot is laid out once as a list
// of strokes, dots and labels (host/zel_plot_scene.h); the SVG writer and the PNG raster draw
// the same list, so both carry the same title, axis titles, tick labels and key. Headless
// runs save plots with these; the Qt front end draws its own PNG of a plot on screen, and
// the PDF of a report from the same list.

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <utility>
#include <variant>

#include "host/zel_dialog.h"
#include "host/zel_drawing.h"
#include "host/zel_file.h"
#include "host/zel_font.h"
#include "host/zel_format.h"
#include "host/zel_graph.h"
#include "host/zel_units.h"

namespace {

constexpr std::uint32_t kInk = 0x000000;
constexpr std::uint32_t kGrid = 0xdddddd;
constexpr std::uint32_t kPaper = 0xffffff;

constexpr int kTitleSize = 15;
constexpr int kAxisTitleSize = 12;
constexpr int kLabelSize = 11;
constexpr int kKeyRow = 16;
constexpr int kKeySwatch = 22;

// The layout is fixed before any text is measured (an SVG viewer measures its own), so the
// key is laid out with a width per character that DejaVu Sans at 11 px stays within.
double EstimatedWidth(const std::string& text, int size) {
  return 0.62 * size * static_cast<double>(text.size());
}

struct Frame {
  int width, height;
  int left, top, right, bottom;  // plot area, pixels
  ZelAxisRange x, y1, y2;
  bool has_axis2;
  bool log_x;

  double Px(double v) const {
    if (log_x)
      return left + std::log10(v / x.lo) / std::log10(x.hi / x.lo) * (right - left);
    return left + (v - x.lo) / (x.hi - x.lo) * (right - left);
  }
  double Py(double v, int axis) const {
    const ZelAxisRange& r = axis == 2 ? y2 : y1;
    return bottom - (v - r.lo) / (r.hi - r.lo) * (bottom - top);
  }
};

using Point = ZelPlotPoint;
using Stroke = ZelPlotStroke;
using Dots = ZelPlotDots;
using Anchor = ZelTextAnchor;
using Label = ZelPlotLabel;
using Item = ZelPlotItem;

struct Scene {
  Frame frame;
  std::vector<Item> items;
};

std::vector<double> Ticks(ZelAxisRange r) {
  std::vector<double> ticks;
  const double step = ZelTickStep(r);
  if (!(step > 0)) return ticks;
  for (double t = std::ceil(r.lo / step) * step; t <= r.hi + step * 1e-9; t += step)
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  return ticks;
}

// 1, 2 and 5 times each power of ten inside the range.
std::vector<double> LogTicks(ZelAxisRange r) {
  std::vector<double> ticks;
  if (!(r.lo > 0) || !(r.hi > r.lo)) return ticks;
  for (double decade = std::pow(10.0, std::floor(std::log10(r.lo))); decade <= r.hi; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= r.lo && m * decade <= r.hi) ticks.push_back(m * decade);
  return ticks;
}

std::string LogTickLabel(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

double StrokeWidth(int style) { return style == 1 ? 1.0 : style >= 3 ? 3.0 : 2.0; }

bool HasRightAxis(const CGraphWindow& g) {
  const CGraphFilter* filter = g.GetFilter();
  for (int c = 0; filter && c < filter->GetCount(); ++c)
    if (filter->GetAt(c)->axis == 2) return true;
  return false;
}

// Whether the plot draws anything of `curve`: a curve whose every value is missing (a
// prediction that was never made) has no place in the key. Before any data, every curve
// is listed, so that an empty plot says what it will show.
bool DrawsCurve(const CGraphWindow& g, const CXYCurve& curve) {
  const CGraphDocument* doc = g.GetDocument();
  const int n = doc ? std::min(g.GetDrawnPointCount(), doc->GetPointCount()) : 0;
  if (n == 0) return true;
  for (int i = 0; i < n; ++i) {
    if (std::isfinite(doc->GetValue(curve.y_channel, i)) &&
        std::isfinite(doc->GetValue(curve.x_channel, i)))
      return true;
  }
  return false;
}

struct KeyEntry {
  std::string text;
  const CXYCurve* curve;
  double x;
  int row;
};

// The curves' names flow in rows under the x axis's title, as wide as the picture.
std::vector<KeyEntry> LayOutKey(const CGraphWindow& g, int width) {
  std::vector<KeyEntry> key;
  const CGraphFilter* filter = g.GetFilter();
  const double start = 16, end = width - 16;
  double x = start;
  int row = 0;
  for (int c = 0; filter && c < filter->GetCount(); ++c) {
    const CXYCurve& curve = *filter->GetAt(c);
    if (!DrawsCurve(g, curve)) continue;
    const std::string text = curve.name + (curve.axis == 2 ? " (right)" : "");
    const double w = kKeySwatch + 6 + EstimatedWidth(text, kLabelSize) + 18;
    if (x > start && x + w > end) {
      x = start;
      ++row;
    }
    key.push_back({text, &curve, x, row});
    x += w;
  }
  return key;
}

Frame MakeFrame(const CGraphWindow& g, int width, int height, int key_rows) {
  Frame f{};
  f.width = width;
  f.height = height;
  f.x = g.GetXRange();
  f.y1 = g.GetYRange(1);
  f.y2 = g.GetYRange(2);
  f.has_axis2 = HasRightAxis(g);
  f.log_x = g.IsLogX() && f.x.lo > 0 && f.x.hi > f.x.lo;
  f.left = 84;
  f.right = width - (f.has_axis2 ? 84 : 24);
  f.top = 36;
  f.bottom = height - 50 - kKeyRow * key_rows;
  return f;
}

void AddGridAndTicks(Scene& s) {
  const Frame& f = s.frame;
  const std::vector<double> xs = f.log_x ? LogTicks(f.x) : Ticks(f.x);
  const double x_step = ZelTickStep(f.x);
  for (double t : xs) {
    s.items.push_back(
        Stroke{{{f.Px(t), double(f.top)}, {f.Px(t), double(f.bottom)}}, kGrid, 1, false});
    s.items.push_back(Label{f.Px(t), f.bottom + 16.0,
                            f.log_x ? LogTickLabel(t) : ZelTickLabel(t, x_step), kLabelSize,
                            Anchor::Middle});
  }
  const double y1_step = ZelTickStep(f.y1);
  for (double t : Ticks(f.y1)) {
    s.items.push_back(
        Stroke{{{double(f.left), f.Py(t, 1)}, {double(f.right), f.Py(t, 1)}}, kGrid, 1, false});
    s.items.push_back(
        Label{f.left - 6.0, f.Py(t, 1) + 4, ZelTickLabel(t, y1_step), kLabelSize, Anchor::End});
  }
  if (!f.has_axis2) return;
  const double y2_step = ZelTickStep(f.y2);
  for (double t : Ticks(f.y2))
    s.items.push_back(
        Label{f.right + 6.0, f.Py(t, 2) + 4, ZelTickLabel(t, y2_step), kLabelSize, Anchor::Start});
}

void AddCurves(Scene& s, const CGraphWindow& g) {
  const Frame& f = s.frame;
  const CGraphFilter* filter = g.GetFilter();
  const CGraphDocument* doc = g.GetDocument();
  const int n = doc ? std::min(g.GetDrawnPointCount(), doc->GetPointCount()) : 0;
  for (int c = 0; filter && c < filter->GetCount(); ++c) {
    const CXYCurve& curve = *filter->GetAt(c);
    std::vector<Point> run;
    auto flush = [&] {
      if (curve.style == 0)
        s.items.push_back(Dots{run, curve.colour, true});
      else if (run.size() > 1)
        s.items.push_back(Stroke{run, curve.colour, StrokeWidth(curve.style), true});
      run.clear();
    };
    // A missing value (or one a log axis cannot place) breaks the line rather than drawing it
    // to nowhere.
    for (int i = 0; i < n; ++i) {
      const double xv = doc->GetValue(curve.x_channel, i);
      const Point p{f.log_x && !(xv > 0) ? NAN : f.Px(xv),
                    f.Py(doc->GetValue(curve.y_channel, i), curve.axis)};
      if (std::isfinite(p.x) && std::isfinite(p.y))
        run.push_back(p);
      else
        flush();
    }
    flush();
  }
}

void AddTitles(Scene& s, const CGraphWindow& g) {
  const Frame& f = s.frame;
  const double middle = (f.top + f.bottom) / 2.0;
  s.items.push_back(Label{f.width / 2.0, 22, ZelGraphTitle(g), kTitleSize, Anchor::Middle});
  s.items.push_back(Label{(f.left + f.right) / 2.0, f.bottom + 34.0, ZelGraphAxisTitle(g, 0),
                          kAxisTitleSize, Anchor::Middle});
  s.items.push_back(
      Label{18, middle, ZelGraphAxisTitle(g, 1), kAxisTitleSize, Anchor::Middle, true});
  if (f.has_axis2)
    s.items.push_back(Label{f.width - 8.0, middle, ZelGraphAxisTitle(g, 2), kAxisTitleSize,
                            Anchor::Middle, true});
}

void AddKey(Scene& s, const std::vector<KeyEntry>& key) {
  const Frame& f = s.frame;
  for (const KeyEntry& e : key) {
    const double y = f.bottom + 54.0 + kKeyRow * e.row;
    if (e.curve->style == 0)
      s.items.push_back(Dots{{{e.x + kKeySwatch / 2.0, y - 4}}, e.curve->colour, false});
    else
      s.items.push_back(Stroke{{{e.x, y - 4}, {e.x + kKeySwatch, y - 4}},
                               e.curve->colour,
                               StrokeWidth(e.curve->style),
                               false});
    s.items.push_back(Label{e.x + kKeySwatch + 6, y, e.text, kLabelSize, Anchor::Start});
  }
}

Scene LayOut(const CGraphWindow& g, int width, int height) {
  const std::vector<KeyEntry> key = LayOutKey(g, width);
  Scene s{MakeFrame(g, width, height, key.empty() ? 0 : key.back().row + 1), {}};
  const Frame& f = s.frame;
  AddGridAndTicks(s);
  AddCurves(s, g);
  s.items.push_back(Stroke{{{double(f.left), double(f.top)},
                            {double(f.right), double(f.top)},
                            {double(f.right), double(f.bottom)},
                            {double(f.left), double(f.bottom)},
                            {double(f.left), double(f.top)}},
                           kInk,
                           1,
                           false});
  AddTitles(s, g);
  AddKey(s, key);
  return s;
}

// --- SVG -----------------------------------------------------------------------------------

std::string Colour(std::uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
  return buf;
}

// A report holds several plots in one page, where an id names one element: the clip's id
// says its rectangle, so that plots which share an id share the clip too.
std::string ClipId(int left, int top, int right, int bottom) {
  return "plot-" + std::to_string(left) + "-" + std::to_string(top) + "-" +
         std::to_string(right) + "-" + std::to_string(bottom);
}

// A number as a stream writes it by default (six significant digits, as printf's %g), without
// the stream's locale machinery: a plot's thousands of coordinates cost most of its text.
constexpr int kSvgDigits = 6;
void PutSvgNumber(std::ostringstream& s, double value) {
  char buf[32];
  const char* end = ZelPutGeneral(buf, buf + sizeof buf, value, kSvgDigits);
  s.write(buf, end - buf);
}

void WriteSvgItem(std::ostringstream& s, const std::string& clip, const Stroke& stroke) {
  s << "<polyline fill=\"none\" stroke=\"" << Colour(stroke.colour) << "\" stroke-width=\""
    << stroke.width << "\"" << (stroke.clip ? " clip-path=\"url(#" + clip + ")\"" : "")
    << " points=\"";
  // The points go to the stream in one piece: a write per number cost as much as the number.
  constexpr std::size_t kMostPerPoint = 2 * 32 + 2;
  std::string points(stroke.points.size() * kMostPerPoint, '\0');
  char* at = points.data();
  char* const last = at + points.size();
  for (const Point& p : stroke.points) {
    at = ZelPutGeneral(at, last, p.x, kSvgDigits);
    *at++ = ',';
    at = ZelPutGeneral(at, last, p.y, kSvgDigits);
    *at++ = ' ';
  }
  s.write(points.data(), at - points.data());
  s << "\"/>\n";
}

void WriteSvgItem(std::ostringstream& s, const std::string& clip, const Dots& dots) {
  for (const Point& p : dots.points) {
    s << "<circle cx=\"";
    PutSvgNumber(s, p.x);
    s << "\" cy=\"";
    PutSvgNumber(s, p.y);
    s << "\" r=\"" << kZelPlotDotRadius << "\" fill=\"" << Colour(dots.colour) << "\""
      << (dots.clip ? " clip-path=\"url(#" + clip + ")\"" : "") << "/>\n";
  }
}

void WriteSvgItem(std::ostringstream& s, const std::string&, const Label& label) {
  if (label.text.empty()) return;
  static constexpr const char* kAnchors[] = {"start", "middle", "end"};
  s << "<text x=\"" << label.x << "\" y=\"" << label.y << "\" font-size=\"" << label.size
    << "\" text-anchor=\"" << kAnchors[static_cast<int>(label.anchor)] << "\"";
  if (label.vertical) s << " transform=\"rotate(-90 " << label.x << ' ' << label.y << ")\"";
  s << '>' << ZelEscapeMarkup(label.text) << "</text>\n";
}

// --- PNG -----------------------------------------------------------------------------------

class Raster {
 public:
  Raster(int w, int h) : w_(w), h_(h), pixels_(static_cast<std::size_t>(w * h), kPaper) {}
  void Set(int x, int y, std::uint32_t rgb) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) pixels_[static_cast<std::size_t>(y * w_ + x)] = rgb;
  }
  // Ink over what is there, `alpha` of 255 parts.
  void Blend(int x, int y, std::uint32_t rgb, int alpha) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_ || alpha <= 0) return;
    std::uint32_t& under = pixels_[static_cast<std::size_t>(y * w_ + x)];
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const int a = static_cast<int>((rgb >> shift) & 0xFF),
                b = static_cast<int>((under >> shift) & 0xFF);
      out |= static_cast<std::uint32_t>((a * alpha + b * (255 - alpha) + 127) / 255) << shift;
    }
    under = out;
  }
  void Dot(int x, int y, int size, std::uint32_t rgb, const Frame* clip) {
    for (int dy = -(size / 2); dy < size - size / 2; ++dy)
      for (int dx = -(size / 2); dx < size - size / 2; ++dx) {
        const int px = x + dx, py = y + dy;
        if (clip && (px < clip->left || px > clip->right || py < clip->top || py > clip->bottom))
          continue;
        Set(px, py, rgb);
      }
  }
  void Line(Point a, Point b, int size, std::uint32_t rgb, const Frame* clip) {
    const double steps = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    const int n = static_cast<int>(std::min(steps, 20000.0)) + 1;
    for (int i = 0; i <= n; ++i) {
      const double t = static_cast<double>(i) / n;
      Dot(static_cast<int>(std::lround(a.x + (b.x - a.x) * t)),
          static_cast<int>(std::lround(a.y + (b.y - a.y) * t)), size, rgb, clip);
    }
  }
  std::string Png(std::string& why) const;

 private:
  int w_, h_;
  std::vector<std::uint32_t> pixels_;
};

// Points far outside the picture (a zoomed range, a spike) are drawn only as far as the
// picture reaches: the raster walks each segment pixel by pixel.
Point Clamped(Point p) { return {std::clamp(p.x, -1e5, 1e5), std::clamp(p.y, -1e5, 1e5)}; }

void Draw(Raster& r, const Frame& f, const Stroke& stroke) {
  const int size = std::max(1, static_cast<int>(stroke.width));
  for (std::size_t i = 1; i < stroke.points.size(); ++i)
    r.Line(Clamped(stroke.points[i - 1]), Clamped(stroke.points[i]), size, stroke.colour,
           stroke.clip ? &f : nullptr);
}

void Draw(Raster& r, const Frame& f, const Dots& dots) {
  for (const Point& p : dots.points)
    r.Dot(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)), 3, dots.colour,
          dots.clip ? &f : nullptr);
}

bool Draw(Raster& r, const Label& label, std::string& why) {
  if (label.text.empty()) return true;
  ZelTextBitmap text;
  if (!ZelRenderText(label.text, label.size, text, why)) return false;
  const double shift = label.anchor == Anchor::Start    ? 0
                       : label.anchor == Anchor::Middle ? text.width / 2.0
                                                        : text.width;
  const int x0 = static_cast<int>(std::lround(label.x)),
            y0 = static_cast<int>(std::lround(label.y));
  const int along = static_cast<int>(std::lround(shift));
  for (int row = 0; row < text.height; ++row) {
    for (int col = 0; col < text.width; ++col) {
      const int a = text.coverage[static_cast<std::size_t>(row * text.width + col)];
      const int down = row - text.baseline;  // below the baseline
      if (label.vertical)
        r.Blend(x0 + down, y0 + along - col, kInk, a);
      else
        r.Blend(x0 - along + col, y0 + down, kInk, a);
    }
  }
  return true;
}

// The picture as a PNG file's bytes, encoded by libpng. Empty, with `why`, when it is not.
std::string Raster::Png(std::string& why) const {
  const ZelDrawingFunctions* drawing = ZelDrawing(why);
  if (drawing == nullptr) return {};
  std::string bytes = drawing->encode_png(w_, h_, pixels_.data());
  if (bytes.empty()) why = "libpng could not encode the picture";
  return bytes;
}

// "Current [A]" from the unit's kind in the unit table; empty when the table does not know it.
std::string QuantityOfUnit(const std::string& unit) {
  const CZel_Unit* u = unit.empty() ? nullptr : ZelUnitTable().FindUnit(unit);
  std::string name = u ? ZelUnitTypeName(u->GetUnitType()) : "";
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}

}  // namespace

double ZelTickStep(ZelAxisRange r) {
  const double span = r.hi - r.lo;
  if (!(span > 0) || !std::isfinite(span)) return 0.0;
  const double raw = span / 5.0;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  return raw / p < 1.5 ? p : raw / p < 3.5 ? 2 * p : raw / p < 7.5 ? 5 * p : 10 * p;
}

int ZelTickDecimals(double step) {
  if (!(step > 0) || !std::isfinite(step)) return 0;
  // A step is 1, 2 or 5 times a power of ten: its exponent says how many decimals tell two
  // neighbouring ticks apart.
  return std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 15);
}

std::string ZelTickLabel(double value, double step) {
  char buf[64];
  const int decimals = ZelTickDecimals(step);
  // -0.0 would print as "-0".
  const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
  std::snprintf(buf, sizeof buf, "%.*f", decimals, shown);
  return buf;
}

std::string ZelGraphTitle(const CGraphWindow& g) {
  if (!g.GetTitle().empty()) return g.GetTitle();
  const CZel_Dialog* parent = g.GetParentDialog();
  return parent ? ZelStripMnemonic(parent->Template().caption) : std::string();
}

std::string ZelGraphAxisTitle(const CGraphWindow& g, int axis) {
  if (!g.GetAxisTitle(axis).empty()) return g.GetAxisTitle(axis);
  const CGraphFilter* filter = g.GetFilter();
  if (!filter || filter->GetCount() == 0) return {};
  const CGraphDocument& doc = filter->GetDocument();
  auto with_unit = [](std::string name, const std::string& unit) {
    if (unit.empty()) return name;
    return (name.empty() ? "" : name + " ") + "[" + unit + "]";
  };
  if (axis == 0) {
    const int x = filter->GetAt(0)->x_channel;
    return with_unit(doc.GetChannelName(x), doc.GetChannelUnit(x));
  }
  std::vector<std::string> units;
  const CXYCurve* only = nullptr;
  int curves = 0;
  for (int i = 0; i < filter->GetCount(); ++i) {
    const CXYCurve& c = *filter->GetAt(i);
    if ((c.axis == 2) != (axis == 2)) continue;
    only = &c;
    ++curves;
    const std::string& u = doc.GetChannelUnit(c.y_channel);
    if (std::find(units.begin(), units.end(), u) == units.end()) units.push_back(u);
  }
  if (curves == 0) return {};
  if (units.size() > 1) {
    std::string list;
    for (const std::string& u : units) list += (list.empty() ? "" : ", ") + (u.empty() ? "1" : u);
    return "[" + list + "]";
  }
  // One curve names its axis itself; the kind of quantity names an axis that several share.
  return with_unit(curves == 1 ? only->name : QuantityOfUnit(units.front()), units.front());
}

std::string ZelGraphSvgText(const CGraphWindow& g, int width, int height) {
  return ZelPlotSceneSvgText(ZelGraphScene(g, width, height));
}

ZelPlotScene ZelGraphScene(const CGraphWindow& g, int width, int height) {
  Scene scene = LayOut(g, width, height);
  const Frame& f = scene.frame;
  return {f.width, f.height, f.left, f.top, f.right, f.bottom, std::move(scene.items)};
}

std::string ZelPlotSceneSvgText(const ZelPlotScene& scene) {
  const int width = scene.width, height = scene.height;
  std::ostringstream s;
  s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
    << "\" viewBox=\"0 0 " << width << ' ' << height
    << "\" font-family=\"DejaVu Sans, sans-serif\">\n";
  s << "<rect width=\"100%\" height=\"100%\" fill=\"" << Colour(kPaper) << "\"/>\n";
  const std::string clip = ClipId(scene.left, scene.top, scene.right, scene.bottom);
  s << "<clipPath id=\"" << clip << "\"><rect x=\"" << scene.left << "\" y=\"" << scene.top
    << "\" width=\"" << scene.right - scene.left << "\" height=\"" << scene.bottom - scene.top
    << "\"/></clipPath>\n";
  for (const Item& item : scene.items)
    std::visit([&](const auto& i) { WriteSvgItem(s, clip, i); }, item);
  s << "</svg>\n";
  return s.str();
}

std::string ZelWriteGraphSvg(const CGraphWindow& graph, const std::string& path) {
  return ZelWriteFileAtomically(path, ZelGraphSvgText(graph));
}

std::string ZelWriteGraphPng(const CGraphWindow& graph, const std::string& path) {
  std::string bytes;
  if (std::string why = ZelGraphPngBytes(graph, bytes); !why.empty())
    return path + ": " + why + "; the picture was not saved";
  return ZelWriteFileAtomically(path, bytes);
}

std::string ZelGraphFiles(const CGraphWindow& graph, const std::string& png,
                          const std::string& svg, const std::string& csv,
                          std::vector<ZelFileBytes>& files) {
  if (!csv.empty() && !graph.GetDocument())
    return csv + ": the graph has no data; nothing was saved";
  if (!png.empty()) {
    std::string bytes;
    if (std::string why = ZelGraphPngBytes(graph, bytes); !why.empty())
      return png + ": " + why + "; the picture was not saved";
    files.push_back({png, std::move(bytes)});
  }
  if (!svg.empty()) files.push_back({svg, ZelGraphSvgText(graph)});
  if (!csv.empty()) files.push_back({csv, ZelGraphCsvText(graph)});
  return {};
}

std::string ZelGraphPngBytes(const CGraphWindow& g, std::string& bytes) {
  const Scene scene = LayOut(g, 800, 500);
  Raster r(scene.frame.width, scene.frame.height);
  std::string why;
  for (const Item& item : scene.items) {
    if (const auto* label = std::get_if<Label>(&item)) {
      if (!Draw(r, *label, why)) return why;
    } else if (const auto* stroke = std::get_if<Stroke>(&item)) {
      Draw(r, scene.frame, *stroke);
    } else {
      Draw(r, scene.frame, std::get<Dots>(item));
    }
  }
  bytes = r.Png(why);
  return why;
}

std::string ZelWriteGraphCsv(const CGraphWindow& g, const std::string& path) {
  if (!g.GetDocument()) return path + ": the graph has no data; nothing was saved";
  return ZelWriteFileAtomically(path, ZelGraphCsvText(g));
}

std::string ZelGraphCsvText(const CGraphWindow& g) {
  const CGraphDocument* doc = g.GetDocument();
  if (!doc) return {};
  std::string s;
  for (int c = 0; c < doc->GetChannelCount(); ++c) {
    if (c) s += ',';
    s += ZelCsvHeader(doc->GetChannelName(c), doc->GetChannelUnit(c));
  }
  s += '\n';
  // A row's numbers, as printf's %.9g writes them, go to the text in one piece.
  constexpr int kCsvDigits = 9;
  std::string row(static_cast<std::size_t>(doc->GetChannelCount()) * 33 + 1, '\0');
  char* const first = row.data();
  char* const last = first + row.size();
  for (int i = 0; i < doc->GetPointCount(); ++i) {
    // A gap in the run (a scope's slots not yet refilled) has no time: it is no sample.
    if (doc->GetChannelCount() > 0 && !std::isfinite(doc->GetValue(0, i))) continue;
    char* at = first;
    for (int c = 0; c < doc->GetChannelCount(); ++c) {
      if (c) *at++ = ',';
      at = ZelPutGeneral(at, last, doc->GetValue(c, i), kCsvDigits);
    }
    *at++ = '\n';
    s.append(first, at);
  }
  return s;
}
