#pragma once
// Names of parameters, variables, options and units compare without regard to case. Unit
// names also arrive in two encodings of the same sign ("°C" as the Latin-1 byte 0xB0 or as
// UTF-8), so folding maps the UTF-8 spelling of Latin-1 characters onto the single byte.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// Folded form of a name: ASCII lower case, UTF-8 U+0080..U+00FF as their Latin-1 byte.
std::string FoldName(std::string_view name);

bool NamesEqual(std::string_view a, std::string_view b);
// NamesEqual(name, folded) for a `folded` that FoldName made, in fewer steps.
bool NameMatchesFolded(std::string_view name, std::string_view folded);

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
// lookup folds and hashes the name in one pass, allocates nothing and compares names only
// where the hashes agree: the slots are open addressed (linear probing, at most half full)
// and hold the hash beside the folded name. Two names that share a hash still stay apart.
// A pointer that Find returns lasts until the next Insert or Erase.
template <typename T>
class NameMap {
 public:
  T* Find(std::string_view name) { return const_cast<T*>(std::as_const(*this).Find(name)); }
  const T* Find(std::string_view name) const {
    const std::size_t at = SlotOf(name, FoldedNameHash(name));
    return at == kNone ? nullptr : &slots_[at].value;
  }
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // False (and nothing changed) when the name is taken.
  bool Insert(std::string_view name, T value) {
    const std::uint64_t hash = FoldedNameHash(name);
    if (SlotOf(name, hash) != kNone) return false;
    if (2 * (size_ + 1) > slots_.size()) Grow();
    std::size_t i = hash & mask_;
    while (slots_[i].used) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, FoldName(name), std::move(value), true};
    ++size_;
    return true;
  }
  void Erase(std::string_view name) {
    std::size_t hole = SlotOf(name, FoldedNameHash(name));
    if (hole == kNone) return;
    // Backward shift: each later slot of the run moves into the hole unless its home lies
    // cyclically after the hole, so no probe ever stops short at a gap.
    for (std::size_t i = (hole + 1) & mask_; slots_[i].used; i = (i + 1) & mask_) {
      const std::size_t home = slots_[i].hash & mask_;
      if (((i - home) & mask_) >= ((i - hole) & mask_)) {
        slots_[hole] = std::move(slots_[i]);
        hole = i;
      }
    }
    slots_[hole] = Slot{};
    --size_;
  }
  std::size_t Size() const { return size_; }
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const Slot& slot : slots_) {
      if (slot.used) fn(slot.value);
    }
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::string folded;
    T value{};
    bool used = false;
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t SlotOf(std::string_view name, std::uint64_t hash) const {
    if (slots_.empty()) return kNone;
    for (std::size_t i = hash & mask_; slots_[i].used; i = (i + 1) & mask_) {
      if (slots_[i].hash == hash && NameMatchesFolded(name, slots_[i].folded)) return i;
    }
    return kNone;
  }
  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size());
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (Slot& slot : old) {
      if (!slot.used) continue;
      std::size_t i = slot.hash & mask_;
      while (slots_[i].used) i = (i + 1) & mask_;
      slots_[i] = std::move(slot);
    }
  }
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;  // slots_.size() - 1 once there are slots
  std::size_t size_ = 0;
};

}  // namespace zel
