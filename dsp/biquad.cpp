#include "dsp/biquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dcservo {
namespace {

using Complex = std::complex<double>;

struct TypeRow {
  const char* name;
  bool offered;
};

// Peak and the shelves need a gain, which the drive's filter description has no field
// for, so they are never offered.
constexpr TypeRow kTypes[kBiquadTypeCount] = {
    {"Low Pass 1st order", true}, {"Low Pass 2nd order", true}, {"Notch", true},
    {"High Pass", true},          {"Band Pass", true},          {"Peak", false},
    {"Low Shelf", false},         {"High Shelf", false},        {"Lead-lag 1st order", true},
    {"Lead-lag 2nd order", true},
};

bool IsType(int type) { return type >= 0 && type < kBiquadTypeCount; }

double Largest(const BiquadCoefficients& c) {
  return std::max({std::abs(c.b0), std::abs(c.b1), std::abs(c.b2), std::abs(c.a1), std::abs(c.a2)});
}

double RoundHalfUp(double x) { return std::floor(x + 0.5); }

BiquadCoefficients LeadLag(int type, double kz, double lag_n) {
  const double kp = std::tan(std::numbers::pi * lag_n);
  const double r = kp / kz;
  const double d = kp + 1.0;
  const double lead = (kz + 1.0) * r / d;
  const double trail = (kz - 1.0) * r / d;
  const double pole = (kp - 1.0) / d;
  if (type == kLeadLag1stOrder) return {lead, trail, 0.0, pole, 0.0};
  return {lead * lead, 2.0 * r * r * (kz * kz - 1.0) / (d * d), trail * trail, 2.0 * pole,
          pole * pole};
}

BiquadCoefficients Peak(double k, double q, double v, bool boost) {
  const double k2 = k * k;
  if (boost) {
    const double n = 1.0 / (1.0 + k / q + k2);
    const double a1 = 2.0 * (k2 - 1.0) * n;
    return {(1.0 + v * k / q + k2) * n, a1, (1.0 - v * k / q + k2) * n, a1, (1.0 - k / q + k2) * n};
  }
  const double nc = 1.0 / (1.0 + v * k / q + k2);
  return {(1.0 + k / q + k2) * nc, 2.0 * (k2 - 1.0) * nc, (1.0 - k / q + k2) * nc,
          2.0 * (k2 - 1.0) * nc, (1.0 - v * k / q + k2) * nc};
}

// a + b k + c k^2, 2 (c k^2 - a), a - b k + c k^2: the bilinear transform of the quadratic
// a + b s + c s^2, a shelf's numerator or denominator.
std::array<double, 3> Quadratic(double k, double a, double b, double c) {
  const double k2 = k * k;
  return {a + b * k + c * k2, 2.0 * (c * k2 - a), a - b * k + c * k2};
}

BiquadCoefficients Ratio(const std::array<double, 3>& num, const std::array<double, 3>& den) {
  const double n = 1.0 / den[0];
  return {num[0] * n, num[1] * n, num[2] * n, den[1] * n, den[2] * n};
}

// A boost puts the shelf in the numerator, a cut in the denominator.
BiquadCoefficients Shelf(double k, double v, bool boost, bool high) {
  const double sqrt2v = std::sqrt(2.0 * v);
  const auto flat = Quadratic(k, 1.0, std::numbers::sqrt2, 1.0);
  const auto shelf = high ? Quadratic(k, v, sqrt2v, 1.0) : Quadratic(k, 1.0, sqrt2v, v);
  return boost ? Ratio(shelf, flat) : Ratio(flat, shelf);
}

// The second-order sections that share the denominator 1 + k/q + k^2.
BiquadCoefficients SecondOrder(int type, double k, double q) {
  const double k2 = k * k;
  const double n = 1.0 / (1.0 + k / q + k2);
  const double a1 = 2.0 * (k2 - 1.0) * n;
  const double a2 = (1.0 - k / q + k2) * n;
  switch (type) {
    case 1: return {k2 * n, 2.0 * k2 * n, k2 * n, a1, a2};
    case 2: return {(1.0 + k2) * n, 2.0 * (k2 - 1.0) * n, (1.0 + k2) * n, a1, a2};
    case kHighPass: return {n, -2.0 * n, n, a1, a2};
    default: return {k / q * n, 0.0, -k / q * n, a1, a2};  // band pass
  }
}

}  // namespace

