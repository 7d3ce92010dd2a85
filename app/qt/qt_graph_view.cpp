#include "app/qt/qt_graph_view.h"

#include <QBuffer>

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QTextDocument>
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

// The next step of the 1-2-5 series.
double CoarserStep(double step) {
  const double p = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
  const double m = step / p;
  return m < 1.5 ? 2 * p : m < 3.5 ? 5 * p : 10 * p;
}

// Labelled at round values (the host's step, as every picture of a plot has it), with the
// decimals that tell them apart; on a plot too small for that many labels, at fewer: Qt
// would cut crowded labels to "...". `pixels` is the axis's length on screen, 0 before the
// first layout.
void SetTicksFor(QValueAxis* axis, double lo, double hi, double pixels) {
  double step = ZelTickStep({lo, hi});
  if (!(step > 0)) return;
  const QFontMetricsF metrics(axis->labelsFont());
  // A label's room along the axis: its line, or the widest of its texts and a gap.
  auto label_px = [&](double candidate) {
    if (axis->orientation() == Qt::Vertical) return 1.6 * metrics.height();
    const int decimals = ZelTickDecimals(candidate);
    return std::max(metrics.horizontalAdvance(QString::number(lo, 'f', decimals)),
                    metrics.horizontalAdvance(QString::number(hi, 'f', decimals))) +
           2.0 * metrics.averageCharWidth();
  };
  while (pixels > 0 && (hi - lo) / step * label_px(step) > pixels) step = CoarserStep(step);
  axis->setTickInterval(step);
  axis->setLabelFormat(QString("%.%1f").arg(ZelTickDecimals(step)));
}

QValueAxis* RoundTickedAxis() {
  auto* axis = new QValueAxis;
  axis->setLabelFormat("%g");
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0.0);
  return axis;
}

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
  // The curves' key and the cursors' readout are one table below the plot (DrawKey), so Qt's
  // own legend, which cuts long names short, stays hidden.
  chart()->legend()->setVisible(false);
  chart()->setMargins(QMargins(4, 4, 4, 4));
  setRubberBand(QChartView::RectangleRubberBand);
  key_ = new QGraphicsTextItem(chart());
  key_->setZValue(20);
  readout_frame_ = new QGraphicsRectItem(chart());
  readout_frame_->setBrush(QColor(255, 255, 255, 230));
  readout_frame_->setPen(QPen(QColor(0xa0, 0xa0, 0xa0)));
  readout_frame_->setZValue(21);
  readout_frame_->hide();
  readout_ = new QGraphicsTextItem(chart());
  readout_->setZValue(22);
  QFont small = readout_->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);  // it lies over the curves: no larger than needed
  readout_->setFont(small);
  readout_->hide();
  // The key's height moves the plot's bottom edge, and the cursor lines and the ticks follow.
  QObject::connect(chart(), &QChart::plotAreaChanged, this, [this] {
    PlaceCursorLines();
    RetickAll();
    PlaceReadout();
  });
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
  doc_points_drawn_ = 0;
  for (QAbstractAxis* axis : c->axes()) {
    // Qt Charts deletes an axis's drawing later, in the event loop that was running when it
    // was removed: a plot rebuilt as its dialog opens from another dialog keeps that drawing,
    // laid out nowhere, in its top-left corner until the dialog closes. Hidden, it shows
    // nothing meanwhile.
    axis->setVisible(false);
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
    x_ = TickedAxis();
  }
  y1_ = TickedAxis();
  y2_ = nullptr;
  c->addAxis(x_, Qt::AlignBottom);
  c->addAxis(y1_, Qt::AlignLeft);
  graph_ = graph;
  const CGraphFilter* filter = graph ? graph->GetFilter() : nullptr;
  if (!filter) {
    DrawKey();
    return;
  }
  c->setTitle(QString::fromStdString(ZelGraphTitle(*graph)));
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
      y2_ = TickedAxis();
      y2_->setGridLineVisible(false);  // the left axis's grid is the one to read by
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

QString QtGraphView::AxisTitle(int axis) const {
  return graph_ ? QString::fromStdString(ZelGraphAxisTitle(*graph_, axis)) : QString();
}

void QtGraphView::AppendDrawn(const CGraphWindow& graph) {
  const CGraphFilter* filter = graph.GetFilter();
  const CGraphDocument* doc = graph.GetDocument();
  if (!filter || !doc) return;
  const int drawn = std::min(graph.GetDrawnPointCount(), doc->GetPointCount());
  if (doc_points_drawn_ >= drawn) return;
  for (std::size_t i = 0; i < series_.size() && static_cast<int>(i) < filter->GetCount(); ++i) {
    // Qt Charts lays the whole series out again for every point appended, also for a list
    // of them: the series takes its old and new points in one replace.
    QList<QPointF> points = Xy(series_[i])->points();
    points.reserve(drawn);
    AppendFinitePoints(*doc, *filter->GetAt(static_cast<int>(i)), doc_points_drawn_, drawn, points);
    Xy(series_[i])->replace(points);
  }
  doc_points_drawn_ = drawn;
}

