#include "app/qt/qt_encoder_diagram.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {
constexpr int kSlots = 24;  // drawn, not the encoder's lines: enough to see the disc turn
}

QtEncoderDiagram::QtEncoderDiagram(QWidget* parent) : QWidget(parent) {
  setMinimumSize(120, 120);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QtEncoderDiagram::SetState(const ZelIndicatorState& state) {
  state_ = state;
  update();
}

void QtEncoderDiagram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const double side = std::min(width(), height()) - 8.0;
  const double r = side / 2.0;
  p.translate(width() / 2.0, height() / 2.0);
  const QColor disc = state_.active ? QColor(70, 110, 170) : QColor(170, 170, 170);
  p.setPen(QPen(palette().windowText().color(), 1.2));
  p.setBrush(disc);
  p.drawEllipse(QPointF(0, 0), r, r);
  // Counter-clockwise for a growing count, as the angle is measured.
  p.rotate(-qRadiansToDegrees(state_.angle_rad));
  p.setBrush(palette().window().color());
  p.setPen(Qt::NoPen);
  for (int i = 0; i < kSlots; ++i) {
    p.save();
    p.rotate(360.0 * i / kSlots);
    p.drawRect(QRectF(0.70 * r, -0.04 * r, 0.22 * r, 0.08 * r));
    p.restore();
  }
  // The index mark and the hub.
  p.setBrush(QColor(220, 60, 40));
  p.drawRect(QRectF(0.12 * r, -0.05 * r, 0.55 * r, 0.10 * r));
  p.setBrush(palette().window().color());
  p.setPen(QPen(palette().windowText().color(), 1.0));
  p.drawEllipse(QPointF(0, 0), 0.12 * r, 0.12 * r);
}
