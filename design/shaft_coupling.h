#pragma once
// The compliant shaft of a two-mass drive: what a measurement identified of it, which of those
// a model can take, and the measurement's lifetime beside the setup it belongs to.

#include <optional>

#include "host/zel_setup.h"

namespace dcservo {

// A compliant shaft between the motor (where the encoder sits) and its load, as a measurement
// identified it (design/two_mass_fit.h): the load's share of J, the free-free resonance
// (both masses swinging against each other) and its damping ratio. The stiffness and damping
// follow from them and J, so a model at another J keeps the shaft's resonance.
struct ShaftCoupling {
  double load_share = 0.0;  // 0 < share < 1
  double resonance_hz = 0.0;
  double damping_ratio = 0.0;
  bool operator==(const ShaftCoupling&) const = default;
};

// Whether a model can take the coupling: a share strictly between 0 and 1, a finite resonance
// above 0 and a finite damping ratio not below 0. A model without one is one rigid mass.
bool UsableCoupling(const std::optional<ShaftCoupling>& coupling);

// While it lives, every model built from `setup` (DriveModelOf) carries the coupling that a
// measurement of that drive identified, so that the margins, the predictions and the tuner's
// proposal see the shaft that was measured. The setup file has no place for a measurement:
// the scope lasts as long as the work that measured it (a commissioning, a tune from a
// measurement file). Scopes nest; the inner one holds while it lives.
class MeasuredCouplingScope {
 public:
  MeasuredCouplingScope(const CZel_Setup& setup, const ShaftCoupling& coupling);
  ~MeasuredCouplingScope();
  MeasuredCouplingScope(const MeasuredCouplingScope&) = delete;
  MeasuredCouplingScope& operator=(const MeasuredCouplingScope&) = delete;

 private:
  const CZel_Setup* setup_;
};

// The coupling of the innermost scope that lives for `setup`; none outside every scope.
std::optional<ShaftCoupling> MeasuredCouplingOf(const CZel_Setup& setup);

}  // namespace dcservo
