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

int ComputeLoopPeriod(CZel_Setup& setup, const char* divider, const char* period) {
  auto p = FindParameters(setup, divider, param::PWMPER, param::DSP_freq, period);
  if (!p) return 0;
  auto [div, pwmper, dsp, ts] = *p;
  return ts->SetValueInBaseUnit(LoopPeriodOf(div->GetValueInBaseUnit(), pwmper->GetValueInBaseUnit(),
                                             dsp->GetValueInBaseUnit()));
}

// Rounds half up, as the advanced dialog's dividers are rounded.
double NearestDivider(double dsp_freq, double period, double pwmper) {
  return std::floor(dsp_freq * period * 0.5 / pwmper + 0.5);
}

}  // namespace

int ComputePWM_freq(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::PWM_freq);
  if (!p) return 0;
  auto [dsp, pwmper, freq] = *p;
  return freq->SetValueInBaseUnit(dsp->GetValueInBaseUnit() * 0.5 / pwmper->GetValueInBaseUnit());
}

int ComputePWMperiod(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::PWMperiod);
  if (!p) return 0;
  auto [dsp, pwmper, period] = *p;
  return period->SetValueInBaseUnit(pwmper->GetValueInBaseUnit() * 2.0 /
                                    dsp->GetValueInBaseUnit());
}

int ComputeTs_C(CZel_Setup& setup) { return ComputeLoopPeriod(setup, param::CLPER, param::Ts_C); }
int ComputeTs_S(CZel_Setup& setup) { return ComputeLoopPeriod(setup, param::SLPER, param::Ts_S); }

int ComputePosSpd_in_FastLoop(CZel_Setup& setup) {
  if (!HasPosSpdInFastLoop(setup)) return 1;
  auto p = FindParameters(setup, param::UPGRADE, param::PosSpd_in_FastLoop);
  if (!p) return 0;
  auto [upgrade, fast] = *p;
  if (!SetParameterRange(*fast, 0.0, 1.0)) return 0;
  const auto bits = static_cast<unsigned long long>(Truncated(upgrade->GetValueInBaseUnit()));
  return fast->SetValueInBaseUnit((bits & kUpgradePosSpdInFastLoop) ? 1.0 : 0.0);
}

int ComputePWMPER(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWM_freq, param::PWMPER);
  if (!p) return 0;
  auto [dsp, freq, pwmper] = *p;
  return pwmper->SetValueInBaseUnit(dsp->GetValueInBaseUnit() * 0.5 / freq->GetValueInBaseUnit());
}

int ComputeSATPWM(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::CurrentMeasurementType, param::PWM_freq, param::SATPWM);
  if (!p) return 0;
  auto [type, freq, sat] = *p;
  // 0.13107 is the firmware's constant, not 32767 x 4 us.
  return sat->SetValueInBaseUnit(type->GetValueInBaseUnit() == 0.0
                                     ? 0.0
                                     : 0.13107 * freq->GetValueInBaseUnit());
}

int CopySATPWMToCurrentSaturations(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SATPWM, param::SATID, param::SATIQ);
  if (!p) return 0;
  auto [sat, satid, satiq] = *p;
  const double value = sat->GetValueInBaseUnit();
  return satid->SetValueInBaseUnit(value) & satiq->SetValueInBaseUnit(value);
}

int ApplyPwmFrequencyChange(CZel_Setup& setup, double remembered_Ts_C, double remembered_Ts_S) {
  auto p = FindParameters(setup, param::DSP_freq, param::PWMPER, param::CLPER, param::SLPER);
  if (!p) return 0;
  auto [dsp, pwmper, clper, slper] = *p;
  if (!ComputePWMPER(setup)) return 0;
  ComputeSATPWM(setup);
  ComputePWMperiod(setup);
  const double f = dsp->GetValueInBaseUnit();
  const double half_period_clocks = pwmper->GetValueInBaseUnit();
  clper->SetValueInBaseUnit(NearestDivider(f, remembered_Ts_C, half_period_clocks));
  slper->SetValueInBaseUnit(NearestDivider(f, remembered_Ts_S, half_period_clocks));
  ComputeTs_S(setup);
  ComputeTs_C(setup);
  return 1;
}

}  // namespace dcservo
