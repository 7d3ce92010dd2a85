#include "derive/timing_steps.h"

#include <cmath>

#include "derive/probes.h"
#include "derive/register_bits.h"
#include "derive/set_parameter_range.h"
#include "derive/step.h"
#include "names/drive_names.h"
#include "units/timing.h"

namespace dcservo {
namespace {

StepResult ComputeLoopPeriod(CZel_Setup& setup, const char* divider, const char* period) {
  auto p = FindParameters(setup, divider, param::PWMPER, param::DSP_freq, period);
  if (!p) return StepResult::Missing;
  auto [div, pwmper, dsp, ts] = *p;
  return Stored(ts->SetValueInBaseUnit(LoopPeriodOf(div->GetValueInBaseUnit(), pwmper->GetValueInBaseUnit(),
                                             dsp->GetValueInBaseUnit())));
}

// Rounds half up, as the advanced dialog's dividers are rounded.
double NearestDivider(double dsp_freq, double period, double pwmper) {
  return std::floor(dsp_freq * period * 0.5 / pwmper + 0.5);
}

}  // namespace

StepResult ComputePWM_freq(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::PWM_freq);
  if (!p) return StepResult::Missing;
  auto [dsp, pwmper, freq] = *p;
  return Stored(freq->SetValueInBaseUnit(dsp->GetValueInBaseUnit() * 0.5 / pwmper->GetValueInBaseUnit()));
}

StepResult ComputePWMperiod(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::PWMperiod);
  if (!p) return StepResult::Missing;
  auto [dsp, pwmper, period] = *p;
  return Stored(period->SetValueInBaseUnit(pwmper->GetValueInBaseUnit() * 2.0 /
                                    dsp->GetValueInBaseUnit()));
}

StepResult ComputeTs_C(CZel_Setup& setup) { return ComputeLoopPeriod(setup, param::CLPER, param::Ts_C); }
StepResult ComputeTs_S(CZel_Setup& setup) { return ComputeLoopPeriod(setup, param::SLPER, param::Ts_S); }

StepResult ComputePosSpd_in_FastLoop(CZel_Setup& setup) {
  if (!HasPosSpdInFastLoop(setup)) return StepResult::Done;
  auto p = FindParameters(setup, param::UPGRADE, param::PosSpd_in_FastLoop);
  if (!p) return StepResult::Missing;
  auto [upgrade, fast] = *p;
  if (!SetParameterRange(*fast, 0.0, 1.0)) return StepResult::Refused;
  const auto bits = static_cast<unsigned long long>(Truncated(upgrade->GetValueInBaseUnit()));
  return Stored(fast->SetValueInBaseUnit((bits & kUpgradePosSpdInFastLoop) ? 1.0 : 0.0));
}

StepResult ComputePWMPER(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWM_freq, param::PWMPER);
  if (!p) return StepResult::Missing;
  auto [dsp, freq, pwmper] = *p;
  return Stored(pwmper->SetValueInBaseUnit(dsp->GetValueInBaseUnit() * 0.5 / freq->GetValueInBaseUnit()));
}

StepResult ComputeSATPWM(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::CurrentMeasurementType, param::PWM_freq, param::SATPWM);
  if (!p) return StepResult::Missing;
  auto [type, freq, sat] = *p;
  // 0.13107 is the firmware's constant, not 32767 x 4 us.
  return Stored(sat->SetValueInBaseUnit(type->GetValueInBaseUnit() == 0.0
                                     ? 0.0
                                     : 0.13107 * freq->GetValueInBaseUnit()));
}

StepResult CopySATPWMToCurrentSaturations(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SATPWM, param::SATID, param::SATIQ);
  if (!p) return StepResult::Missing;
  auto [sat, satid, satiq] = *p;
  const double value = sat->GetValueInBaseUnit();
  return Stored(satid->SetValueInBaseUnit(value) & satiq->SetValueInBaseUnit(value));
}

StepResult ApplyPwmFrequencyChange(CZel_Setup& setup, double remembered_Ts_C, double remembered_Ts_S) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::CLPER, param::SLPER);
  if (!p) return StepResult::Missing;
  auto [dsp, pwmper, clper, slper] = *p;
  if (const StepResult pwm = ComputePWMPER(setup); pwm != StepResult::Done) return pwm;
  ComputeSATPWM(setup);
  ComputePWMperiod(setup);
  const double f = dsp->GetValueInBaseUnit();
  const double half_period_clocks = pwmper->GetValueInBaseUnit();
  clper->SetValueInBaseUnit(NearestDivider(f, remembered_Ts_C, half_period_clocks));
  slper->SetValueInBaseUnit(NearestDivider(f, remembered_Ts_S, half_period_clocks));
  ComputeTs_S(setup);
  ComputeTs_C(setup);
  return StepResult::Done;
}

}  // namespace dcservo
