#pragma once
// The bar graph on screen: a horizontal bar between its limits that grows from the
// reference to the value, in the bar's colour, with the limits and the value written in the
// bar's number format.

#include <QWidget>

#include "host/zel_dialog.h"

class QtBarGraph : public QWidget {
 public:
  explicit QtBarGraph(QWidget* parent);
  void SetState(const ZelIndicatorState& state);
  QSize sizeHint() const override { return {300, 44}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ZelIndicatorState state_;
};
