#pragma once
// Biquad mathematics with no setup behind it: the bilinear-transform designs, the common
// power-of-two scaling into signed 32-bit fractions (c = C x SF / 2^31), the correction of
// the gain at zero frequency, and the response and poles of a quantised filter.
//
// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).

#include <array>
#include <complex>
#include <optional>

namespace dcservo {

struct BiquadCoefficients {
  double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  bool operator==(const BiquadCoefficients&) const = default;
};

// Coefficients as the drive reads them: integers and their scale factor.
struct BiquadSlot {
  BiquadCoefficients quantised;  // integers
  double scale_factor = 0.0;     // a power of two; 0 in an empty slot
};

// 2^31: a coefficient of SF stands for this integer.
inline constexpr double kBiquadOne = 2147483648.0;

// The type codes; the code is the index into the type table.
inline constexpr int kBiquadTypeCount = 10;
inline constexpr int kLowPass2ndOrder = 1;
inline constexpr int kNotch = 2;
inline constexpr int kHighPass = 3;
inline constexpr int kBandPass = 4;
inline constexpr int kFirstUnofferedType = 5;
inline constexpr int kLastUnofferedType = 7;
inline constexpr int kLeadLag1stOrder = 8;
inline constexpr int kLeadLag2ndOrder = 9;

// "" for a code outside 0..9.
const char* BiquadTypeName(int type);
// Whether the user may choose the type.
bool IsBiquadTypeOffered(int type);
bool IsLeadLag(int type);
// Whether the third design value is a Q.
bool UsesQ(int type);
// High pass and band pass block zero frequency by design.
bool BlocksZeroFrequency(int type);

// f1n: first frequency x sampling period; third: Q, or for the lead-lag types the lag
// frequency x sampling period. Nothing for a type outside 0..9.
std::optional<BiquadCoefficients> DesignBiquad(int type, double f1n, double third, double gain_db);
// Chooses SF and replaces the coefficients by integers; coefficients that are not all
// finite give zeros with SF 1. extra_shift widens SF further, for a correction that would
// not fit otherwise.
BiquadSlot QuantizeBiquad(const BiquadCoefficients& c, int extra_shift = 0);
// Corrects B0 so that the quantised filter has gain 1 at zero frequency.
void ForceUnityDcGain(BiquadSlot& slot);
// Corrects B0 so that the quantised numerator vanishes at zero frequency.
void ForceZeroDcGain(BiquadSlot& slot);

bool AllFinite(const BiquadCoefficients& c);

// A filter at a frequency, for a sampling period: coefficients as they run (a0 = 1), or the
// quantised slot as the drive reads it.
std::complex<double> FilterResponse(const BiquadCoefficients& c, double sampling_period_s,
                                    double frequency_hz);
std::complex<double> FilterResponse(const BiquadSlot& slot, double sampling_period_s,
                                    double frequency_hz);
std::array<std::complex<double>, 2> FilterPoles(const BiquadSlot& slot);

}  // namespace dcservo
