#pragma once
// The bits of the drive's packed control registers, each written down once here. The
// simulated drive keeps its own copy (sim/chip_settings.h) on purpose: it reads only what
// the chip parameters say, so a bit that this side got wrong shows as a difference.

#include <cstdint>

namespace dcservo {

// `ACR`, the application control register.
inline constexpr std::uint32_t kAcrAutoActivated = 0x0002;
inline constexpr std::uint32_t kAcrDigitalReferenceType0 = 0x0004;
inline constexpr std::uint32_t kAcrFreezeControl = 0x0010;
inline constexpr std::uint32_t kAcrAnalogueReference = 0x0040;
inline constexpr std::uint32_t kAcrDigitalReference = 0x0080;
inline constexpr std::uint32_t kAcrCurrentLoop = 0x0100;
inline constexpr std::uint32_t kAcrSpeedLoop = 0x0200;  // the speed controller in the loop
inline constexpr std::uint32_t kAcrPositionLoop = 0x0400;
inline constexpr std::uint32_t kAcrSpeedForward = 0x4000;

// `UPGRADE`; its bit 15 must reach the drive cleared.
inline constexpr std::uint32_t kUpgradeLimitMaximum = 0x0004;
inline constexpr std::uint32_t kUpgradePosSpdInFastLoop = 0x0040;
inline constexpr std::uint32_t kUpgradeKeptBits = 0x7FFF;

// `OSR`: the brake resistor and the encoder on the load.
inline constexpr std::uint32_t kOsrBrakeResistor = 0x0200;
inline constexpr std::uint32_t kOsrEncoderOnLoad = 0x1000;

}  // namespace dcservo
