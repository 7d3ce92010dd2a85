#include "derive/plausibility.h"

#include <cstdio>
#include <vector>

#include "derive/probes.h"
#include "derive/step.h"
#include "host/zel_errors.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

std::string Shown(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// The drive would never give the motor the peak current its protections and tuning count
// on.
void CheckPeakCurrent(CZel_Setup& setup, std::vector<std::string>& found) {
  auto p = FindOptionalParameters(setup, param::ImaxM, param::ImaxPS);
  if (!p) return;
  auto [motor, drive] = *p;
  if (motor->GetValueInBaseUnit() <= drive->GetValueInBaseUnit()) return;
  found.push_back("the motor's peak current " + Shown(motor->GetValueInBaseUnit()) +
                  " A exceeds the drive's " + Shown(drive->GetValueInBaseUnit()) +
                  " A: choose a drive for this motor or set ImaxM to at most the drive's");
}

// The total inertia includes the motor's; a smaller one makes the load's share negative and
// every speed gain too low.
void CheckInertia(CZel_Setup& setup, std::vector<std::string>& found) {
  if (IsMotorInertiaUnknown(setup)) return;
  auto p = FindOptionalParameters(setup, param::Jm, param::Jt);
  if (!p) return;
  auto [motor, total] = *p;
  if (motor->GetValueInBaseUnit() <= total->GetValueInBaseUnit()) return;
  found.push_back("the motor's inertia " + Shown(motor->GetValueInBaseUnit()) +
                  " kgm^2 exceeds the total inertia " + Shown(total->GetValueInBaseUnit()) +
                  " kgm^2 (motor and load): raise Jt to at least the motor's, or mark the "
                  "motor inertia unknown (isMotorInertiaUnknown=1)");
}

// The speed tuning counts the load in multiples of the motor's inertia up to the top of
// Jload_over_J's range. A total inertia far above a small motor's is most often the one of the
// motor and load before it, which the new motor does not drive.
void CheckLoadRatio(CZel_Setup& setup, std::vector<std::string>& found) {
  auto p = FindOptionalParameters(setup, param::Jm, param::Jt, param::Jload_over_J);
  if (!p) return;
  auto [motor, total, ratio] = *p;
  const double jm = motor->GetValueInBaseUnit(), jt = total->GetValueInBaseUnit();
  const double most = ratio->GetMaxInBaseUnit();
  if (!(jm > 0.0) || jt / jm - 1.0 <= most) return;
  found.push_back("the total inertia " + Shown(jt) + " kgm^2 is " + Shown(jt / jm) +
                  " times the motor's inertia " + Shown(jm) +
                  " kgm^2, and the tuning takes a load of at most " + Shown(most) +
                  " times the motor's: set Jt to the motor and load's total inertia, at most " +
                  Shown((most + 1.0) * jm) + " kgm^2 (`dcservo test inertia` measures it)");
}

}  // namespace

std::string ImplausibleMotorData(CZel_Setup& setup) {
  std::vector<std::string> found;
  CheckPeakCurrent(setup, found);
  CheckInertia(setup, found);
  CheckLoadRatio(setup, found);
  std::string joined;
  for (const std::string& why : found) joined += (joined.empty() ? "" : "; ") + why;
  return joined;
}

}  // namespace dcservo
