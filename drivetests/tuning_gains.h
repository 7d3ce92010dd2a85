#pragma once
// The gains on the tuning tests' "Test" page: the chip registers that each becomes, derived
// when the user changes it and written through to the drive while a run goes on, the span of
// its slider, and the inertia the loop is designed for, typed either as the total or as the
// load's ratio to the motor's.

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "derive/gains.h"

class CZel_Setup;

namespace dcservo {

// The chip parameters that follow a changed gain, in the order they are derived and sent.
struct GainChipRow {
  const char* scaled;
  std::vector<const char*> chip;
  bool needs_known_motor_inertia;
};

// The gains that the test of this loop edits and writes through during a run.
std::span<const GainChipRow> TuningGainRows(TunedLoop loop);

// Derives the registers of the gain `name` after the user changed it; nothing for a name
// that is no gain of the test, and nothing for the acceleration feedforward while the
// motor's inertia is unknown.
void DeriveGainRegisters(CZel_Setup& setup, TunedLoop loop, const std::string& name,
                         bool motor_inertia_known);
// Sends the registers of the gain `name` to the drive, up to the first that fails.
void WriteGainRegisters(CZel_Setup& setup, TunedLoop loop, const std::string& name);
// Sends every gain register of the loop, as a tuning left them, up to the first that fails.
void WriteLoopGains(CZel_Setup& setup, TunedLoop loop);
// The test's gains as a run's report lists them: the scaled gains first, then the chip
// registers they become, each once, with their base values; a gain that the setup lacks
// (a drive without feedforward) is left out.
std::vector<std::pair<const char*, double>> ReportedGains(const CZel_Setup& setup,
                                                          TunedLoop loop);

// The span of a gain's slider: half to one and a half times its value within its range, or
// its whole range for a gain of 0; nothing for a parameter that the setup lacks.
std::optional<std::pair<double, double>> GainSliderRange(const CZel_Setup& setup,
                                                         const char* name);

// The ratio follows a changed total inertia, and the total a changed ratio; false (and
// nothing changed) without a known, positive motor inertia.
bool FollowTotalInertia(CZel_Setup& setup, bool motor_inertia_known);
bool FollowInertiaRatio(CZel_Setup& setup, bool motor_inertia_known);

}  // namespace dcservo
