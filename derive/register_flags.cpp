#include "derive/register_flags.h"

#include <vector>

#include "derive/set_parameter_range.h"
#include "derive/step.h"

namespace dcservo {

std::uint32_t RegisterBits(const CZel_Parameter& chip_register) {
  return static_cast<std::uint32_t>(Truncated(chip_register.GetValueInBaseUnit()));
}

double FlagFromBits(std::uint32_t bits, const RegisterFlag& row) {
  const bool set = (bits & row.mask) != 0;
  return set != row.set_when_flag_clear ? 1.0 : 0.0;
}

std::uint32_t WithBit(std::uint32_t bits, std::uint32_t mask, bool on) {
  return on ? (bits | mask) : (bits & ~mask);
}

std::uint32_t WithFlag(std::uint32_t bits, const RegisterFlag& row, double flag_value) {
  return WithBit(bits, row.mask, IsFlagSet(flag_value) != row.set_when_flag_clear);
}

StepResult ComputeFlagFromRegister(CZel_Setup& setup, const char* register_name, const RegisterFlag& row) {
  auto p = FindParameters(setup, register_name, row.flag);
  if (!p) return StepResult::Missing;
  auto [chip_register, flag] = *p;
  if (!SetParameterRange(*flag, 0.0, 1.0)) return StepResult::Refused;
  return Stored(flag->SetValueInBaseUnit(FlagFromBits(RegisterBits(*chip_register), row)));
}

StepResult ComputeRegisterFromFlags(CZel_Setup& setup, const char* register_name,
                             std::span<const RegisterFlag> rows) {
  CZel_Parameter* chip_register = setup.FindParameter(register_name);
  std::vector<const CZel_Parameter*> flags;
  bool missing = chip_register == nullptr;
  for (const RegisterFlag& row : rows) {
    flags.push_back(setup.FindParameter(row.flag));
    missing = missing || flags.back() == nullptr;
  }
  if (missing) return StepResult::Missing;
  std::uint32_t bits = RegisterBits(*chip_register);
  for (std::size_t i = 0; i < rows.size(); ++i)
    bits = WithFlag(bits, rows[i], flags[i]->GetValueInBaseUnit());
  return Stored(chip_register->SetValueInBaseUnit(bits));
}

}  // namespace dcservo
