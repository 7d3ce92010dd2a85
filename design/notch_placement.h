#pragma once
// A notch placed for a resonance that a speed run named: proposed on the setup's speed loop as
// its filters are designed now (design/notch_proposal.h), and switched on in the first free
// filter only when the loop keeps its margins with it. The filters dialog's button and
// commissioning place it alike; where the speed loop as tuned was measured, its measured open
// loop with the notch must keep them too (the frequency response dialog, `tune speed
// --from-measurement`).

#include <optional>
#include <span>
#include <string>

#include "design/frequency_response.h"
#include "design/notch_proposal.h"

namespace dcservo {

// The notch as the drive stores it, on a measured open loop: the margins read off before and
// with it, and whether those with it stay at or above the warning limits.
struct MeasuredNotchMargins {
  CurveMargins before, with_notch;
  // Kept only where the measurement shows it: a loop that does not cross 0 dB within the
  // measured band has a phase margin nobody has seen.
  bool kept = false;
  double from_hz = 0.0, to_hz = 0.0;  // the band measured
};
// Nothing when the notch's coefficients cannot be stored at the loop's rate.
std::optional<MeasuredNotchMargins> NotchOnMeasuredLoop(std::span<const BodePoint> open_loop,
                                                        const FilterDescription& notch,
                                                        double sampling_period_s);
// "phase margin 38 deg, gain margin 4 dB": whole degrees and decibels, "none" where the curve
// does not cross.
std::string DescribeMeasuredMargins(const CurveMargins& m);
// Why the notch is refused on the measured loop; empty when the margins are kept.
std::string MeasuredNotchRefusal(const MeasuredNotchMargins& m);

struct NotchPlacement {
  std::optional<NotchProposal> proposal;  // absent when none could be proposed
  // Set when a measured open loop was given and the notch could be stored.
  std::optional<MeasuredNotchMargins> measured;
  int filter = 0;                         // 1..3 where it was placed; 0: not placed
  std::string refusal;                    // why it was not placed, for the user
};

// With `measured_open_loop` (the speed loop as tuned), the notch is also judged on it.
NotchPlacement PlaceNotch(CZel_Setup& setup, double frequency_hz,
                          std::span<const BodePoint> measured_open_loop = {});

}  // namespace dcservo
