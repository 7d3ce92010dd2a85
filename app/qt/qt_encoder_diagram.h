#pragma once
// The encoder diagram on screen: a disc with its slots and an index mark that turn with the
// shaft's angle, grey while the diagram is not enabled.

#include <QWidget>

#include "host/zel_dialog.h"

class QtEncoderDiagram : public QWidget {
 public:
  explicit QtEncoderDiagram(QWidget* parent);
  void SetState(const ZelIndicatorState& state);
  QSize sizeHint() const override { return {140, 140}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ZelIndicatorState state_;
};
