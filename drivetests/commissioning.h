#pragma once
// Bringing a drive into service in one run: the tests that a commissioning engineer runs in
// order, each through its own dialog on the headless user interface with the answers a
// careful engineer gives (Tune where the test tunes, Start, accept what the test found), the
// figures of each run checked against the targets, and the setup after each accepted step.
// A step that fails ends the run; the setup then is the one from before that step.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "design/notch_proposal.h"
#include "design/resonance.h"
#include "drivetests/diagnosis.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/tuning_figures.h"
#include "host/zel_plot_scene.h"
#include "host/zel_ui_backend.h"

class CZel_Setup;
class ZelHeadlessBackend;

namespace dcservo {

// The loops a step needs closed (bits); a step needing none runs in every control mode.
enum CommissioningLoops : unsigned {
  kLoopsAny = 0,
  kLoopSpeed = 1,
  kLoopPosition = 2,
};

struct CommissioningStep {
  const char* word;    // as in `dcservo test WORD`
  const char* dialog;  // its name in the dialog registry
  const char* title;
  unsigned loops;
  bool blocked_shaft;  // as the test's notice asks for
  bool tune;           // Tune before Start
  // The test asks on closing whether to keep what it found (answered Yes); else OK keeps it.
  bool asks_to_keep;
  double limit_s;      // drive time after which a run still going is stopped
  const char* advice;  // what to check when it fails
};

// The steps in the order they run.
std::span<const CommissioningStep> CommissioningSteps();
// The steps that `setup`'s control-structure options need, in order.
std::vector<const CommissioningStep*> StepsFor(const CZel_Setup& setup);

// What a tuning run tracked: its first cycle, measured and predicted.
struct TrackingFigures {
  std::string unit;
  double quantum = 0.0;  // one step of the measurement
  CycleFigures measured;
  std::optional<CycleFigures> predicted;
};

// Checks the step's figures against the targets of its test in the target table: those the
// test's run judged, and the supply's range for the supply step.
std::vector<TargetCheck> CheckTargets(const CommissioningStep& step, CZel_Setup& setup,
                                      const TestRunReport& run);

// The speed step's look for a mechanical resonance: its test once more before its own run,
// logged at the loop's own rate (the holds TPS and TNS shortened until the whole profile fits
// the log), with no low pass on the speed feedback and at the pass band asked for: a log
// slower than the loop folds a coupling onto another frequency, and behind a low pass the
// loop's own hunting drowns it (design/resonance.h). The step's run itself keeps its profile
// and the tuner's proposal; this run's verdict is no part of the step's.
struct ResonanceRun {
  double hold_s = 0.0;  // TPS and TNS of the run; 0 when the ramps leave no hold long enough
  double pass_band_rad_s = 0.0;
  std::optional<Spectrum> current_spectrum;  // of the current reference at constant speed
  std::optional<Resonance> resonance;
  std::string not_at_rest;  // after the run: why the motor did not come to rest, else ""
};

// The speed step's notch for a resonance that limited the loop, and the run before it: the
// step's own figures are those of the run with the notch. The spectra and the ripple are those
// of the looks for a resonance (ResonanceRun) without the notch and with it, alike but for the
// notch.
struct NotchRun {
  Resonance resonance;  // as the look before the notch named it
  NotchProposal proposal;
  int filter = 0;  // 1..3
  Spectrum spectrum_before;
  std::optional<Spectrum> spectrum_with;  // none when the look with the notch could not run
  // The current reference's ripple at the resonance (RMS, A), before the notch and with it
  // (NaN without the look with it).
  double ripple_before_A = 0.0, ripple_after_A = 0.0;
  bool succeeded_before = false;
  std::string failure_before;
  std::optional<TrackingFigures> tracking_before;
  std::string svg;    // both spectra with the notch drawn over them
  ZelPlotScene plot;  // the same plot, for a toolkit to draw
};

struct StepOutcome {
  const CommissioningStep* step = nullptr;
  bool succeeded = false;
  std::string failure;  // the test's own text, or the target missed
  const Diagnosis* diagnosis = nullptr;  // the cause of a failure, where it can be told
  TestRunReport run;
  std::optional<TrackingFigures> tracking;
  std::vector<TargetCheck> targets;
  // What the inertia test measured and the friction that the speed test's log shows.
  std::optional<InertiaRun> inertia_run;
  std::optional<FrictionFit> friction;
  // The speed step's current reference at constant speed: its spectrum and the resonance it
  // named, as the test gave them.
  std::optional<Spectrum> current_spectrum;
  std::optional<Resonance> resonance;
  std::optional<ResonanceRun> resonance_run;  // the speed step's look for a resonance
  std::optional<NotchRun> notch;
  std::string svg;  // the plot of the run, measured and predicted
  ZelPlotScene plot;  // the same plot, for a toolkit to draw
  std::string csv;  // the logged run
};

// What to check after a failed step: the diagnosis's advice, else the step's own.
const char* CheckOf(const StepOutcome& outcome);

struct ParameterChange {
  std::string name, unit;
  double before = 0.0, after = 0.0;  // in `unit`
};

struct CommissioningResult {
  std::vector<const CommissioningStep*> planned;
  std::vector<StepOutcome> steps;  // those that ran; the last failed when !succeeded
  std::vector<ParameterChange> changes;
  std::string setup_text;  // the setup after the last accepted step
  bool succeeded = false;
};

struct CommissioningHooks {
  // Before step `index` of `count` starts.
  std::function<void(std::size_t index, std::size_t count, const CommissioningStep&)> progress;
  // Before each step, once the shaft is as the step needs it.
  std::function<void(const CommissioningStep&)> prepare;
  // Shows a notice that the user must confirm (blocking or freeing the shaft, as `asks`
  // says); false when the user declined. By default a message box of the installed user
  // interface.
  std::function<bool(const char* notice, ZelAskedAction asks)> confirm;
  // What a step that runs without a dialog is doing (the frequency response's sweep), as a
  // test's status line says it: "phase: count".
  std::function<void(const std::string& status)> status;
};

// Runs the steps that `setup`'s control mode needs (its control-structure options derived
// afresh) on the drive attached to the host, through the headless `ui`; before a step
// that needs the shaft otherwise than the step before, the notice that asks for it is shown; `setup` holds
// the accepted values afterwards (those of the last accepted step when a step failed).
CommissioningResult RunCommissioning(CZel_Setup& setup, ZelHeadlessBackend& ui,
                                     const CommissioningHooks& hooks);

}  // namespace dcservo
