#include "units/timing.h"

#include <cmath>
#include <cstdio>

#include "host/zel_quiet_value.h"
#include "names/drive_names.h"
#include "units/scales.h"

namespace dcservo {
namespace {

double LoopPeriod(const ParameterReader& in, const char* divider) {
  return LoopPeriodOf(in.BaseValue(divider), in.BaseValue(param::PWMPER),
                      in.BaseValue(param::DSP_freq));
}

std::string MinimumPeriodMessage(const char* loop, double limit_s) {
  char text[256];
  std::snprintf(text, sizeof text,
                "The minimum value for %s loop sampling period is %f ms!\nAdjust the PWM "
                "frequency and/or the X loop sampling frequency divider until this condition "
                "is fulfilled!",
                loop, limit_s * 1000.0);
  return text;
}

}  // namespace

double LoopPeriodOf(double divider, double pwmper, double dsp_freq) {
  return 2.0 * divider * pwmper / dsp_freq;
}

double FirstOrderCoefficient(double corner_rad_s, double period_s) {
  return (1.0 - std::exp(-corner_rad_s * period_s)) * kFullScale;
}

double FirstOrderCorner(double coefficient, double period_s) {
  return -std::log(1.0 - coefficient / kFullScale) / period_s;
}

double SlowLoopPeriod(const ParameterReader& in) { return LoopPeriod(in, param::SLPER); }
double FastLoopPeriod(const ParameterReader& in) { return LoopPeriod(in, param::CLPER); }
double SlowLoopPeriod(CZel_Setup& setup) { return SlowLoopPeriod(ParameterReader::Reporting(setup)); }
double FastLoopPeriod(CZel_Setup& setup) { return FastLoopPeriod(ParameterReader::Reporting(setup)); }

double FastLoopPeriodMinimum(CZel_Setup& setup) {
  return ZelQuietBaseValue(setup, param::Ts_C_min);
}
double SlowLoopPeriodMinimum(CZel_Setup& setup) {
  return ZelQuietBaseValue(setup, param::Ts_S_min);
}

std::vector<std::string> CheckMinimumPeriods(CZel_Setup& setup) {
  std::vector<std::string> messages;
  const double fast_min = FastLoopPeriodMinimum(setup);
  if (fast_min > 0.0 && fast_min > setup.GetParameterValueInBaseUnit(param::Ts_C))
    messages.push_back(MinimumPeriodMessage("Fast", fast_min));
  const double slow_min = SlowLoopPeriodMinimum(setup);
  if (slow_min > 0.0 && slow_min > setup.GetParameterValueInBaseUnit(param::Ts_S))
    messages.push_back(MinimumPeriodMessage("Slow", slow_min));
  return messages;
}

}  // namespace dcservo
