#pragma once
// What a log says about a run beyond how well it tracked: the current it drew (what heats the
// motor, how long the test's limit held it) and an oscillation that grows or never stops.
// Both judge the drive as it is, where the loop model judges the drive the setup describes.

#include <optional>
#include <span>
#include <string>

namespace dcservo {

struct RunCurrent {
  double rms_A = 0.0;       // over the whole run: what heats the motor
  double peak_A = 0.0;      // of the measured current
  double at_limit_s = 0.0;  // the current reference at the test's limit
  double limit_A = 0.0;     // the test's limit; 0 when unknown
  double rated_A = 0.0;     // the motor's In; 0 when unknown
  double run_s = 0.0;
  // The largest mean current over a stretch of constant speed: what the load needs to keep
  // turning there, which no rest between ramps averages away.
  double held_A = 0.0;
};

// A tuning run held at the current limit for more than this share of it does not test its
// loop, which is open while it is saturated, whatever the profile planned.
inline constexpr double kMostShareAtLimit = 0.1;

// The current reference sits at the limit when it is this close to it: the converter's
// rounding keeps it a little under.
inline constexpr double kAtLimitShare = 0.98;

// Nothing for an empty log.
std::optional<RunCurrent> RunCurrentOf(std::span<const double> current_reference_A,
                                       std::span<const double> motor_current_A, double period_s,
                                       double limit_A, double rated_A);

// A uniformly sampled run: the reference, and the signal that would oscillate (the current
// reference of a speed run, the position error of a position run), with the signal's smallest
// step that still means something (a converter step, a count). In each stretch where the
// reference holds still, after the loop had `settle_s` to settle, the envelope of the signal's
// second half against its first; and at the end of the run, at rest, whether it still swings.
struct OscillationLog {
  std::span<const double> reference, signal;
  double period_s = 0.0;
  double settle_s = 0.0;
  double step = 0.0;     // of the signal
  double unit = 1.0;     // the signal's shown unit per its own (for the text)
  std::string unit_name;
  // At rest a swing of this size (peak to peak) is a limit cycle, not the counts' hunting.
  double standstill_swing = 0.0;
};

// An envelope grows when its second half swings this much wider than its first (the hunting
// behind a speed feedback's low pass doubles its swing now and then).
inline constexpr double kGrowingEnvelope = 2.5;
// ...and by this many of the signal's steps at least, above the counts' own hunting.
inline constexpr double kGrowingSteps = 20.0;

// A position loop at rest hunts between a count or two; a swing wider than this many counts
// and this share of the move is an oscillation of the loop.
inline constexpr double kStandstillSteps = 4.0;
inline constexpr double kStandstillShareOfMove = 0.002;

// The oscillation described, or empty.
std::string FindBadOscillation(const OscillationLog& log);

}  // namespace dcservo