// A point without a value (a gap in the run) is not drawn: Qt Charts cannot place it.
void QtGraphView::AppendFinitePoints(const CGraphDocument& doc, const CXYCurve& curve, int from,
                                     int to, QList<QPointF>& points) {
  for (int p = from; p < to; ++p) {
    const double x = doc.GetValue(curve.x_channel, p), y = doc.GetValue(curve.y_channel, p);
    if (std::isfinite(x) && std::isfinite(y)) points.append(QPointF(x, y));
  }
}

void QtGraphView::RedrawAll(const CGraphWindow& graph) {
  const CGraphFilter* filter = graph.GetFilter();
  const CGraphDocument* doc = graph.GetDocument();
  if (!filter || !doc) return;
  const int drawn = std::min(graph.GetDrawnPointCount(), doc->GetPointCount());
  for (std::size_t i = 0; i < series_.size() && static_cast<int>(i) < filter->GetCount(); ++i) {
    QList<QPointF> points;
    points.reserve(drawn);
    AppendFinitePoints(*doc, *filter->GetAt(static_cast<int>(i)), 0, drawn, points);
    Xy(series_[i])->replace(points);
  }
  doc_points_drawn_ = drawn;
}

void QtGraphView::DrawNewPoints(const CGraphWindow& graph, bool replaced) {
  if (replaced) RedrawAll(graph);
  else AppendDrawn(graph);
  if (RangesOf(graph) != applied_) ApplyRanges(graph);
}

std::array<std::pair<double, double>, 3> QtGraphView::RangesOf(const CGraphWindow& graph) const {
  return {{{graph.GetXRange().lo, graph.GetXRange().hi},
           {graph.GetYRange(1).lo, graph.GetYRange(1).hi},
           {graph.GetYRange(2).lo, graph.GetYRange(2).hi}}};
}

QValueAxis* QtGraphView::TickedAxis() {
  QValueAxis* axis = RoundTickedAxis();
  // Also after a zoom or a pan.
  QObject::connect(axis, &QValueAxis::rangeChanged, this,
                   [this, axis](qreal lo, qreal hi) { Retick(axis, lo, hi); });
  return axis;
}

double QtGraphView::AxisPixels(const QAbstractAxis* axis) const {
  const QRectF area = chart()->plotArea();
  return axis->orientation() == Qt::Vertical ? area.height() : area.width();
}

void QtGraphView::Retick(QValueAxis* axis, double lo, double hi) {
  SetTicksFor(axis, lo, hi, AxisPixels(axis));
}

void QtGraphView::RetickAll() {
  // New ticks may move the plot's edges a little (wider labels), which asks again.
  if (reticking_) return;
  reticking_ = true;
  for (QAbstractAxis* axis : chart()->axes()) {
    if (auto* linear = qobject_cast<QValueAxis*>(axis))
      Retick(linear, linear->min(), linear->max());
  }
  reticking_ = false;
}

// The ticks of the new range go first: the axis lays out a label for every tick of the old
// interval over the new range at once, and from 0..1 to a run of 1200 ms those are thousands.
void QtGraphView::SetRange(QAbstractAxis* axis, double lo, double hi) {
  if (auto* linear = qobject_cast<QValueAxis*>(axis)) Retick(linear, lo, hi);
  axis->setRange(lo, hi);  // QVariant: either kind of axis
}

void QtGraphView::ApplyRanges(const CGraphWindow& graph) {
  applied_ = RangesOf(graph);
  SetRange(x_, applied_[0].first, applied_[0].second);
  SetRange(y1_, applied_[1].first, applied_[1].second);
  if (y2_) SetRange(y2_, applied_[2].first, applied_[2].second);
  PlaceCursorLines();
  DrawKey();
}

// --- cursors -------------------------------------------------------------------------------

