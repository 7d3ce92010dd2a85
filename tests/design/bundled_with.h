#pragma once
// The bundled drive with some of its values changed, as the design tests start from it.

#include <initializer_list>
#include <memory>
#include <utility>

#include "tests/support/test_setups.h"

namespace design_testing {

// The bundled drive with these base values (the test fails where the setup refuses one).
inline std::unique_ptr<CZel_Setup> BundledWith(
    std::initializer_list<std::pair<const char*, double>> values) {
  auto s = testing_support::LoadBundledSetup();
  for (const auto& [name, value] : values) testing_support::SetBase(*s, name, value);
  return s;
}

}  // namespace design_testing
