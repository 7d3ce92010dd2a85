#pragma once
// A notch placed for a resonance that a speed run named: proposed on the setup's speed loop as
// its filters are designed now (design/notch_proposal.h), and switched on in the first free
// filter only when the loop keeps its margins with it. The filters dialog's button and
// commissioning place it alike.

#include <optional>
#include <string>

#include "design/notch_proposal.h"

namespace dcservo {

struct NotchPlacement {
  std::optional<NotchProposal> proposal;  // absent when none could be proposed
  int filter = 0;                         // 1..3 where it was placed; 0: not placed
  std::string refusal;                    // why it was not placed, for the user
};

NotchPlacement PlaceNotch(CZel_Setup& setup, double frequency_hz);

}  // namespace dcservo