void QtGraphView::SetCursor(int which, double x) {
  if (which < 0 || which > 1 || !std::isfinite(x)) return;
  cursors_[which].x = x;
  PlaceCursorLines();
  DrawKey();
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

// One row per curve: its name, then its value at each cursor that is set and, with both set,
// the difference B - A. The first row names the columns with the cursors' times.
QList<QStringList> QtGraphView::KeyRows() const {
  const QString time_unit = graph_ && graph_->GetDocument() && graph_->GetFilter() &&
                                    graph_->GetFilter()->GetCount()
                                ? QString::fromStdString(graph_->GetDocument()->GetChannelUnit(
                                      graph_->GetFilter()->GetAt(0)->x_channel))
                                : QString();
  auto value_text = [](std::optional<double> v) {
    return v ? QString::number(*v, 'g', 4) : QString("-");
  };
  const auto& a = cursors_[0].x;
  const auto& b = cursors_[1].x;
  QStringList header{""};
  if (a) header << "A: " + value_text(a) + " " + time_unit;
  if (b) header << "B: " + value_text(b) + " " + time_unit;
  if (a && b) header << "B-A: " + value_text(*b - *a) + " " + time_unit;
  QList<QStringList> rows{header};
  for (int i = 0; i < SeriesCount(); ++i) {
    QStringList row{series_[static_cast<std::size_t>(i)]->name()};
    const auto at_a = a ? ValueAt(i, *a) : std::nullopt;
    const auto at_b = b ? ValueAt(i, *b) : std::nullopt;
    if (a) row << value_text(at_a);
    if (b) row << value_text(at_b);
    if (a && b) row << value_text(at_a && at_b ? std::optional(*at_b - *at_a) : std::nullopt);
    rows << row;
  }
  return rows;
}

QString QtGraphView::CursorReadout() const {
  if (!cursors_[0].x && !cursors_[1].x) return {};
  QStringList lines;
  for (const QStringList& row : KeyRows()) lines << row.join("   ").trimmed();
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

// The key is the curves' names in their colours, wrapped to the chart's width; the plot gives
// up the room it takes. The cursors' table of values lies over the plot, in the corner where
// it hides the fewest points: set cursors leave the plot its size.
void QtGraphView::DrawKey() {
  const QList<QStringList> rows = KeyRows();
  auto swatch = [this](int r) {
    return QString("<span style='color:%1'>&#9632;</span>")
        .arg(Xy(series_[static_cast<std::size_t>(r - 1)])->color().name());
  };
  QString names = "<p>";
  for (int r = 1; r < rows.size(); ++r) {
    // A name and its swatch stay on one line; lines break between curves.
    names += swatch(r) + "&nbsp;" + rows[r].front().toHtmlEscaped().replace(" ", "&nbsp;") +
             "&nbsp;&nbsp;&nbsp; ";
  }
  names += "</p>";
  key_->setHtml(SeriesCount() ? names : QString());
  const bool table = SeriesCount() && rows.front().size() > 1;
  QString values;
  if (table) {
    values = "<table cellspacing=0 cellpadding=1>";
    for (int r = 0; r < rows.size(); ++r) {
      values += "<tr><td>" + (r ? swatch(r) + " " : QString()) + rows[r].front().toHtmlEscaped() +
                "</td>";
      for (int c = 1; c < rows[r].size(); ++c)
        values += "<td align=right>&nbsp;&nbsp;&nbsp;" + rows[r][c].toHtmlEscaped() + "</td>";
      values += "</tr>";
    }
    values += "</table>";
  }
  readout_->setHtml(values);
  readout_->adjustSize();
  readout_->setVisible(table);
  readout_frame_->setVisible(table);
  const qreal width = chart()->size().width() - 16;
  key_->setTextWidth(std::max<qreal>(width, 100));
  const qreal height = SeriesCount() ? key_->boundingRect().height() : 0;
  chart()->setMargins(QMargins(4, 4, 4, 4 + static_cast<int>(std::ceil(height))));
  key_->setPos(8, chart()->size().height() - height - 2);
  // Now, not at the next event: a picture taken straight away shows the lines at the new edge.
  if (chart()->layout()) chart()->layout()->activate();
  PlaceReadout();
}

void QtGraphView::PlaceReadout() {
  if (!readout_->isVisible()) return;
  const QRectF area = chart()->plotArea();
  const QSizeF size = readout_->document()->size();
  constexpr qreal kInset = 6;
  const QPointF corners[] = {
      {area.left() + kInset, area.top() + kInset},
      {area.right() - kInset - size.width(), area.top() + kInset},
      {area.right() - kInset - size.width(), area.bottom() - kInset - size.height()},
      {area.left() + kInset, area.bottom() - kInset - size.height()},
  };
  QPointF best = corners[0];
  qsizetype fewest = -1;
  for (const QPointF& corner : corners) {
    const QRectF covered(corner, size);
    qsizetype hidden = 0;
    for (QAbstractSeries* series : series_) {
      for (const QPointF& p : Xy(series)->points())
        hidden += covered.contains(chart()->mapToPosition(p, series));
    }
    if (fewest < 0 || hidden < fewest) {
      fewest = hidden;
      best = corner;
    }
  }
  readout_->setPos(best);
  readout_frame_->setRect(QRectF(best, size));
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
  DrawKey();
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
    DrawKey();
  }
  if (chosen == save) {
    const QString path = QFileDialog::getSaveFileName(
        this, "Save plot as", "plot.png", "Pictures (*.png);;Drawings (*.svg);;Data (*.csv)");
    if (!path.isEmpty()) Export(path);
  }
}

std::optional<std::pair<double, double>> QtGraphView::ShownRange(int axis) const {
  const QAbstractAxis* shown = axis == 0 ? x_ : axis == 1 ? y1_ : y2_;
  if (!shown) return std::nullopt;
  return AxisRange(shown);
}

QList<QPointF> QtGraphView::Points(int series) const {
  return series >= 0 && series < SeriesCount()
             ? Xy(series_[static_cast<std::size_t>(series)])->points()
             : QList<QPointF>();
}

int QtGraphView::PointCount(int series) const {
  return series >= 0 && series < SeriesCount()
             ? static_cast<int>(Xy(series_[static_cast<std::size_t>(series)])->count())
             : 0;
}
