#pragma once
// The firmware's arithmetic. Loop signals travel as 64-bit numbers with 16 fraction bits
// ("Q16"), so that a small gain on a coarse error (a position loop over a speed loop, a
// speed reference that moves by a fraction of a count per sample) keeps its effect instead
// of rounding to nothing. Chip gains become Q32 multipliers once, when the chip is written,
// so the loops multiply and shift and never divide.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/zel_numeric.h"

namespace dcsim {

using i64 = std::int64_t;
// The firmware's accumulators are wider than its registers.
__extension__ typedef __int128 i128;

// The simulated firmware keeps its own constants, as it reads only the chip parameters: a
// scale that the plug-in got wrong then shows as a difference instead of agreeing with
// itself.
inline constexpr int kFrac = 16;
inline constexpr i64 kOne = i64{1} << kFrac;
inline constexpr double kFullScale = 32767.0;

inline i64 ToQ16(i64 counts) { return counts * kOne; }
// Rounds half up, as the firmware's shift-with-rounding does.
inline i64 FromQ16(i64 q) { return (q + (kOne >> 1)) >> kFrac; }

inline i64 Clamp(i64 x, i64 limit) { return std::clamp(x, -limit, limit); }
inline i128 Clamp(i128 x, i128 limit) { return x < -limit ? -limit : (x > limit ? limit : x); }

// A chip value as the firmware's integer register holds it.
inline i64 ChipInt(double value) {
  return ZelSaturatingCast<i64>(std::clamp(value, -9.2e18, 9.2e18));
}

// A gain stored as mantissa M and shift S acts as M * 2^S / 32767.
struct QGain {
  i64 mult = 0;  // the gain in Q32

  static QGain FromChip(double mantissa, double shift) {
    const double s = std::clamp(static_cast<double>(ChipInt(shift)), 0.0, 30.0);
    const double m = static_cast<double>(ChipInt(mantissa));
    return FromValue(m * std::ldexp(1.0, static_cast<int>(s)) / kFullScale);
  }
  static QGain FromValue(double gain) {
    return QGain{ZelSaturatingRound<i64>(std::clamp(gain, -1.0e9, 1.0e9) * 4294967296.0)};
  }
  double Value() const { return static_cast<double>(mult) / 4294967296.0; }
  bool IsZero() const { return mult == 0; }

  // x times the gain, in x's own fixed-point format.
  i64 Apply(i64 x) const { return static_cast<i64>((static_cast<i128>(x) * mult + (i128{1} << 31)) >> 32); }
  // x times the gain with 32 more fraction bits, for an integrator.
  i128 Wide(i64 x) const { return static_cast<i128>(x) * mult; }
  // An integrator's next sum, acc + Wide(x) limited to +-limit. Every limit of the loops is
  // below 2^63 and so is the sum they hold; the wide sum is needed only when the product
  // itself leaves 64 bits, and a 64-bit sum that overflows is beyond any limit.
  i64 Integrate(i64 acc, i64 x, i64 limit) const {
    i64 product = 0, sum = 0;
    if (__builtin_mul_overflow(x, mult, &product)) [[unlikely]] return IntegrateWide(acc, x, limit);
    if (__builtin_add_overflow(acc, product, &sum)) [[unlikely]] return product < 0 ? -limit : limit;
    return Clamp(sum, limit);
  }

 private:
  // Out of line: the registers it needs would otherwise be saved at every sample.
  [[gnu::cold, gnu::noinline]] i64 IntegrateWide(i64 acc, i64 x, i64 limit) const {
    return static_cast<i64>(Clamp(static_cast<i128>(acc) + Wide(x), static_cast<i128>(limit)));
  }
};

// A chip limit is the distance from full scale: 32767 means no room, 0 the full range.
inline i64 LimitFromChip(double chip) {
  return std::clamp<i64>(32767 - ChipInt(chip), 0, 32767);
}

// First-order low pass y += q (x - y) with q = coefficient / 32767; 32767 passes x as it is.
struct FirstOrder {
  i64 q_mult = i64{1} << 32;
  bool pass = true;

  static FirstOrder FromChip(double coefficient) {
    const i64 c = std::clamp<i64>(ChipInt(coefficient), 0, 32767);
    FirstOrder f;
    f.pass = c >= 32767;
    f.q_mult = QGain::FromValue(static_cast<double>(c) / kFullScale).mult;
    return f;
  }
  i64 Step(i64& state, i64 x) const {
    if (pass) return state = x;
    state += static_cast<i64>((static_cast<i128>(x - state) * q_mult + (i128{1} << 31)) >> 32);
    return state;
  }
};

// One biquad slot: y = (B0 x + B1 x1 + B2 x2 - A1 y1 - A2 y2) * SF / 2^31.
struct BiquadSlot {
  i64 b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  i64 sf = 0;
};

struct BiquadState {
  i64 x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // Q16
};

inline i64 BiquadStep(const BiquadSlot& c, BiquadState& s, i64 x) {
  const i128 acc = static_cast<i128>(c.b0) * x + static_cast<i128>(c.b1) * s.x1 +
                   static_cast<i128>(c.b2) * s.x2 - static_cast<i128>(c.a1) * s.y1 -
                   static_cast<i128>(c.a2) * s.y2;
  const i128 scaled = acc * c.sf + (i128{1} << 30);
  i128 y = scaled >> 31;
  // A slot whose coefficients run away would overflow the state; the firmware saturates.
  const i128 cap = i128{1} << 46;
  y = Clamp(y, cap);
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = static_cast<i64>(y);
  return s.y1;
}

}  // namespace dcsim
