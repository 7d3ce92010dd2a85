#pragma once
// The speed loop's three biquad filters as the setup describes them and the drive stores
// them: each enabled filter designed at the slow-loop period into one of three coefficient
// slots, the slots ordered by the filter's place in the loop.

#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "derive/step.h"
#include "dsp/biquad.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {

inline constexpr int kBiquadFilterCount = 3;

// Where a filter sits in the speed loop, 0..2, in the order the slots are filled: the
// position controller's output, the speed controller's output, the speed feedback.
const char* FilterPlaceName(int place);
inline constexpr int kPlaceSpeedControllerOutput = 1;
inline constexpr int kPlaceSpeedFeedback = 2;

// One filter as the user describes it.
struct FilterDescription {
  int place = kPlaceSpeedFeedback;
  int type = kLowPass2ndOrder;
  double frequency_hz = 0.0;
  double q = 0.707;
};

// The coefficients that a slot would hold for this filter at sampling period `ts`, quantised
// as the drive stores them and read back as the drive reads them; nothing when the filter
// cannot be designed or does not fit a slot.
std::optional<BiquadCoefficients> StoredCoefficientsOf(const FilterDescription& filter, double ts);
// The first filter (1..3) that is switched off, or 0 when all are in use or one is missing.
int FirstFreeFilter(CZel_Setup& setup);
// Switches filter `filter` (1..3) on with this description; the slots follow at the next
// derivation. 0 when a parameter is missing or refuses the value (then nothing is on).
int PlaceFilter(CZel_Setup& setup, int filter, const FilterDescription& description);

struct FilterReport {
  int filter = 0;  // 1..3
  int slot = 0;    // 1..3
  int place = 0;
  int type = 0;
  std::string type_name;
  double frequency_hz = 0.0;
  double q = 0.0;                 // types other than lead-lag
  double lag_frequency_hz = 0.0;  // lead-lag types
  BiquadSlot stored;
  double dc_gain = 0.0;      // |H| at zero frequency
  double corner_gain = 0.0;  // |H| at frequency_hz
  std::array<std::complex<double>, 2> poles{};
  double pole_radius = 0.0;
  // Refused: the slot holds zeros (which pass nothing) and `warnings` says why.
  bool refused = false;
  std::vector<std::string> warnings;
};

struct BiquadReport {
  double sampling_period_s = 0.0;
  std::vector<FilterReport> filters;  // the enabled ones, in slot order
  std::array<BiquadSlot, kBiquadFilterCount> slots{};
  std::array<int, 3> counts{};        // per place
  std::vector<std::string> warnings;  // filters left out
  bool AnyRefused() const;
};

// Designs filter `filter` (1..3) into slot `slot` (1..3). 1 done; 0 when a parameter is
// missing (nothing written) or the filter was refused (zeros written, reported).
int DesignBiquadFilter(CZel_Setup& setup, int filter, int slot, FilterReport* report = nullptr);
// Designs every enabled filter into the slots, empties the rest and writes the counts.
// 1 when every enabled filter was designed and every parameter found.
int DesignBiquadFilters(CZel_Setup& setup, BiquadReport* report = nullptr);
// Sends the counts and the three slots to the drive; missing parameters are skipped.
void WriteBiquadFiltersToChip(CZel_Setup& setup);

// Step 43 of the scaled-to-chip pipeline, behind the biquad probe.
StepResult ComputeBiquadFilterSlots(CZel_Setup& setup);

// Slot parameter names: "BQ1B0" ... "BQ3SF", in the order B0, B1, B2, A1, A2, SF.
std::array<std::string, 6> SlotParameterNames(int slot);
inline constexpr const char* kBiquadCountNames[] = {param::SPDREF_BQ_INI, param::IQREF_BQ_INI,
                                                    param::ASPD_BQ_INI};

}  // namespace dcservo
