#pragma once
// Names of parameters, variables, options and units compare without regard to case. Unit
// names also arrive in two encodings of the same sign ("°C" as the Latin-1 byte 0xB0 or as
// UTF-8), so folding maps the UTF-8 spelling of Latin-1 characters onto the single byte.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// Edits (insert, delete, replace, swap of two neighbours) that turn one folded name into
// the other.
std::size_t NameDistance(std::string_view a, std::string_view b);

// The names nearest to `name` among `candidates`, best first, at most `count`; only names
// close enough to be a slip of the keyboard (or that contain the name) count.
std::vector<std::string> NearestNames(std::string_view name,
                                      const std::vector<std::string>& candidates,
                                      std::size_t count = 3);

// A 64-bit hash of the folded name, computed in one pass without a copy.
std::uint64_t FoldedNameHash(std::string_view name);

// A map by name without regard to case. Every conversion step makes several lookups, so a
// lookup folds and hashes the name in one pass and allocates nothing; entries are found by
// that hash and confirmed by name, so two names that share a hash still stay apart.
template <typename T>
class NameMap {
 public:
  T* Find(std::string_view name) { return const_cast<T*>(std::as_const(*this).Find(name)); }
  const T* Find(std::string_view name) const {
    auto [first, last] = map_.equal_range(FoldedNameHash(name));
    for (auto it = first; it != last; ++it) {
      if (NamesEqual(name, it->second.folded)) return &it->second.value;
    }
    return nullptr;
  }
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // False (and nothing changed) when the name is taken.
  bool Insert(std::string_view name, T value) {
    if (Contains(name)) return false;
    map_.emplace(FoldedNameHash(name), Entry{FoldName(name), std::move(value)});
    return true;
  }
  void Erase(std::string_view name) {
    auto [first, last] = map_.equal_range(FoldedNameHash(name));
    for (auto it = first; it != last; ++it) {
      if (NamesEqual(name, it->second.folded)) {
        map_.erase(it);
        return;
      }
    }
  }
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& [hash, entry] : map_) fn(entry.value);
  }

 private:
  struct Entry {
    std::string folded;
    T value;
  };
  std::unordered_multimap<std::uint64_t, Entry> map_;
};

}  // namespace zel
