#pragma once
// The notch that keeps the speed loop from driving a resonance (design/resonance.h finds it):
// on the speed controller's output, in a free filter, as wide as the loop's margins allow.

#include <optional>
#include <string>

#include "derive/biquad_slots.h"
#include "design/drive_model.h"
#include "host/zel_setup.h"

namespace dcservo {

// A notch proposed for a resonance, in a free filter on the speed controller's output.
struct NotchProposal {
  FilterDescription notch;
  std::optional<LoopMargins> margins;  // the speed loop with the notch
  bool margins_kept = false;           // above the warning limits
  // The notch's attenuation at the resonance as the drive stores it, dB (negative).
  double depth_db = 0.0;
};

// Qs tried, widest notch first: a wide notch forgives an estimate a few percent off and the
// coupling's damping, a narrow one costs the loop less phase below it.
inline constexpr double kNotchQs[] = {0.7, 1.0, 1.4, 2.0, 3.0};

// Why no notch can sit at `frequency_hz` in a speed loop sampled every `ts` seconds; empty
// when one can. A notch sits at a whole hertz, so the frequency rounded to one must be at
// least 1 Hz and below the loop's Nyquist frequency. The frequency is named as given, NaN
// and the boundaries alike: "no notch at 999.9 Hz: ...".
// A frequency as a person typed it (10, 1000, 12.5): no more than 15 digits, none of a
// double's noise.
std::string NotchHzText(double hz);
std::string NotchFrequencyRefusal(double frequency_hz, double ts);

// The widest notch at `frequency_hz` whose speed loop keeps its margins above the warning
// limits; the narrowest when none does (margins_kept false). Nothing when the frequency is
// not below the Nyquist limit or no notch can be stored.
std::optional<NotchProposal> ProposeNotch(const DriveModel& model, ModelStructure structure,
                                          double frequency_hz);

// Switches the first free filter on as the proposed notch; the slots follow at the next
// derivation. 0 when no filter is free or a parameter refuses the value.
int ApplyNotch(CZel_Setup& setup, const NotchProposal& proposal);

// One line for the terminal.
std::string DescribeNotch(const NotchProposal& p);

}  // namespace dcservo
