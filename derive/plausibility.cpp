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
  auto p = FindParameters(setup, param::ImaxM, param::ImaxPS);
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
  auto p = FindParameters(setup, param::Jm, param::Jt);
  if (!p) return;
  auto [motor, total] = *p;
  if (motor->GetValueInBaseUnit() <= total->GetValueInBaseUnit()) return;
  found.push_back("the motor's inertia " + Shown(motor->GetValueInBaseUnit()) +
                  " kgm^2 exceeds the total inertia " + Shown(total->GetValueInBaseUnit()) +
                  " kgm^2 (motor and load): raise Jt to at least the motor's, or mark the "
                  "motor inertia unknown (isMotorInertiaUnknown=1)");
}

}  // namespace

std::string ImplausibleMotorData(CZel_Setup& setup) {
  ZelQuietErrors quiet;
  std::vector<std::string> found;
  CheckPeakCurrent(setup, found);
  CheckInertia(setup, found);
  std::string joined;
  for (const std::string& why : found) joined += (joined.empty() ? "" : "; ") + why;
  return joined;
}

}  // namespace dcservo
