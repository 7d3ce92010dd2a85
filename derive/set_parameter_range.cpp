#include "derive/set_parameter_range.h"

#include <cmath>

namespace dcservo {

int SetParameterRange(CZel_Parameter& parameter, double min, double max) {
  if (min > max || std::isnan(min) || std::isnan(max)) return 0;
  if (parameter.GetMinInBaseUnit() > parameter.GetMaxInBaseUnit())
    parameter.SetMaxInBaseUnit(parameter.GetMinInBaseUnit());
  if (min > parameter.GetMaxInBaseUnit()) {
    parameter.SetMaxInBaseUnit(max);
    parameter.SetMinInBaseUnit(min);
  } else {
    parameter.SetMinInBaseUnit(min);
    parameter.SetMaxInBaseUnit(max);
  }
  return 1;
}

}  // namespace dcservo
