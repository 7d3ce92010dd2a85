#include "design/parameter_meaning.h"

#include "derive/gains.h"
#include "design/coded_values.h"
#include "host/zel_units.h"

namespace dcservo {

namespace {

std::string TypeText(const CZel_Quantity& q) {
  if (q.GetType() == ZelStorageType::Double) return "";
  return std::string(" (") + StorageTypeName(q.GetType()) + ")";
}

std::string Joined(const std::string& first, const std::string& second) {
  return first.empty() ? second : first + ", " + second;
}

// A unitless 0..1 value named as a question ("isBrake", "IsAuto..."), or one that holds a
// whole 0 or 1 (a switch like SpeedForward): a fraction between them holds neither.
bool IsOnOffFlag(const CZel_Parameter& p, const std::string& kind) {
  if (p.GetMinInBaseUnit() != 0.0 || p.GetMaxInBaseUnit() != 1.0 ||
      p.GetType() != ZelStorageType::Double)
    return false;
  const std::string& name = p.GetName();
  if (name.size() > 2 && (name[0] == 'i' || name[0] == 'I') && name[1] == 's') return true;
  const double v = p.GetValueInBaseUnit();
  return kind.empty() && (v == 0.0 || v == 1.0);
}

}  // namespace

std::string ParameterMeaning(const CZel_Parameter& p) {
  const auto codes = CodedValuesOf(p.GetName());
  if (!codes.empty()) return "coded: " + ListCodeNames(codes);
  if (const char* mantissa = GainMantissaOf(p.GetName()))
    return std::string("fixed-point gain, in the drive's units; chip mantissa ") + mantissa;
  const std::string kind = ZelUnitTypeName(p.GetUnitType());
  if (IsOnOffFlag(p, kind)) return "flag: 1 on, 0 off";
  if (!p.IsStoredInBaseUnit()) return Joined(kind, "kept in the drive's internal units");
  if (p.GetType() != ZelStorageType::Double) return Joined(kind, "chip register" + TypeText(p));
  return kind.empty() ? "scaled value, no unit" : kind;
}

std::string VariableMeaning(const CZel_Variable& v) {
  const std::string kind = ZelUnitTypeName(v.GetUnitType());
  return "live drive variable" + TypeText(v) + (kind.empty() ? "" : ", " + kind);
}

}  // namespace dcservo