const char* BiquadTypeName(int type) { return IsType(type) ? kTypes[type].name : ""; }
bool IsBiquadTypeOffered(int type) { return IsType(type) && kTypes[type].offered; }
bool IsLeadLag(int type) { return type == kLeadLag1stOrder || type == kLeadLag2ndOrder; }
bool UsesQ(int type) { return type >= 1 && type <= 5; }
bool BlocksZeroFrequency(int type) { return type == kHighPass || type == kBandPass; }

bool AllFinite(const BiquadCoefficients& c) {
  return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) && std::isfinite(c.a1) &&
         std::isfinite(c.a2);
}

std::optional<BiquadCoefficients> DesignBiquad(int type, double f1n, double third, double gain_db) {
  if (!IsType(type)) return std::nullopt;
  const double k = std::tan(std::numbers::pi * f1n);
  const double v = std::pow(10.0, std::abs(gain_db) / 20.0);
  const bool boost = gain_db >= 0.0;
  if (type == 0)
    return BiquadCoefficients{k / (k + 1.0), k / (k + 1.0), 0.0, (k - 1.0) / (k + 1.0), 0.0};
  if (IsLeadLag(type)) return LeadLag(type, k, third);
  if (type == 5) return Peak(k, third, v, boost);
  if (type == 6) return Shelf(k, v, boost, false);
  if (type == 7) return Shelf(k, v, boost, true);
  return SecondOrder(type, k, third);
}

BiquadSlot QuantizeBiquad(const BiquadCoefficients& c, int extra_shift) {
  if (!AllFinite(c)) return {{}, 1.0};
  const double m = Largest(c);
  // 2^(n-1) <= m < 2^n: the ceiling of log2 m, except that a largest coefficient of exactly
  // 1, 2, 4, ... takes one shift more, since +2^31 does not fit the drive's 32 bits. Taken
  // from the exponent, so no logarithm rounds it the wrong way.
  int n = 0;
  if (m >= 1.0) std::frexp(m, &n);
  n += extra_shift;
  // Within half a step below 2^n the largest coefficient would still round up to 2^31.
  if (RoundHalfUp(std::ldexp(m, 31 - n)) >= kBiquadOne) ++n;
  auto quantise = [n](double x) { return RoundHalfUp(std::ldexp(x, 31 - n)); };
  return {{quantise(c.b0), quantise(c.b1), quantise(c.b2), quantise(c.a1), quantise(c.a2)},
          std::ldexp(1.0, n)};
}

void ForceUnityDcGain(BiquadSlot& slot) {
  BiquadCoefficients& c = slot.quantised;
  const double one = kBiquadOne / slot.scale_factor;
  if (c.b0 + c.b1 + c.b2 - c.a1 - c.a2 != one) c.b0 = RoundHalfUp(one - c.b1 - c.b2 + c.a1 + c.a2);
}

void ForceZeroDcGain(BiquadSlot& slot) {
  BiquadCoefficients& c = slot.quantised;
  c.b0 = -(c.b1 + c.b2);
}

std::complex<double> FilterResponse(const BiquadCoefficients& c, double sampling_period_s,
                                    double frequency_hz) {
  const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency_hz * sampling_period_s);
  const Complex z2 = z1 * z1;
  return (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
}

std::complex<double> FilterResponse(const BiquadSlot& slot, double sampling_period_s,
                                    double frequency_hz) {
  const double scale = slot.scale_factor / kBiquadOne;
  const BiquadCoefficients& q = slot.quantised;
  const BiquadCoefficients running{q.b0 * scale, q.b1 * scale, q.b2 * scale, q.a1 * scale,
                                   q.a2 * scale};
  return FilterResponse(running, sampling_period_s, frequency_hz);
}

std::array<std::complex<double>, 2> FilterPoles(const BiquadSlot& slot) {
  const double scale = slot.scale_factor / kBiquadOne;
  const double a1 = slot.quantised.a1 * scale;
  const double a2 = slot.quantised.a2 * scale;
  // z^2 + a1 z + a2.
  const double disc = a1 * a1 - 4.0 * a2;
  if (disc >= 0.0) {
    const double root = std::sqrt(disc);
    return {Complex(0.5 * (-a1 + root)), Complex(0.5 * (-a1 - root))};
  }
  const double im = 0.5 * std::sqrt(-disc);
  return {Complex(-0.5 * a1, im), Complex(-0.5 * a1, -im)};
}

}  // namespace dcservo
