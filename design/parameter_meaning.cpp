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

}  // namespace

std::string ParameterMeaning(const CZel_Parameter& p) {
  const auto codes = CodedValuesOf(p.GetName());
  if (!codes.empty()) return "coded: " + ListCodeNames(codes);
  if (const char* mantissa = GainMantissaOf(p.GetName()))
    return std::string("fixed-point gain, in the drive's units; chip mantissa ") + mantissa;
  if (p.GetMinInBaseUnit() == 0.0 && p.GetMaxInBaseUnit() == 1.0 &&
      p.GetType() == ZelStorageType::Double && p.GetName().rfind("is", 0) == 0)
    return "flag: 1 on, 0 off";
  const std::string kind = ZelUnitTypeName(p.GetUnitType());
  if (!p.IsStoredInBaseUnit()) return Joined(kind, "kept in the drive's internal units");
  if (p.GetType() != ZelStorageType::Double) return Joined(kind, "chip register" + TypeText(p));
  return kind.empty() ? "scaled value, no unit" : kind;
}

std::string VariableMeaning(const CZel_Variable& v) {
  const std::string kind = ZelUnitTypeName(v.GetUnitType());
  return "live drive variable" + TypeText(v) + (kind.empty() ? "" : ", " + kind);
}

}  // namespace dcservo
