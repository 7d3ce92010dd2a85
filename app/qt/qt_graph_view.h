#pragma once
// A CGraphWindow drawn with Qt Charts: one series per curve, the left and right axes with the
// units of their channels, a legend, and what an engineer does with a plot: zoom (drag a
// rectangle, or the wheel), pan (drag with the middle button), back to the whole run (double
// click), two cursors that read time and value and their difference (left click: cursor A,
// right click: cursor B, as a scope's), and export to PNG, SVG and CSV (context menu).

#include <QStringList>
#include <QtCharts/QChartView>
#include <array>
#include <optional>
#include <utility>
#include <vector>

class CGraphDocument;
class CGraphWindow;
struct CXYCurve;
class QAbstractSeries;
class QAbstractAxis;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsTextItem;
class QValueAxis;

class QtGraphView : public QChartView {
 public:
  explicit QtGraphView(QWidget* parent = nullptr);

  // Draws the window's curves again from its data.
  void Rebuild(const CGraphWindow* graph);
  // Adds the points that the window has drawn since the last call; with `replaced`, points
  // drawn before have new values too (a scope's ring), and every curve is drawn again. The
  // axes then take the window's ranges when these have moved.
  void DrawNewPoints(const CGraphWindow& graph, bool replaced);
  void ApplyRanges(const CGraphWindow& graph);
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  int PointCount(int series) const;

  // --- cursors: x in the unit of the time axis ---
  void SetCursor(int which, double x);
  std::optional<double> CursorX(int which) const { return cursors_[which].x; }
  // What the readout shows: each cursor's time and the curves' values there, and the
  // differences B - A.
  QString CursorReadout() const;
  QString AxisTitle(int axis) const;  // 0 time, 1 left, 2 right
  // The range an axis shows (0 time, 1 left, 2 right); nothing for a missing axis.
  std::optional<std::pair<double, double>> ShownRange(int axis) const;
  // The points of curve `i` as drawn.
  QList<QPointF> Points(int series) const;

  // Writes the plot: PNG as drawn here, SVG and CSV as the host writes them.
  bool Export(const QString& path);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Cursor {
    std::optional<double> x;
    QGraphicsLineItem* line = nullptr;
  };
  // The value of curve `i` at x, between its points; nothing outside its data.
  std::optional<double> ValueAt(int i, double x) const;
  void PlaceCursorLines();
  // A linear axis whose ticks are set for each new range and for the room the plot has.
  QValueAxis* TickedAxis();
  double AxisPixels(const QAbstractAxis* axis) const;
  void Retick(QValueAxis* axis, double lo, double hi);
  void RetickAll();
  void SetRange(QAbstractAxis* axis, double lo, double hi);
  void AppendDrawn(const CGraphWindow& graph);
  static void AppendFinitePoints(const CGraphDocument& doc, const CXYCurve& curve, int from,
                                 int to, QList<QPointF>& points);
  void RedrawAll(const CGraphWindow& graph);
  // The x range and the two y ranges of the window that the axes show now.
  std::array<std::pair<double, double>, 3> RangesOf(const CGraphWindow& graph) const;
  QList<QStringList> KeyRows() const;
  void DrawKey();
  void PlaceReadout();

  const CGraphWindow* graph_ = nullptr;
  std::vector<QAbstractSeries*> series_;
  int doc_points_drawn_ = 0;  // of the document's points, those the series have taken
  QAbstractAxis* x_ = nullptr;  // logarithmic for a frequency response
  QValueAxis* y1_ = nullptr;
  QValueAxis* y2_ = nullptr;
  std::array<std::pair<double, double>, 3> applied_{};  // the ranges last taken
  bool reticking_ = false;
  Cursor cursors_[2];
  QGraphicsTextItem* key_ = nullptr;  // the curves' names
  QGraphicsTextItem* readout_ = nullptr;  // the cursors' table, over the plot
  QGraphicsRectItem* readout_frame_ = nullptr;
  QPoint press_;
  bool panning_ = false;
  QPoint last_pan_;
};
