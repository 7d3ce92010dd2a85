#pragma once
// Plots of logged data. A CGraphDocument holds the logged channels (equal length; channel 0
// is usually time) and one or more graph filters, each a list of curves that name their x
// and y channels. A CGraphWindow shows one filter in a Graph control of a dialog: it keeps
// what the user sees (ranges, points drawn so far) as a model that a front end draws, and
// saves the picture (PNG and SVG) and the data (CSV).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/zel_file.h"
#include "host/zel_plot_scene.h"

class CZel_Dialog;
class CGraphDocument;
enum class ZelGraphEvent;

// The host's palette of 16 curve colours, 0xRRGGBB; indexes wrap around.
std::uint32_t RGB16(int index);

struct CXYCurve {
  std::string name;
  int x_channel = 0;
  int y_channel = 1;
  int axis = 1;   // 1 left, 2 right
  int style = 2;  // 0 points, 1 thin line, 2 line, 3 thick line
  std::uint32_t colour = 0;
};

class CGraphFilter {
 public:
  explicit CGraphFilter(CGraphDocument& document) : document_(&document) {}
  int AddCurve(const CXYCurve& curve);
  int AddCurve(const std::string& name, int x_channel, int y_channel, int axis, int style,
               std::uint32_t colour);
  int GetCount() const { return static_cast<int>(curves_.size()); }
  const CXYCurve* GetAt(int index) const;
  void RemoveAll() { curves_.clear(); }
  CGraphDocument& GetDocument() const { return *document_; }

 private:
  CGraphDocument* document_;
  std::vector<CXYCurve> curves_;
};

class CGraphDocument {
 public:
  CGraphDocument();
  CGraphDocument(const CGraphDocument&) = delete;
  CGraphDocument& operator=(const CGraphDocument&) = delete;

  int AddChannel(const std::string& name, const std::string& unit = {});
  int GetChannelCount() const { return static_cast<int>(channels_.size()); }
  const std::string& GetChannelName(int channel) const;
  const std::string& GetChannelUnit(int channel) const;
  void SetChannelUnit(int channel, const std::string& unit);

  // One value per channel; a missing value is NaN (nothing drawn: a prediction that was never
  // made is no line at 0), extra values are dropped.
  void AddPoint(const std::vector<double>& values);
  int SetPoint(int index, const std::vector<double>& values);
  int SetValue(int channel, int point, double value);
  int GetPointCount() const { return points_; }
  double GetValue(int channel, int point) const;
  void ClearPoints();

  // The document starts with one filter; GetAt(0) is "the first graph filter".
  CGraphFilter* GetAt(int index);
  int AddFilter();
  int GetFilterCount() const { return static_cast<int>(filters_.size()); }

 private:
  struct Channel {
    std::string name, unit;
    std::vector<double> values;
  };
  std::vector<Channel> channels_;
  int points_ = 0;
  std::vector<std::unique_ptr<CGraphFilter>> filters_;
};

struct ZelAxisRange {
  double lo = 0.0;
  double hi = 1.0;
};

// The distance between an axis's labelled ticks: 1, 2 or 5 times a power of ten, about five
// per axis, so that every picture of a plot (on screen, SVG, PNG) reads the same. 0 for an
// empty or unbounded range.
double ZelTickStep(ZelAxisRange range);
// The decimals that tell two ticks `step` apart: 0 for 1, 2, 5 and up, 1 for 0.5, ...
int ZelTickDecimals(double step);
// A tick's label with those decimals: 1541.2 beside 1541.4, never 1541 beside 1541.
std::string ZelTickLabel(double value, double step);

class CGraphWindow {
 public:
  CGraphWindow() = default;
  ~CGraphWindow();
  CGraphWindow(const CGraphWindow&) = delete;
  CGraphWindow& operator=(const CGraphWindow&) = delete;

  // Shows `filter` in the Graph control `id` of `parent`. 0 when the control is missing.
  int SubclassDlgItem(int id, CZel_Dialog* parent, CGraphFilter* filter);
  void Detach();
  // Keeps `filter` for the pictures and the CSV alone: a run's record that no control shows.
  void KeepOffScreen(CGraphFilter* filter);

