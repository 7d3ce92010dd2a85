#pragma once
// The designer object that the filters dialog and the command line hold: the biquad
// mathematics of dsp/ on its own coefficients, and the setup's filters through the slot
// step of derive/.

#include <array>
#include <string>
#include <vector>

#include "derive/biquad_slots.h"
#include "derive/step.h"
#include "dsp/biquad.h"
#include "host/zel_setup.h"

namespace dcservo {

class CBiquadDesigner {
 public:
  CBiquadDesigner();

  // The types the user may choose, in code order.
  void GetOfferedTypes(std::vector<std::string>& names, std::vector<int>& codes) const;
  // "" for a code outside 0..9.
  const std::string& TypeName(int code) const;

  // f1n: first frequency x sampling period; third: Q, or for the lead-lag types the lag
  // frequency x sampling period. A type outside 0..9 changes nothing.
  void ComputeCoefficients(int type, double f1n, double third, double gain_db);

  // Designs filter `filter` (1..3) into slot `slot` (1..3); the designer then holds what
  // the slot holds. Missing: a parameter is not in the setup (nothing written); Refused: the
  // filter cannot be built (zeros written, the report says why).
  StepResult DesignFilter(CZel_Setup& setup, int filter, int slot,
                          FilterReport* report = nullptr);
  // Designs every enabled filter into the slots, empties the rest and writes the counts.
  // Done when every enabled filter was designed and every parameter found; Refused when the
  // report names a filter refused; Missing otherwise.
  StepResult DesignAllFilters(CZel_Setup& setup, BiquadReport* report = nullptr);
  // Sends the counts and the three slots to the drive; missing parameters are skipped.
  void WriteFiltersToChip(CZel_Setup& setup);

  const BiquadCoefficients& Coefficients() const { return c_; }

 private:
  std::array<std::string, kBiquadTypeCount> names_;
  BiquadCoefficients c_;
};

}  // namespace dcservo
