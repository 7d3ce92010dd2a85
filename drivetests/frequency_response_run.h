#pragma once
// A frequency response measured on the attached drive: its frequency response program run
// once per frequency of a stepped sine, each run logged at the fast loop's rate (or as much
// slower as the log memory needs to hold the run while keeping a few points per period).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "design/frequency_response.h"
#include "design/two_mass_fit.h"
#include "drivetests/identification.h"

namespace dcservo {

// The program's own variable: the sine it adds to the current reference.
inline constexpr const char* kInjectionVariable = "Current_Injection";
inline constexpr const char* kNoFrequencyResponseProgram =
    "this drive's firmware has no frequency response program";

// The steady turn under the sine: about a turn a second.
inline constexpr double kExcitationTurn_rad_s = 6.0;
// While the plant is measured the speed loop's gains are divided by 2^this, so that the loop
// takes little of the excitation.
inline constexpr int kPlantSpeedGainShift = 3;
// Most frequencies of one sweep.
inline constexpr int kMostFrequencyPoints = 200;

struct FrequencyRunRequest {
  std::vector<double> frequency_hz;
  double amplitude_A = 0.0;
  // The speed loop's gains are divided by 2^shift while the sine runs: 0 measures the loop
  // as it is tuned, more holds the shaft on a softer pass band while the plant is measured.
  int speed_gain_shift = 0;
  // The steady turn the speed loop holds meanwhile, in its counts per sample.
  double speed_counts = 0.0;
  double protection_A = 0.0;  // the run's own over-current level; 0: none
};

struct FrequencyRunResult {
  std::vector<ExcitationLog> logs;
  std::string error;  // empty when every frequency ran
  // The frequency whose run the drive stopped (a protection, a refusal), as far as the drive
  // logged it: the record of a failure shows what led to it.
  std::optional<ExcitationLog> stopped;
  // The user stopped the sweep: the drive's program was stopped and `logs` holds the
  // frequencies that ran to their end before it; not an error.
  bool cut_short = false;
};

// The drive's loop timing and log memory, which decide how each frequency is run and logged.
struct ExcitationTiming {
  double fast_period_s = 0.0;
  int fast_per_slow = 1;    // fast-loop samples to one of the speed loop
  int log_words = 16384;    // the drive's log memory
};

// How one frequency runs: the frequency as the drive's variable holds it, the sine's periods
// (the first SettleTime only settle), and the log's divider and points.
struct ExcitationPlan {
  double frequency_hz = 0.0;
  int periods = 0;
  int divider = 1;
  int points = 0;
  double Duration(const ExcitationTiming& timing) const {
    return periods / frequency_hz + 2.0 * timing.fast_period_s;
  }
};
ExcitationPlan PlanExcitation(double frequency_hz, const ExcitationTiming& timing);

// `wait(seconds)` lets the drive's time pass; `progress(done, total)` is told after each
// frequency; `stop_asked()`, asked while the drive runs and before each frequency, ends the
// sweep when true. Refused before anything runs when the drive lacks the program.
FrequencyRunResult RunFrequencyResponse(const FrequencyRunRequest& request,
                                        const CountScales& scales, const ExcitationTiming& timing,
                                        const std::function<void(double)>& wait,
                                        const std::function<void(int, int)>& progress = {},
                                        const std::function<bool()>& stop_asked = {});

// A whole measurement on the attached drive, as `test frequency` takes it and commissioning or
// a dialog may: the sweep run, each log analysed into its Bode points, and the loop model's
// curves at the frequencies that ran.
struct FrequencyMeasurementRun {
  std::vector<double> frequency_hz;
  BodeCurves measured, model;
  std::string error;  // empty when every frequency ran and was analysed
  std::optional<ExcitationLog> stopped;  // as FrequencyRunResult's
  bool cut_short = false;  // stopped by the user: the frequencies done before it
};
FrequencyMeasurementRun MeasureFrequencyResponse(const DriveModel& model,
                                                 const FrequencyRunRequest& request,
                                                 int log_words,
                                                 const std::function<void(double)>& wait,
                                                 const std::function<void(int, int)>& progress = {},
                                                 const std::function<bool()>& stop_asked = {});

// The highest frequency the drive's fast loop measures, Hz, and the largest sine it can
// inject, A (the current reference's saturation).
double HighestMeasurableFrequency(const DriveModel& model);
double LargestExcitation(const DriveModel& model);

// What the measured plant identified, each in its base unit with its confidence: the total
// inertia, and for a coupling the two inertias, the shaft's stiffness and damping and the
// resonance and anti-resonance.
std::vector<IdentifiedValue> PlantValues(const PlantIdentification& plant);

}  // namespace dcservo
