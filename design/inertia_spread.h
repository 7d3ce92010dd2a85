#pragma once
// How a loop holds when the identified inertia is wrong: its margins with the same gains at
// a half and at twice the inertia, the spread that an inertia test with friction, a load
// changed since, or a coupling seen from one side may leave. The worst of them is told beside
// the nominal margins, and warned of where it falls under the limits that refuse a tuning.

#include <optional>
#include <string>
#include <vector>

#include "design/drive_model.h"

namespace dcservo {

inline constexpr double kInertiaSpreadFactors[] = {0.5, 2.0};

struct InertiaCase {
  double factor = 1.0;  // of the model's inertia
  LoopMargins margins;
};

struct InertiaSpreadMargins {
  std::vector<InertiaCase> cases;
  // Each worst figure with the inertia factor it was found at.
  bool stable = true;
  double pole_radius = 0.0, pole_factor = 1.0;
  std::optional<double> phase_margin_deg, gain_margin_db;
  double phase_factor = 1.0, gain_factor = 1.0;
};

// Nothing for the current loop (the inertia is no part of it) and where the model cannot
// lift the loop.
std::optional<InertiaSpreadMargins> MarginsOverInertia(const DriveModel& model,
                                                       ModelStructure structure, TunedLoop loop);

// "at 0.5 to 2 x Jt: phase margin 31.2 deg (at 2 x Jt), gain margin 7.9 dB (at 0.5 x Jt)"
std::string InertiaSpreadText(const InertiaSpreadMargins& spread);

// A warning where the worst case falls under the refusal limits (or is unstable); empty else.
std::string InertiaSpreadWarning(const InertiaSpreadMargins& spread);

}  // namespace dcservo
