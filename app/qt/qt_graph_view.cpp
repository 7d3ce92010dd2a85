#include "app/qt/qt_graph_view.h"

#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include "host/zel_graph.h"

namespace {

QColor ToColor(std::uint32_t rgb) {
  return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>(rgb & 0xFF));
}

QXYSeries* Xy(QAbstractSeries* s) { return static_cast<QXYSeries*>(s); }

}  // namespace

QtGraphView::QtGraphView(QWidget* parent) : QChartView(new QChart(), parent) {
  setRenderHint(QPainter::Antialiasing);
  setMinimumSize(420, 260);
  chart()->legend()->setAlignment(Qt::AlignBottom);
  chart()->setMargins(QMargins(4, 4, 4, 4));
  Rebuild(nullptr);
}

void QtGraphView::Rebuild(const CGraphWindow* graph) {
  QChart* c = chart();
  c->removeAllSeries();
  series_.clear();
  for (QAbstractAxis* axis : c->axes()) {
    c->removeAxis(axis);
    delete axis;
  }
  if (graph && graph->IsLogX()) {
    auto* log = new QLogValueAxis;
    log->setBase(10);
    log->setLabelFormat("%g");
    log->setMinorTickCount(8);
    x_ = log;
  } else {
    x_ = new QValueAxis;
  }
  y1_ = new QValueAxis;
  y2_ = nullptr;
  c->addAxis(x_, Qt::AlignBottom);
  c->addAxis(y1_, Qt::AlignLeft);
  const CGraphFilter* filter = graph ? graph->GetFilter() : nullptr;
  if (!filter) return;
  c->setTitle(QString::fromStdString(graph->GetTitle()));
  for (int i = 0; i < filter->GetCount(); ++i) {
    const CXYCurve& curve = *filter->GetAt(i);
    QXYSeries* s = nullptr;
    if (curve.style == 0) {
      auto* scatter = new QScatterSeries;
      scatter->setMarkerSize(4);
      s = scatter;
    } else {
      s = new QLineSeries;
    }
    s->setName(QString::fromStdString(curve.name) + (curve.axis == 2 ? " (right)" : ""));
    QPen pen(ToColor(curve.colour));
    pen.setWidthF(curve.style == 1 ? 1.0 : curve.style >= 3 ? 3.0 : 2.0);
    s->setPen(pen);
    s->setColor(ToColor(curve.colour));
    c->addSeries(s);
    if (curve.axis == 2 && !y2_) {
      y2_ = new QValueAxis;
      c->addAxis(y2_, Qt::AlignRight);
    }
    s->attachAxis(x_);
    s->attachAxis(curve.axis == 2 ? y2_ : y1_);
    series_.push_back(s);
  }
  AppendDrawn(*graph);
  ApplyRanges(*graph);
}

void QtGraphView::AppendDrawn(const CGraphWindow& graph) {
  const CGraphFilter* filter = graph.GetFilter();
  const CGraphDocument* doc = graph.GetDocument();
  if (!filter || !doc) return;
  const int drawn = std::min(graph.GetDrawnPointCount(), doc->GetPointCount());
  for (std::size_t i = 0; i < series_.size() && static_cast<int>(i) < filter->GetCount(); ++i) {
    const CXYCurve& curve = *filter->GetAt(static_cast<int>(i));
    QXYSeries* s = Xy(series_[i]);
    QList<QPointF> points;
    for (int p = static_cast<int>(s->count()); p < drawn; ++p)
      points.append(QPointF(doc->GetValue(curve.x_channel, p), doc->GetValue(curve.y_channel, p)));
    if (!points.isEmpty()) s->append(points);
  }
}

void QtGraphView::ReplacePoint(const CGraphWindow& graph, int index) {
  const CGraphFilter* filter = graph.GetFilter();
  const CGraphDocument* doc = graph.GetDocument();
  if (!filter || !doc) return;
  for (std::size_t i = 0; i < series_.size() && static_cast<int>(i) < filter->GetCount(); ++i) {
    const CXYCurve& curve = *filter->GetAt(static_cast<int>(i));
    QXYSeries* s = Xy(series_[i]);
    if (index < s->count())
      s->replace(index, doc->GetValue(curve.x_channel, index), doc->GetValue(curve.y_channel, index));
  }
  AppendDrawn(graph);
}

void QtGraphView::ApplyRanges(const CGraphWindow& graph) {
  x_->setRange(graph.GetXRange().lo, graph.GetXRange().hi);  // QVariant: either kind of axis
  y1_->setRange(graph.GetYRange(1).lo, graph.GetYRange(1).hi);
  if (y2_) y2_->setRange(graph.GetYRange(2).lo, graph.GetYRange(2).hi);
}

int QtGraphView::PointCount(int series) const {
  return series >= 0 && series < SeriesCount()
             ? static_cast<int>(Xy(series_[static_cast<std::size_t>(series)])->count())
             : 0;
}
