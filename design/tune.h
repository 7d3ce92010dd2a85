#pragma once
// The Tune action of the tuning tests, one function per loop, shared by the test dialogs
// and the command line: design the gains, derive their chip pairs, derive the scaled gains
// back so that they show what the drive will really use, and report what the fixed-point
// encoding did to them.

#include <complex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "design/drive_model.h"
#include "design/inertia_spread.h"
#include "design/loop_response.h"
#include "design/speed_proposal.h"
#include "design/speed_ripple.h"
#include "host/zel_setup.h"

namespace dcservo {

struct TunedGain {
  std::string name;      // "Kp_C_scl"
  std::string mantissa;  // "KPI"
  std::string shift;     // "SFTKPI"
  double designed = 0.0;   // as the design computed it
  double stored = 0.0;     // as its chip pair gives it back
  double mantissa_value = 0.0;
  double shift_value = 0.0;
  std::vector<std::string> warnings;
  // Negative, turned into 0 by the encoding, or saturated: the drive would not run the
  // loop that was designed.
  bool unusable = false;
};

// The loop as the drive closes it, from the loop model: poles, bandwidth and margins.
using ClosedLoopSummary = LoopMargins;

struct LoopTuneReport {
  TunedLoop loop = TunedLoop::Current;
  std::string pass_band_name, damping_name;
  double pass_band_rad_s = 0.0;
  double damping = 0.0;
  double sampling_period_s = 0.0;
  std::vector<TunedGain> gains;  // in the order Kp, Ki[, Kd]
  // With the stored gains, and with the designed ones for comparison; absent when the
  // setup lacks what the plant model needs.
  std::optional<ClosedLoopSummary> stored_loop, designed_loop;
  // The stored gains without the biquad filters, to tell what made a loop unstable.
  std::optional<ClosedLoopSummary> unfiltered_loop;
  // The stored gains at a half and twice the inertia: how far a wrong Jt takes the margins.
  std::optional<InertiaSpreadMargins> inertia_spread;
  // The position loop over the speed loop: the speed loop as it is closed under it.
  std::optional<ClosedLoopSummary> inner_loop;
  // The speed loop: what one count of its speed measurement does to the current reference
  // with the stored gains.
  std::optional<SpeedRippleRule> ripple;
  // The speed loop: the band, feedback low pass and feedforward that keep the ripple and the
  // margins (the stored gains' band when they already do).
  std::optional<SpeedLoopProposal> proposal;
  std::vector<std::string> warnings;  // about the loop as a whole
  // Margins or stability that forbid keeping the gains.
  std::vector<std::string> loop_failures;
};

// The position loop over a speed loop that is unstable or slower than it: that cause, with
// its remedy; empty otherwise.
std::string SlowInnerLoopText(const LoopMargins& inner_loop, const LoopMargins& outer_loop,
                              double pass_band_rad_s, const std::string& pass_band_name);

// Why the tuned gains must not be kept (a gain that is unusable, a loop that the stored
// gains make unstable); empty when they may.
std::vector<std::string> TuneFailures(const LoopTuneReport& report);

// 1 when the gains were designed and their chip pairs and scaled values derived; 0 when a
// parameter is missing (nothing is written then) or a derivation step failed. The report,
// when asked for, is filled whenever the design ran.
int TuneCurrentController(CZel_Setup& setup, LoopTuneReport* report = nullptr);
int TuneSpeedController(CZel_Setup& setup, LoopTuneReport* report = nullptr);
int TunePositionController(CZel_Setup& setup, LoopTuneReport* report = nullptr);
int TuneController(CZel_Setup& setup, TunedLoop loop, LoopTuneReport* report = nullptr);

// A relative change by the encoding above this is reported.
inline constexpr double kCoarseGainTolerance = 0.01;

}  // namespace dcservo
