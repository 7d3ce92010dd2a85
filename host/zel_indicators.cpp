#include "host/zel_indicators.h"

namespace {

bool Attach(int id, CZel_Dialog* parent, ZelControlKind kind, CZel_Dialog*& dialog, int& to) {
  const ZelControlDef* def = parent ? parent->GetControlDef(id) : nullptr;
  if (!def || def->kind != kind) return false;
  dialog = parent;
  to = id;
  return true;
}

}  // namespace

bool CEncoderDiagram::SubclassDlgItem(int id, CZel_Dialog* parent) {
  return Attach(id, parent, ZelControlKind::EncoderDiagram, dialog_, id_);
}

void CEncoderDiagram::EnableDiagram() {
  state_.active = true;
  Repaint();
}

void CEncoderDiagram::SetAngle(double angle_rad) {
  state_.angle_rad = angle_rad;
  Repaint();
}

void CEncoderDiagram::Repaint() {
  if (dialog_) dialog_->SetIndicator(id_, state_);
}

bool CBarGraph::SubclassDlgItem(int id, CZel_Dialog* parent) {
  return Attach(id, parent, ZelControlKind::BarGraph, dialog_, id_);
}

void CBarGraph::SetLimits(double lo, double hi) {
  state_.lo = lo;
  state_.hi = hi;
}

void CBarGraph::SetValue(double value) { state_.value = value; }
void CBarGraph::SetReference(double reference) { state_.reference = reference; }
void CBarGraph::SetColour(unsigned rgb) { state_.colour = rgb; }
void CBarGraph::SetNumberFormat(const std::string& format) { state_.format = format; }

void CBarGraph::Repaint() {
  if (dialog_) dialog_->SetIndicator(id_, state_);
}
