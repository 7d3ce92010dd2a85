#pragma once
// One line that says what an entry of a setup is, derived from the setup itself (its codes,
// fixed-point gain encoding, unit type, storage and chip register): `dcservo params` lists
// it, and the commissioning record prints it beside every value it shows.

#include <string>

#include "host/zel_setup.h"

namespace dcservo {

std::string ParameterMeaning(const CZel_Parameter& parameter);
std::string VariableMeaning(const CZel_Variable& variable);

}  // namespace dcservo
