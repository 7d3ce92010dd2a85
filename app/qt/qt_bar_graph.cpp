#include "app/qt/qt_bar_graph.h"

#include <QPainter>
#include <algorithm>
#include <cstdio>

namespace {

QString Formatted(const std::string& format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format.c_str(), value);
  return QString::fromUtf8(text);
}

}  // namespace

QtBarGraph::QtBarGraph(QWidget* parent) : QWidget(parent) {
  setMinimumSize(240, 44);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void QtBarGraph::SetState(const ZelIndicatorState& state) {
  state_ = state;
  update();
}

void QtBarGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QFontMetrics fm = fontMetrics();
  const QRectF track(4, 2, width() - 8, height() - fm.height() - 6);
  p.setPen(palette().mid().color());
  p.setBrush(palette().base());
  p.drawRect(track);

  const double lo = state_.lo, hi = state_.hi;
  const double span = hi - lo;
  // A bar without a range stands at its left end.
  auto x_of = [&](double v) {
    const double t = span > 0.0 ? std::clamp((v - lo) / span, 0.0, 1.0) : 0.0;
    return track.left() + t * track.width();
  };
  const double from = x_of(state_.reference), to = x_of(state_.value);
  const unsigned c = state_.colour;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
  p.drawRect(QRectF(std::min(from, to), track.top() + 1, std::abs(to - from), track.height() - 1));
  p.setPen(palette().windowText().color());
  p.drawLine(QPointF(from, track.top()), QPointF(from, track.bottom()));

  const double text_y = height() - 2;
  p.drawText(QPointF(track.left(), text_y), Formatted(state_.format, lo));
  const QString value = Formatted(state_.format, state_.value);
  p.drawText(QPointF(track.center().x() - fm.horizontalAdvance(value) / 2.0, text_y), value);
  const QString high = Formatted(state_.format, hi);
  p.drawText(QPointF(track.right() - fm.horizontalAdvance(high), text_y), high);
}
