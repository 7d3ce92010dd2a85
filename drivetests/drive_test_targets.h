#pragma once
// What a run must meet to pass: one table for the current, speed and position tests and the
// supply check, used alike by the test dialogs (a missed target fails the run), the command
// line and commissioning. A figure is judged against the loop model's prediction of the same
// run, with the same settling band for both.

#include <optional>
#include <string>
#include <vector>

#include "design/step_response.h"
#include "drivetests/tuning_figures.h"

namespace dcservo {

struct TargetCheck {
  std::string figure;    // "rise time"
  std::string target;    // "within 30 % of predicted 0.567 ms"
  std::string measured;  // "0.571 ms"
  bool met = false;
  // The cause of a miss and what mends it, where the target knows them better than its
  // test's general advice.
  std::string remedy = {};
};

// The figure that says the motor followed its reference at all.
inline constexpr const char* kFollowedFigure = "the motor followed the reference";
// The figure of a loop that oscillated in its log (at rest, or growing while held).
inline constexpr const char* kOscillationFigure = "oscillation in the log";

struct TestTargets {
  const char* test;            // as in `dcservo test WORD`
  double rise_tolerance;       // |measured / predicted - 1|; 0: no step response
  double max_overshoot_pct;    // 0: not judged
  double tracking_tolerance;   // measured RMS <= predicted x (1 + this) + half a step; 0: none
  // The motor followed the reference: its RMS tracking error under this share of the
  // reference's own RMS departure from rest. 0: not judged.
  double follow_share;
  bool supply_in_range;        // the detected supply within the drive's motor supply range
  const char* check;           // what to check when a target is missed
  // The current's peak ripple at constant speed, as a share of the motor's rated current.
  // 0: not measured.
  double ripple_share_of_In = 0.0;
};

// The current ripple at constant speed against its target (the tuner's proposal is the
// remedy). Nothing without a ripple measured.
std::optional<TargetCheck> CheckRippleTarget(const TestTargets& targets,
                                             const TuningRunFigures& figures);

// What a tracking run must also keep, whatever its prediction says: the loop model's margins
// of the gains that ran (refused under the limits that refuse a tuning) and any resonance the
// run found that takes them away; no oscillation that grows or goes on at standstill; the
// current ripple at constant speed; the RMS current within In and the time at the current
// limit within what the profile's prediction holds it there. Each miss names its cause and
// fix. Part of CheckTrackingTargets.
std::vector<TargetCheck> CheckRunHealthTargets(const TestTargets& targets,
                                               const TuningRunFigures& figures);
// What only deserves a word: margins under the advised limits, the margins at a half and twice
// the inertia under the refusal ones.
std::vector<std::string> RunWarnings(const TuningRunFigures& figures);

// The row of a test; null for a test without targets.
const TestTargets* TargetsOf(const std::string& test);
// The table as text lines, for a report.
std::vector<std::string> TargetDescriptions();

// A step response (the current test): nothing measured fails.
std::vector<TargetCheck> CheckStepTargets(const TestTargets& targets,
                                          const std::optional<StepFigures>& measured,
                                          const std::optional<StepFigures>& predicted);
// A tracking run (the speed and position tests): its first cycle against the prediction;
// no cycle measured fails.
std::vector<TargetCheck> CheckTrackingTargets(const TestTargets& targets,
                                              const TuningRunFigures& figures);
// The detected supply against the drive's range; the measurement is shown at one level of
// the converter that read it (`level_V`, 0 where it is not known: four digits).
std::vector<TargetCheck> CheckSupplyTargets(const TestTargets& targets, double vdc_V,
                                            double lowest_V, double highest_V,
                                            double level_V = 0.0);

// The first missed target as the run's failure text, naming the figure, the target and what
// to check; empty when every target was met.
std::string MissedTargetText(const TestTargets& targets, const std::vector<TargetCheck>& checks);

}  // namespace dcservo
