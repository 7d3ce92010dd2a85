#pragma once
// Reading a parameter that a setup may lack, or a live variable that a drive may not answer,
// without telling anyone that it is missing.

#include <limits>
#include <string_view>

#include "host/zel_errors.h"
#include "host/zel_setup.h"

// The base value of a parameter that a setup may lack, looked up without a report.
// A missing one reads NaN, never a number that could pass for a value: it carries through the
// arithmetic, every comparison with it is false and every setter refuses it, so a reading of
// a missing parameter can be neither stored nor sent to a drive. A caller with a default of
// its own says so where it reads (`!(v > 0.0)`, `v < 0.0 ? ... : ...`).
inline double ZelQuietBaseValue(const CZel_Setup& setup, std::string_view name) {
  const CZel_Parameter* p = setup.FindOptionalParameter(name);
  return p ? p->GetValueInBaseUnit() : std::numeric_limits<double>::quiet_NaN();
}

// A live variable read from the drive where a failed read is a gap in a record, not an error:
// its value in base units, or NaN (as above) when the setup lacks the variable or the drive
// does not answer. Its scale may rest on parameters the setup lacks; they are not reported
// either: the reading then is whatever the scale makes of them, as it is for everyone else.
inline double ZelQuietLiveValue(CZel_Setup& setup, std::string_view name) {
  ZelQuietErrors quiet;
  CZel_Variable* v = setup.FindVariable(name, 0);
  return v && v->ReadFromChip() ? v->GetValueInBaseUnit()
                                : std::numeric_limits<double>::quiet_NaN();
}
