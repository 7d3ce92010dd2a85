#pragma once
// A flag bit of a packed chip register and the scaled flag that it carries. One row serves
// both directions, so each register's layout is written down once, next to its steps.

#include <cstdint>
#include <span>

#include "derive/step.h"
#include "host/zel_setup.h"

namespace dcservo {

struct RegisterFlag {
  const char* flag;  // the scaled parameter
  std::uint32_t mask;
  // The firmware's sense is the flag's opposite: the bit is set when the flag is not 1
  // and reads back as 1 when clear.
  bool set_when_flag_clear = false;
};

// A register's value as the integer the firmware holds.
std::uint32_t RegisterBits(const CZel_Parameter& chip_register);

// 0 or 1, as the flag reads from these bits.
double FlagFromBits(std::uint32_t bits, const RegisterFlag& row);
// The bits with the row's bit following the flag value (truncated and compared with 1).
std::uint32_t WithFlag(std::uint32_t bits, const RegisterFlag& row, double flag_value);
std::uint32_t WithBit(std::uint32_t bits, std::uint32_t mask, bool on);

// Chip to scaled for one flag: range [0, 1], then the bit.
StepResult ComputeFlagFromRegister(CZel_Setup& setup, const char* register_name, const RegisterFlag& row);
// Scaled to chip for a register made of flags only: every other bit is kept.
StepResult ComputeRegisterFromFlags(CZel_Setup& setup, const char* register_name,
                             std::span<const RegisterFlag> rows);

}  // namespace dcservo
