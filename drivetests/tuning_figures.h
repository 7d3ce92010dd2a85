#pragma once
// What a tuning run says about the loop, in figures: per cycle of the reference, the tracking
// error (peak and RMS), the overshoot past the final value and the settling after the end of
// each ramp; and the same figures for the response that the designed loop predicts, with the
// gains as the drive stores them, so that the user sees whether the drive does what the
// design promised and whether a change of gains between cycles helped.

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "design/loop_response.h"
#include "design/inertia_spread.h"
#include "design/resonance.h"
#include "drivetests/identification.h"
#include "drivetests/reference_profile.h"
#include "drivetests/run_health.h"

namespace dcservo {

// A response settles once it stays within this share of the final value of the reference.
// Where the measurement's steps are coarser than that (a speed read as counts per sample),
// the response is averaged over as many samples as bring one and a half steps within the
// band, so that the band means something: the same for the measured and the predicted one.
inline constexpr double kSettlingBand = 0.02;
inline constexpr double kSettlingQuanta = 1.5;
// The average spans at most this share of a hold: beyond it the settling would be smeared.
inline constexpr double kSettlingAverageShareOfHold = 0.1;

struct CycleFigures {
  int cycle = 0;  // from 1
  double peak_error = 0.0;  // largest |reference - response|, base units
  double rms_error = 0.0;
  double reference_rms = 0.0;  // RMS of the reference's departure from rest
  double overshoot_percent = 0.0;  // past the final value, as a share of it
  // After the end of the first and of the second ramp; NaN when it never settles in the hold.
  double settling_s[2] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::quiet_NaN()};
  // RMS of the measured response less the predicted one; when the run can be set against it.
  std::optional<double> deviation_rms;
  // The settling band (shown unit) and over how many samples the response was averaged.
  double settling_band = 0.0;
  int settling_average = 1;
  // On line: the scope's sample period, which no settling shorter than it can be timed by
  // (the ramp's end itself falls between two samples). 0 for the log, whose figures stand as
  // measured.
  double settling_resolution_s = 0.0;
};

// A settling within the first sample after its ramp on line: shorter than the samples can
// time, and under this bound (s). Nothing where the figure stands as measured. `ramp` 0 or 1.
std::optional<double> SettlingBound(const CycleFigures& f, int ramp);

// A recording of one cycle: time in s, reference and response in one base unit.
struct CycleTrace {
  std::vector<double> time, reference, response;
  // Predicted traces only: where the current reference sits at its limit.
  std::vector<bool> current_saturated;
};

// `quantum`: one step of the measurement, base units.
CycleFigures FiguresOfCycle(const CycleTrace& trace, double final_value, double quantum = 0.0);

// The predicted response at `time_s` from the start of the run, linear between samples.
double PredictedAt(const CycleTrace& prediction, double time_s);

// PredictedAt for a log's times, which rise from sample to sample: each look goes on from the
// samples of the last instead of searching the whole prediction again (a time earlier than
// the last searches). The same values as PredictedAt. Holds `prediction` by reference.
class PredictionReader {
 public:
  explicit PredictionReader(const CycleTrace& prediction) : p_(prediction) {}
  double At(double time_s);

 private:
  const CycleTrace& p_;
  std::size_t hi_ = 1;  // the sample after the last look's time
};
// RMS of the measured response less the predicted one over the measured samples that the
// prediction covers; nothing when none does.
std::optional<double> DeviationFromPrediction(const CycleTrace& measured,
                                              const CycleTrace& prediction);

// The reference as the program steps through the profile, one value per slow-loop sample,
// internal units.
std::vector<double> ProfileReference(const ReferenceProfile& profile);
// The figures of a run are in the unit the setup shows its quantity in (rpm, say, where the
// traces and the prediction stay in base units): the errors, `final_value` and `quantum`.
struct TuningRunFigures {
  std::string unit;  // of the errors
  double per_base = 1.0;  // `unit`s in one base unit
  double final_value = 0.0;
  double quantum = 0.0;
  std::vector<CycleFigures> cycles;
  // The cycles come from the scope's sweeps: the run recorded no log.
  bool on_line = false;
  std::optional<CycleFigures> predicted;
  CycleTrace prediction;
  // How long the predicted run holds the current reference at its limit: a profile that
  // asks for more acceleration than the limit allows.
  double predicted_saturation_s = 0.0;  // base units, for drawing over the measured response
  // The current at constant speed (the speed test), and the motor's rated current it is
  // judged against.
  std::optional<CurrentRipple> ripple;
  double rated_A = 0.0;
  // The largest mean current over a stretch of constant speed (the speed test).
  double held_current_A = 0.0;
  // The current reference's spectrum at constant speed and the resonance it shows (the speed
  // test, logged at the loop's rate).
  std::optional<Spectrum> current_spectrum;
  std::optional<Resonance> resonance;
  // The loop model's margins with the gains that ran, and at a half and twice the inertia.
  std::optional<LoopMargins> margins;
  std::optional<InertiaSpreadMargins> inertia_spread;
  // The position loop over a speed loop: why it cannot be as quick as its pass band asks;
  // empty when it can.
  std::string slow_inner_loop;
  // What the run drew from the motor's current, where the log holds it.
  std::optional<RunCurrent> current;
  // An oscillation that grows, or goes on at standstill, in the log; empty when none.
  std::string oscillation;
};

// The predicted trace and figures of the setup's loop on this profile; nothing when the
// loop cannot be modelled or runs at another period than the profile.
std::optional<CycleTrace> PredictedTrace(CZel_Setup& setup, TunedLoop loop,
                                         const ProfileNames& names);

// The figures of a trace in base units, in the run's shown unit; `prediction` (base units
// too) gives the deviation from it when it covers the trace.
CycleFigures ShownFiguresOfCycle(const CycleTrace& trace, const TuningRunFigures& run,
                                 const CycleTrace* prediction = nullptr);

// One line per cycle and the prediction, as the dialog lists them.
std::string FiguresText(const TuningRunFigures& figures);

}  // namespace dcservo
