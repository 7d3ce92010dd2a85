#include "app/qt/qt_graph_view.h"

#include <QBuffer>

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <cmath>

#include "host/zel_file.h"
#include "host/zel_graph.h"

namespace {

// Either kind of axis that a graph has: linear, or logarithmic for a frequency response.
std::pair<double, double> AxisRange(const QAbstractAxis* axis) {
  if (const auto* linear = qobject_cast<const QValueAxis*>(axis)) return {linear->min(), linear->max()};
  if (const auto* log = qobject_cast<const QLogValueAxis*>(axis)) return {log->min(), log->max()};
  return {0.0, 0.0};
}

}  // namespace

namespace {

QColor ToColor(std::uint32_t rgb) {
  return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>(rgb & 0xFF));
}

QXYSeries* Xy(QAbstractSeries* s) { return static_cast<QXYSeries*>(s); }

// "Motor_Current [A]": a channel as an axis or a legend names it.
QString WithUnit(const CGraphDocument& doc, int channel, const QString& name) {
  const std::string& unit = doc.GetChannelUnit(channel);
  return unit.empty() ? name : name + " [" + QString::fromStdString(unit) + "]";
}

// A click that moved less than this is a click, not a drag.
constexpr int kClickSlack_px = 4;
const QColor kCursorColours[2] = {QColor(0x20, 0x80, 0x20), QColor(0xb0, 0x30, 0xb0)};

}  // namespace

QtGraphView::QtGraphView(QWidget* parent) : QChartView(new QChart(), parent) {
  setRenderHint(QPainter::Antialiasing);
  setMinimumSize(420, 260);
  chart()->legend()->setAlignment(Qt::AlignBottom);
  chart()->legend()->setVisible(true);
  chart()->setMargins(QMargins(4, 4, 4, 4));
  setRubberBand(QChartView::RectangleRubberBand);
  readout_ = new QGraphicsSimpleTextItem(chart());
  readout_->setZValue(20);
  for (int i = 0; i < 2; ++i) {
    cursors_[i].line = new QGraphicsLineItem(chart());
    cursors_[i].line->setPen(QPen(kCursorColours[i], 1.0, Qt::DashLine));
    cursors_[i].line->setZValue(10);
    cursors_[i].line->hide();
  }
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
  graph_ = graph;
  const CGraphFilter* filter = graph ? graph->GetFilter() : nullptr;
  if (!filter) return;
  c->setTitle(QString::fromStdString(graph->GetTitle()));
  const CGraphDocument& doc = filter->GetDocument();
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
    s->setName(WithUnit(doc, curve.y_channel, QString::fromStdString(curve.name)) +
               (curve.axis == 2 ? " (right)" : ""));
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
  x_->setTitleText(AxisTitle(0));
  y1_->setTitleText(AxisTitle(1));
  if (y2_) y2_->setTitleText(AxisTitle(2));
  AppendDrawn(*graph);
  ApplyRanges(*graph);
}

// The channel's name and unit for time; for a value axis the unit its curves share.
QString QtGraphView::AxisTitle(int axis) const {
  const CGraphFilter* filter = graph_ ? graph_->GetFilter() : nullptr;
  if (!filter || filter->GetCount() == 0) return {};
  const CGraphDocument& doc = filter->GetDocument();
  if (axis == 0) {
    const int x = filter->GetAt(0)->x_channel;
    return WithUnit(doc, x, QString::fromStdString(doc.GetChannelName(x)));
  }
  QString unit;
  for (int i = 0; i < filter->GetCount(); ++i) {
    const CXYCurve& c = *filter->GetAt(i);
    if ((c.axis == 2) != (axis == 2)) continue;
    const QString u = QString::fromStdString(doc.GetChannelUnit(c.y_channel));
    if (unit.isEmpty()) unit = u;
    else if (u != unit) return {};
  }
  return unit.isEmpty() ? QString() : "[" + unit + "]";
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
  PlaceCursorLines();
  UpdateReadout();
}

// --- cursors -------------------------------------------------------------------------------

void QtGraphView::SetCursor(int which, double x) {
  if (which < 0 || which > 1 || !std::isfinite(x)) return;
  cursors_[which].x = x;
  PlaceCursorLines();
  UpdateReadout();
}

std::optional<double> QtGraphView::ValueAt(int i, double x) const {
  const QXYSeries* s = Xy(series_[static_cast<std::size_t>(i)]);
  const int n = static_cast<int>(s->count());
  for (int k = 1; k < n; ++k) {
    const QPointF a = s->at(k - 1), b = s->at(k);
    if (x < a.x() || x > b.x()) continue;
    if (b.x() == a.x()) return b.y();
    return a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x());
  }
  return std::nullopt;
}

