#pragma once
// The speed loop's three biquad filters: designed by the bilinear transform with
// prewarping at the slow-loop period, scaled by a common power of two into signed 32-bit
// fractions (c = C x SF / 2^31), corrected to the gain they must have at zero frequency,
// and packed into three coefficient slots ordered by place.
//
// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "host/zel_setup.h"

namespace dcservo {

struct BiquadCoefficients {
  double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

inline constexpr int kBiquadFilterCount = 3;
inline constexpr int kBiquadTypeCount = 10;
inline constexpr int kLeadLag1stOrder = 8;
inline constexpr int kLeadLag2ndOrder = 9;

// Where a filter sits in the speed loop, 0..2, in the order the slots are filled: the
// position controller's output, the speed controller's output, the speed feedback.
const char* FilterPlaceName(int place);

// One slot as the drive reads it.
struct BiquadSlot {
  BiquadCoefficients quantised;  // integers
  double scale_factor = 0.0;     // a power of two; 0 in an empty slot
};

struct FilterReport {
  int filter = 0;  // 1..3
  int slot = 0;    // 1..3
  int place = 0;
  int type = 0;
  std::string type_name;
  double frequency_hz = 0.0;
  double q = 0.0;             // types other than lead-lag
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
  std::array<int, 3> counts{};  // per place
  std::vector<std::string> warnings;  // filters left out
  bool AnyRefused() const;
};

class CBiquadDesigner {
 public:
  CBiquadDesigner();

  // The types the user may choose, in code order.
  void GetOfferedTypes(std::vector<std::string>& names, std::vector<int>& codes) const;
  // "" for a code outside 0..9.
  const std::string& TypeName(int code) const;

  // f1n: first frequency x sampling period; third: Q, or for the lead-lag types the lag
  // frequency x sampling period. A type outside 0..9 changes nothing. SF is not touched.
  void ComputeCoefficients(int type, double f1n, double third, double gain_db);
  // Chooses SF and replaces the coefficients by integers. extra_shift widens SF further,
  // for a correction that would not fit otherwise.
  void QuantizeCoefficients(int extra_shift = 0);
  // Corrects B0 so that the quantised filter has gain 1 at zero frequency.
  void ForceUnityDcGain();
  // Corrects B0 so that the quantised numerator vanishes at zero frequency.
  void ForceZeroDcGain();

  // Designs filter `filter` (1..3) into slot `slot` (1..3). 1 done; 0 when a parameter is
  // missing (nothing written) or the filter was refused (zeros written, reported).
  int DesignFilter(CZel_Setup& setup, int filter, int slot, FilterReport* report = nullptr);
  // Designs every enabled filter into the slots, empties the rest and writes the counts.
  // 1 when every enabled filter was designed and every parameter found.
  int DesignAllFilters(CZel_Setup& setup, BiquadReport* report = nullptr);
  // Sends the counts and the three slots to the drive; missing parameters are skipped.
  void WriteFiltersToChip(CZel_Setup& setup);

  const BiquadCoefficients& Coefficients() const { return c_; }
  void SetCoefficients(const BiquadCoefficients& c) { c_ = c; }
  double ScaleFactor() const { return sf_; }

 private:
  std::array<std::string, kBiquadTypeCount> names_;
  std::array<std::uint8_t, kBiquadTypeCount> offered_;
  BiquadCoefficients c_;
  double sf_ = 1.0;
};

// Step 43 of the scaled-to-chip pipeline, behind the biquad probe: a designer built for
// the call, run on the setup and discarded.
int ComputeBiquadFilterSlots(CZel_Setup& setup);

// The quantised filter of a slot at a frequency, for a sampling period.
std::complex<double> FilterResponse(const BiquadSlot& slot, double sampling_period_s,
                                    double frequency_hz);
std::array<std::complex<double>, 2> FilterPoles(const BiquadSlot& slot);

// Slot parameter names: "BQ1B0" ... "BQ3SF", in the order B0, B1, B2, A1, A2, SF.
std::array<std::string, 6> SlotParameterNames(int slot);
inline constexpr const char* kBiquadCountNames[] = {"SPDREF_BQ_INI", "IQREF_BQ_INI",
                                                    "ASPD_BQ_INI"};

}  // namespace dcservo
