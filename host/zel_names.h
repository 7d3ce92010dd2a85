#pragma once
// Names of parameters, variables, options and units compare without regard to case. Unit
// names also arrive in two encodings of the same sign ("°C" as the Latin-1 byte 0xB0 or as
// UTF-8), so folding maps the UTF-8 spelling of Latin-1 characters onto the single byte.

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// Folded form of a name: ASCII lower case, UTF-8 U+0080..U+00FF as their Latin-1 byte.
std::string FoldName(std::string_view name);

bool NamesEqual(std::string_view a, std::string_view b);

struct FoldedHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const;
};

struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return NamesEqual(a, b); }
};

}  // namespace zel
