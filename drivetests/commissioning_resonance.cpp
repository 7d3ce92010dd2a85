#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "derive/biquad_slots.h"
#include "derive/pipelines.h"
#include "design/last_speed_run.h"
#include "design/notch_placement.h"
#include "drivetests/commissioning_step_run.h"
#include "drivetests/notch_plot.h"
#include "drivetests/reference_profile.h"
#include "drivetests/tuning_graphs.h"
#include "host/zel_errors.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo::commissioning {

namespace {

// "a resonance at 803 Hz (34.2 dB over the spectrum's floor, ringing at 0.46 A RMS, loop
// gain 2.1 dB)"
std::string ResonanceText(const Resonance& r) {
  char text[200];
  std::snprintf(text, sizeof text,
                "a resonance at %.0f Hz (%.1f dB over the spectrum's floor, ringing at %.3g A "
                "RMS, loop gain %.1f dB)",
                r.frequency_hz, r.peak_db, r.ring_A, r.loop_gain_db);
  return text;
}

// A hold that gives the spectrum fewer than this many samples leaves it a segment or two
// once the loop has settled from the ramp: too few to average.
constexpr long long kShortestLookHold = 3 * static_cast<long long>(kSpectrumSegment);

// TPS and TNS, alike and no longer than the setup's, for a speed profile whose every sample
// the tuning test's log holds; nothing when the ramps leave too short a hold.
std::optional<double> HoldAtLoopRate(CZel_Setup& setup) {
  const std::optional<ProfileInputs> in = ProfileInputsOf(setup, kSpeedProfileNames);
  if (!in) return std::nullopt;
  auto samples = [&](double hold_s) {
    ProfileInputs p = *in;
    p.hold_s = p.end_s = hold_s;
    long long n = 0;
    for (const ProfileSegment& segment : BuildReferenceProfile(p)) n += segment.count;
    return n;
  };
  // Both holds count once a way, twice in a profile that runs both ways.
  const long long ramps = samples(0.0);
  const double per_second = static_cast<double>(samples(1.0) - ramps);
  if (!(per_second > 0.0)) return std::nullopt;
  const double fits = static_cast<double>(kTuningLogPoints - ramps) / per_second;
  double hold = std::floor(std::min({in->hold_s, in->end_s, fits}) / in->period_s) * in->period_s;
  while (hold > 0.0 && samples(hold) > kTuningLogPoints) hold -= in->period_s;
  if (hold < static_cast<double>(kShortestLookHold) * in->period_s) return std::nullopt;
  return hold;
}

void SwitchOffSpeedFeedbackFilters(CZel_Setup& setup) {
  // A drive without the filters has none to switch off: no report.
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    CZel_Parameter* on = setup.FindOptionalParameter("BQFilter" + std::to_string(i));
    const CZel_Parameter* place = setup.FindOptionalParameter("BQFilterLocation" + std::to_string(i));
    if (on && place && place->GetValueInBaseUnit() == kPlaceSpeedFeedback) on->SetValueInBaseUnit(0.0);
  }
}

}  // namespace

// The look for a resonance (ResonanceRun) on the setup as it stands, a notch included, at the
// pass band `asked_rad_s`; the setup is put back after and the motor left at rest.
ResonanceRun LookForResonance(const CommissioningStep& step, CZel_Setup& setup,
                              ZelHeadlessBackend& ui, double asked_rad_s) {
  ResonanceRun look;
  const std::optional<double> hold = HoldAtLoopRate(setup);
  if (!hold) return look;
  look.hold_s = *hold;
  look.pass_band_rad_s = asked_rad_s;
  const SetupSnapshot kept(setup);
  SwitchOffSpeedFeedbackFilters(setup);
  {
    // A band outside the setup's range keeps the one there.
    if (CZel_Parameter* band = setup.FindOptionalParameter(param::PB_S))
      band->SetValueInBaseUnit(asked_rad_s);
  }
  setup.SetParameterValueInBaseUnit(param::TPS, *hold);
  setup.SetParameterValueInBaseUnit(param::TNS, *hold);
  RetuneAndDownload(setup);
  const StepOutcome run = RunStep(step, setup, ui);
  look.current_spectrum = run.current_spectrum;
  look.resonance = run.resonance;
  kept.Restore(setup);
  ComputeChipParameters(setup);
  DownloadSetup(setup);
  look.not_at_rest = WaitForRest(setup, ui);
  return look;
}

