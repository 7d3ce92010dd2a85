#pragma once
// A CGraphWindow drawn with Qt Charts: one series per curve, the left and right axes, and the
// ranges the window's model holds.

#include <QtCharts/QChartView>
#include <vector>

class CGraphWindow;
class QAbstractSeries;
class QAbstractAxis;
class QValueAxis;

class QtGraphView : public QChartView {
 public:
  explicit QtGraphView(QWidget* parent = nullptr);

  // Draws the window's curves again from its data.
  void Rebuild(const CGraphWindow* graph);
  // Adds the points that the window has drawn since the last call.
  void AppendDrawn(const CGraphWindow& graph);
  void ReplacePoint(const CGraphWindow& graph, int index);
  void ApplyRanges(const CGraphWindow& graph);
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  int PointCount(int series) const;

 private:
  std::vector<QAbstractSeries*> series_;
  QAbstractAxis* x_ = nullptr;  // logarithmic for a frequency response
  QValueAxis* y1_ = nullptr;
  QValueAxis* y2_ = nullptr;
};
