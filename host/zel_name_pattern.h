#pragma once
// How every list finds names (`params`, `motors list`).

#include <string_view>

namespace zel {

// Whether `name` answers `pattern`: a shell pattern ("DC40*", "Kp_?_scl") matches the whole
// name, any other text anywhere in it; in any case.
bool NameMatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace zel
