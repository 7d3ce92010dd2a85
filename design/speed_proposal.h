#pragma once
// The speed loop's pass band, the low pass on its speed feedback and its acceleration
// feedforward chosen together. The speed sensor counts whole steps, and the proportional gain
// turns each count into a jump of the current reference; a low pass on the speed feedback
// smooths the counts but costs phase. The proposal is the highest pass band, up to the one
// asked for, that keeps the ripple of one count within its target and the loop's margins
// above the warning limits, with the low pass (if any) that allows the most.

#include <optional>
#include <string>
#include <vector>

#include "derive/biquad_slots.h"
#include "design/drive_model.h"
#include "design/speed_ripple.h"
#include "host/zel_setup.h"

namespace dcservo {

// The position loop over the speed loop stays this many times slower than the speed loop's
// band, so that to the position loop the closed speed loop is the integrator its design takes
// it for. A speed loop that the sensor holds down takes the position loop down with it.
inline constexpr double kCascadeSeparation = 3.0;

// What held the proposed band below the one asked for.
enum class PassBandLimit { None, Ripple, Margins, Floor };
const char* PassBandLimitText(PassBandLimit limit);

struct SpeedLoopProposal {
  double requested_rad_s = 0.0;
  double pass_band_rad_s = 0.0;
  // A second-order low pass on the speed feedback, in a filter that is free; none when the
  // band needs none or no filter is free.
  std::optional<FilterDescription> feedback_low_pass;
  // The current-reference jump of one speed count with the proposal, and what the closed loop's
  // peak sensitivity makes of it at worst (peak, the figure held to the target).
  double jump_A = 0.0;
  double ripple_A = 0.0;
  double allowed_A = 0.0;
  // The acceleration feedforward gain (the drive's units) that gives the inertia's share of
  // the current along a ramp; 0 when the drive has none.
  double acceleration_feedforward = 0.0;
  std::optional<LoopMargins> margins;
  PassBandLimit limited_by = PassBandLimit::None;
  bool RippleMet() const { return ripple_A <= allowed_A * (1.0 + 1e-9); }
};

struct SpeedProposalInputs {
  DriveModel model;  // the speed gains designed for `requested_rad_s`
  ModelStructure structure = ModelStructure::Speed;
  double requested_rad_s = 0.0, damping = 1.0, rated_A = 0.0;
  double ripple_share_of_In = kSpeedRippleShareOfIn;
  double lowest_rad_s = 0.0;  // the lowest pass band the setup takes
  bool filter_free = true;     // a filter may be added on the speed feedback
  bool has_acceleration_feedforward = true;
};

// Nothing when the model has no speed quantum or an input is not positive.
std::optional<SpeedLoopProposal> ProposeSpeedLoop(const SpeedProposalInputs& in);

// The inputs from the setup as it stands after the speed loop was tuned; nothing (with the
// reason) when the setup lacks what the model needs.
std::optional<SpeedProposalInputs> SpeedProposalInputsOf(CZel_Setup& setup, std::string* why);

// The proposal for the setup as it stands after the speed loop was tuned; nothing when the
// setup lacks an input or the model refuses.
std::optional<SpeedLoopProposal> ProposeSpeedLoopFor(CZel_Setup& setup);

// Writes the proposal into the setup: the pass band, the low pass into the first free filter,
// the acceleration feedforward; the caller derives and tunes again. 0 when a parameter refused.
int ApplySpeedLoopProposal(CZel_Setup& setup, const SpeedLoopProposal& proposal);

// One line that says what the proposal is and what limited the band.
std::string DescribeProposal(const SpeedLoopProposal& proposal, const std::string& pass_band_name);

}  // namespace dcservo
