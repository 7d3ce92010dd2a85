#pragma once
// The names of the parameters that a fake drive was sent, in order: the order of a gain's
// shift and mantissa is what keeps the drive from running on half a gain.

#include <string>
#include <vector>

#include "tests/support/fake_drive.h"

namespace testing_support {

inline std::vector<std::string> WrittenNames(const FakeDrive& drive) {
  std::vector<std::string> names;
  for (const auto& [name, value] : drive.parameters_written) names.push_back(name);
  return names;
}

}  // namespace testing_support
