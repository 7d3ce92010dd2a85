#pragma once
// The drive's protection register MER, as the drive sets it and the host reads it: one home
// for its bits, for the drive (sim/), the tests' status check and the command line.

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
    {kShortCircuit, "short circuit"},
    {kControlError, "control error"},
    {kPositiveLimit, "positive limit switch"},
    {kNegativeLimit, "negative limit switch"},
    {kDisabled, "ENABLE off"},
};

}  // namespace zel_mer