QString QtGraphView::CursorReadout() const {
  QStringList lines;
  const QString time_unit = graph_ && graph_->GetDocument() && graph_->GetFilter() &&
                                    graph_->GetFilter()->GetCount()
                                ? QString::fromStdString(graph_->GetDocument()->GetChannelUnit(
                                      graph_->GetFilter()->GetAt(0)->x_channel))
                                : QString();
  auto value_text = [](double v) { return QString::number(v, 'g', 4); };
  for (int c = 0; c < 2; ++c) {
    if (!cursors_[c].x) continue;
    QString line = QString("%1: %2 %3").arg(c == 0 ? "A" : "B", value_text(*cursors_[c].x), time_unit);
    for (int i = 0; i < SeriesCount(); ++i) {
      if (auto v = ValueAt(i, *cursors_[c].x))
        line += QString("   %1 %2").arg(series_[static_cast<std::size_t>(i)]->name(), value_text(*v));
    }
    lines << line;
  }
  if (cursors_[0].x && cursors_[1].x) {
    QString line = QString("B-A: %1 %2").arg(value_text(*cursors_[1].x - *cursors_[0].x), time_unit);
    for (int i = 0; i < SeriesCount(); ++i) {
      auto a = ValueAt(i, *cursors_[0].x), b = ValueAt(i, *cursors_[1].x);
      if (a && b)
        line += QString("   %1 %2").arg(series_[static_cast<std::size_t>(i)]->name(), value_text(*b - *a));
    }
    lines << line;
  }
  return lines.join("\n");
}

void QtGraphView::PlaceCursorLines() {
  const QRectF area = chart()->plotArea();
  for (int c = 0; c < 2; ++c) {
    Cursor& cursor = cursors_[c];
    const auto [x_min, x_max] = AxisRange(x_);
    if (!cursor.x || series_.empty() || *cursor.x < x_min || *cursor.x > x_max) {
      cursor.line->hide();
      continue;
    }
    const double px = chart()->mapToPosition(QPointF(*cursor.x, 0), series_.front()).x();
    cursor.line->setLine(px, area.top(), px, area.bottom());
    cursor.line->show();
  }
}

void QtGraphView::UpdateReadout() {
  readout_->setText(CursorReadout());
  readout_->setPos(chart()->plotArea().topLeft() + QPointF(6, 4));
}

// --- the mouse -----------------------------------------------------------------------------

void QtGraphView::mousePressEvent(QMouseEvent* event) {
  press_ = event->pos();
  if (event->button() == Qt::MiddleButton) {
    panning_ = true;
    last_pan_ = event->pos();
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void QtGraphView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    const QPoint d = event->pos() - last_pan_;
    chart()->scroll(-d.x(), d.y());
    last_pan_ = event->pos();
    PlaceCursorLines();
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void QtGraphView::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && event->button() == Qt::MiddleButton) {
    panning_ = false;
    event->accept();
    return;
  }
  const bool click = (event->pos() - press_).manhattanLength() < kClickSlack_px;
  if (click && !series_.empty() && chart()->plotArea().contains(event->pos()) &&
      (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)) {
    const double x = chart()->mapToValue(event->pos(), series_.front()).x();
    SetCursor(event->button() == Qt::LeftButton ? 0 : 1, x);
    event->accept();
    return;
  }
  if (event->button() == Qt::RightButton) {  // no zoom out on a right click: it is cursor B
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
  PlaceCursorLines();
}

void QtGraphView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (graph_) ApplyRanges(*graph_);
  event->accept();
}

void QtGraphView::wheelEvent(QWheelEvent* event) {
  chart()->zoom(event->angleDelta().y() > 0 ? 1.25 : 0.8);
  PlaceCursorLines();
  event->accept();
}

void QtGraphView::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  PlaceCursorLines();
  UpdateReadout();
}

// --- export --------------------------------------------------------------------------------

bool QtGraphView::Export(const QString& path) {
  const std::string file = path.toStdString();
  if (path.endsWith(".png", Qt::CaseInsensitive)) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!grab().save(&buffer, "PNG")) return false;
    return ZelWriteFileAtomically(file, std::string_view(bytes.constData(),
                                                         static_cast<std::size_t>(bytes.size())))
        .empty();
  }
  if (!graph_) return false;
  if (path.endsWith(".svg", Qt::CaseInsensitive)) return ZelWriteGraphSvg(*graph_, file).empty();
  if (path.endsWith(".csv", Qt::CaseInsensitive)) return ZelWriteGraphCsv(*graph_, file).empty();
  return false;
}

void QtGraphView::contextMenuEvent(QContextMenuEvent* event) {
  // A right click in the plot is cursor B; the menu opens with the keyboard or beside it.
  if (event->reason() == QContextMenuEvent::Mouse && chart()->plotArea().contains(event->pos()))
    return;
  QMenu menu(this);
  QAction* whole = menu.addAction("Whole run");
  QAction* clear = menu.addAction("Clear cursors");
  QAction* save = menu.addAction("Save plot as...");
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == whole && graph_) ApplyRanges(*graph_);
  if (chosen == clear) {
    cursors_[0].x.reset();
    cursors_[1].x.reset();
    PlaceCursorLines();
    UpdateReadout();
  }
  if (chosen == save) {
    const QString path = QFileDialog::getSaveFileName(
        this, "Save plot as", "plot.png", "Pictures (*.png);;Drawings (*.svg);;Data (*.csv)");
    if (!path.isEmpty()) Export(path);
  }
}

int QtGraphView::PointCount(int series) const {
  return series >= 0 && series < SeriesCount()
             ? static_cast<int>(Xy(series_[static_cast<std::size_t>(series)])->count())
             : 0;
}
