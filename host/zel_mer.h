#pragma once
// The drive's protection register MER, as the drive sets it and the host reads it: one home
// for its bits, for the drive (sim/), the tests' status check and the command line.

#include <string>

namespace zel_mer {

inline constexpr unsigned kShortCircuit = 0x0002;   // bit 1
inline constexpr unsigned kControlError = 0x0008;   // bit 3
inline constexpr unsigned kPositiveLimit = 0x0040;  // bit 6
inline constexpr unsigned kNegativeLimit = 0x0080;  // bit 7
inline constexpr unsigned kDisabled = 0x8000;       // bit 15: ENABLE in its disabled state

struct Bit {
  unsigned mask;
  const char* name;
};
// In bit order, with short names for messages of the command line.
inline constexpr Bit kBits[] = {
    {kShortCircuit, "short circuit protection"},
    {kControlError, "control error protection"},
    {kPositiveLimit, "positive limit switch"},
    {kNegativeLimit, "negative limit switch"},
    {kDisabled, "ENABLE input disabled"},
};

// "short circuit protection, bit 4": the conditions of a MER value, in bit order.
inline std::string Describe(unsigned mer) {
  std::string out;
  for (int n = 0; n < 16; ++n) {
    const unsigned bit = 1u << n;
    if (!(mer & bit)) continue;
    std::string name = "bit " + std::to_string(n);
    for (const Bit& b : kBits) {
      if (b.mask == bit) name = b.name;
    }
    out += (out.empty() ? "" : ", ") + name;
  }
  return out;
}

}  // namespace zel_mer
