#pragma once
// The host's two live indicators, each attached to a control of its kind in a dialog's
// template: CEncoderDiagram, an encoder disc whose marks turn with the shaft, and CBarGraph,
// a bar between two limits that grows from a reference to its value. They keep what they
// show in the control's state, so every front end draws the same picture.

#include <string>

#include "host/zel_dialog.h"

class CEncoderDiagram {
 public:
  // Attaches to the EncoderDiagram control `id` of `parent`; false when there is none.
  bool SubclassDlgItem(int id, CZel_Dialog* parent);
  void EnableDiagram();
  // The disc's angle in radians; one turn of the shaft is 2 pi.
  void SetAngle(double angle_rad);
  double GetAngle() const { return state_.angle_rad; }

 private:
  void Repaint();
  CZel_Dialog* dialog_ = nullptr;
  int id_ = 0;
  ZelIndicatorState state_;
};

class CBarGraph {
 public:
  // Attaches to the BarGraph control `id` of `parent`; false when there is none.
  bool SubclassDlgItem(int id, CZel_Dialog* parent);
  void SetLimits(double lo, double hi);
  void SetValue(double value);
  void SetReference(double reference);
  void SetColour(unsigned rgb);  // 0xRRGGBB
  void SetNumberFormat(const std::string& format);
  void Repaint();
  const ZelIndicatorState& State() const { return state_; }

 private:
  CZel_Dialog* dialog_ = nullptr;
  int id_ = 0;
  ZelIndicatorState state_;
};
