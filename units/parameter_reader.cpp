#include "units/parameter_reader.h"

#include <algorithm>

namespace dcservo {

CZel_Parameter* ParameterReader::Find(std::string_view name) const {
  if (reports_) return setup_.FindParameter(name);
  CZel_Parameter* found = setup_.FindOptionalParameter(name);
  if (!found && std::find(missing_.begin(), missing_.end(), name) == missing_.end())
    missing_.emplace_back(name);
  return found;
}

double ParameterReader::BaseValue(std::string_view name) const {
  const CZel_Parameter* p = Find(name);
  return p ? p->GetValueInBaseUnit() : 0.0;
}

}  // namespace dcservo