  // Draws everything again (new curves, new data).
  void RefreshGraph();
  void Invalidate() { RefreshGraph(); }
  // Ranges become the extents of the data, with a margin on the y axes.
  void DoZoomOut();
  // The newest point of the data is drawn; a long upload calls this per point. Point by
  // point the ranges grow to take each one in (with room to spare, so that they do not move
  // at every point): a run that is still coming in is seen whole, not cut at 0..1.
  void UpdateLastPoint();
  void UpdatePoint(int index);
  // Writes <base>.png, <base>.svg and <base>.csv; 1 when all three were written.
  int CreateWMF(const std::string& base_name);

  void SetTitle(const std::string& title) { title_ = title; }
  // What an axis shows (0 time or frequency, 1 left, 2 right); empty lets the channels name it.
  void SetAxisTitle(int axis, const std::string& title) { axis_titles_[Axis(axis)] = title; }
  const std::string& GetAxisTitle(int axis) const { return axis_titles_[Axis(axis)]; }
  // A logarithmic x axis (frequency responses): points at or below 0 are not drawn.
  void SetLogX(bool log) { log_x_ = log; }
  bool IsLogX() const { return log_x_; }
  const std::string& GetTitle() const { return title_; }
  const CGraphFilter* GetFilter() const { return filter_; }
  const CGraphDocument* GetDocument() const { return filter_ ? &filter_->GetDocument() : nullptr; }
  CZel_Dialog* GetParentDialog() const { return parent_; }
  int GetControlId() const { return id_; }
  ZelAxisRange GetXRange() const { return x_; }
  ZelAxisRange GetYRange(int axis) const { return axis == 2 ? y2_ : y1_; }
  // Points the window has drawn so far.
  int GetDrawnPointCount() const { return drawn_; }
  // Whether the window shows any point: something to save.
  bool HasDrawnPoints() const;

 private:
  void Notify(ZelGraphEvent event, int point);
  static int Axis(int axis) { return axis == 1 || axis == 2 ? axis : 0; }
  void TakeIn(int point);

  CZel_Dialog* parent_ = nullptr;
  int id_ = 0;
  CGraphFilter* filter_ = nullptr;
  std::string title_;
  std::string axis_titles_[3];
  ZelAxisRange x_, y1_, y2_;
  // What the data drawn since the last zoom out span on each axis (x, left, right).
  std::optional<ZelAxisRange> extent_[3];
  int drawn_ = 0;
  bool log_x_ = false;
};

// What every picture of the graph (on screen, SVG, PNG, reports) calls it: its title, or the
// caption of its dialog.
std::string ZelGraphTitle(const CGraphWindow& graph);
// An axis's title (0 x, 1 left, 2 right) with its unit: the one set, else the x channel's
// name ("Time [ms]"), the axis's one curve's name, the kind of quantity that its curves
// share ("Current [A]"), or the units when they differ ("[A, V]").
std::string ZelGraphAxisTitle(const CGraphWindow& graph, int axis);

// Files of a graph, as the window saves them, through the atomic writer. Each returns empty
// when the file was written, else why not.
std::string ZelWriteGraphSvg(const CGraphWindow& graph, const std::string& path);
std::string ZelWriteGraphPng(const CGraphWindow& graph, const std::string& path);
std::string ZelWriteGraphCsv(const CGraphWindow& graph, const std::string& path);
// The PNG, SVG and CSV of one run (an empty path: not wanted), to be written together with
// ZelWriteFilesTogether. Empty on success, else why none can be written.
std::string ZelGraphFiles(const CGraphWindow& graph, const std::string& png,
                          const std::string& svg, const std::string& csv,
                          std::vector<ZelFileBytes>& files);
// The PNG file's bytes; empty on success, else why there are none (no font for its text).
std::string ZelGraphPngBytes(const CGraphWindow& graph, std::string& bytes);
// The SVG text itself. The PNG draws the same layout; its text needs a font (ZelFontPath in
// host/zel_font.h): without one, no PNG is written and the reason is returned.
std::string ZelGraphSvgText(const CGraphWindow& graph, int width = 800, int height = 500);
// The plot as the SVG and PNG draw it, for a toolkit to draw as lines and text.
ZelPlotScene ZelGraphScene(const CGraphWindow& graph, int width = 800, int height = 500);
// The SVG text of a scene that ZelGraphScene laid out: ZelGraphSvgText of its graph at its
// size, for a caller that wants both without laying the plot out twice.
std::string ZelPlotSceneSvgText(const ZelPlotScene& scene);
// The CSV text itself: a header of channel names with their units, a row per point; empty
// for a graph without data.
std::string ZelGraphCsvText(const CGraphWindow& graph);