// "to look for a resonance the speed test ran once more before the step, ...: none stood out"
std::string LookNote(const ResonanceRun& look) {
  if (look.hold_s == 0.0)
    return "no look for a resonance: the profile's ramps leave too short a hold in the "
           "tuning test's log at the speed loop's rate";
  char text[320];
  std::snprintf(text, sizeof text,
                "to look for a resonance the speed test ran once more before the step, logged "
                "at the speed loop's rate with TPS and TNS %.3g s, no low pass on the speed "
                "feedback and PB_S %.3g rad/s: ",
                look.hold_s, look.pass_band_rad_s);
  if (!look.resonance) return text + std::string("none stood out");
  return text + std::string("it showed ") + ResonanceText(*look.resonance) +
         (look.resonance->limits_loop ? ", which limits the speed loop"
                                      : ", which does not limit the speed loop");
}

namespace {

NotchRun NotchRunOf(const StepOutcome& without, const NotchPlacement& placed,
                    const ResonanceRun& look_with, const CZel_Setup& setup) {
  const ResonanceRun& look = *without.resonance_run;
  NotchRun n;
  n.resonance = *look.resonance;
  n.proposal = *placed.proposal;
  n.filter = placed.filter;
  n.spectrum_before = *look.current_spectrum;
  n.spectrum_with = look_with.current_spectrum;
  const double hz = n.resonance.frequency_hz;
  n.ripple_before_A = AmplitudeNear(n.spectrum_before, hz);
  n.ripple_after_A = n.spectrum_with ? AmplitudeNear(*n.spectrum_with, hz)
                                     : std::numeric_limits<double>::quiet_NaN();
  n.succeeded_before = without.succeeded;
  n.failure_before = without.failure;
  n.tracking_before = without.tracking;
  if (n.spectrum_with) {
    NotchPlot plot = DrawNotchPlot(n.spectrum_before, *n.spectrum_with, n.proposal.notch,
                                   ZelQuietBaseValue(setup, param::Ts_S));
    n.svg = std::move(plot.svg);
    n.plot = std::move(plot.scene);
  }
  return n;
}

}  // namespace

// The speed step again with a notch, as an engineer does by hand when the current at constant
// speed rings at a resonance that limits the loop: the notch proposed on the loop model and
// placed where it keeps the margins (design/notch_placement.h), the loop tuned again and run a
// second time, and the look for a resonance once more with the notch, for the ripple it left.
// The run with the notch stands unless it failed where the run without it succeeded. Nothing
// when the look named no resonance that limits the loop, or the notch could not be placed (the
// run without it says why).
std::optional<StepOutcome> NotchTheResonance(const CommissioningStep& step, CZel_Setup& setup,
                                             ZelHeadlessBackend& ui, StepOutcome& without) {
  const std::optional<ResonanceRun>& look = without.resonance_run;
  if (!look || !look->resonance || !look->resonance->limits_loop || !look->current_spectrum)
    return std::nullopt;
  char found[80];
  std::snprintf(found, sizeof found, "for the resonance at %.0f Hz",
                look->resonance->frequency_hz);
  const SetupSnapshot unnotched(setup);
  const NotchPlacement placed = PlaceNotch(setup, look->resonance->frequency_hz);
  if (!placed.filter) {
    without.run.warnings.push_back(std::string("no notch ") + found + ": " + placed.refusal);
    return std::nullopt;
  }
  SecondRun again = RetuneAndRunAgain(step, setup, ui);
  if (!again.ran) return std::move(again.outcome);
  StepOutcome with = std::move(again.outcome);
  const std::optional<std::string>& proposal = again.proposal;
  const ResonanceRun look_with = LookForResonance(step, setup, ui, look->pass_band_rad_s);
  const NotchRun notch = NotchRunOf(without, placed, look_with, setup);
  char ripple[200];
  std::snprintf(ripple, sizeof ripple,
                "; the speed loop was tuned again and run a second time, and the look for a "
                "resonance once more: the ripple at the resonance %.3g A -> %.3g A RMS",
                notch.ripple_before_A, notch.ripple_after_A);
  const std::string note = found + std::string(", the ") + DescribeNotch(*placed.proposal) +
                           ", was placed in filter " + std::to_string(placed.filter) + ripple;
  if (!with.succeeded && without.succeeded) {
    unnotched.Restore(setup);
    RetuneAndDownload(setup);
    without.run.warnings.push_back(note + "; the run with it failed (" + with.failure +
                                   "), so the notch was taken out again");
    return std::nullopt;
  }
  std::vector<std::string> notes{note};
  if (proposal) notes.push_back(*proposal);
  with.run.warnings.insert(with.run.warnings.begin(), notes.begin(), notes.end());
  with.friction = without.friction;
  with.run.identified = without.run.identified;
  with.resonance_run = look;
  with.notch = notch;
  return with;
}

}  // namespace dcservo::commissioning
