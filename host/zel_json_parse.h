#pragma once
// JSON of the files that the host reads (setups, dialog scripts). Inside host/ only: the
// library stays out of the host's public headers.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/zel_names.h"

namespace zel {

// The keys of one object, compared without regard to case. An object of a setup holds a few
// keys, which are told apart by their hashes in one short scan without an allocation; a set of
// the hashes joins in for an object with many, so that a check stays linear in the text. The
// keys' text is kept in one buffer that outlives Clear: the next object at that depth takes
// its keys in without an allocation.
class ObjectKeys {
 public:
  void Clear() {
    keys_.clear();
    text_.clear();
    hashes_.clear();
  }
  // False (and the key not added) when the object has it already.
  bool Add(std::string_view key) {
    const std::uint64_t hash = FoldedNameHash(key);
    const bool scanned = keys_.size() <= kScannedKeys;
    if ((scanned || hashes_.contains(hash)) && Has(hash, key)) return false;
    keys_.push_back({hash, text_.size(), key.size()});
    text_.append(key);
    if (keys_.size() == kScannedKeys + 1) {
      for (const Key& k : keys_) hashes_.insert(k.hash);
    } else if (!scanned) {
      hashes_.insert(hash);
    }
    return true;
  }

 private:
  static constexpr std::size_t kScannedKeys = 32;
  struct Key {
    std::uint64_t hash;
    std::size_t offset, size;
  };
  bool Has(std::uint64_t hash, std::string_view key) const {
    for (const Key& k : keys_) {
      if (k.hash == hash && NamesEqual(std::string_view(text_).substr(k.offset, k.size), key))
        return true;
    }
    return false;
  }
  std::vector<Key> keys_;
  std::string text_;
  std::unordered_set<std::uint64_t> hashes_;
};

// The library's document builder, stopping at a key that its object already has.
class DuplicateKeySax {
 public:
  using json = nlohmann::json;
  explicit DuplicateKeySax(json& out) : dom_(out, true) {}
  bool null() { return dom_.null(); }
  bool boolean(bool v) { return dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
  bool number_float(json::number_float_t v, const json::string_t& s) {
    return dom_.number_float(v, s);
  }
  bool string(json::string_t& v) { return dom_.string(v); }
  bool binary(json::binary_t& v) { return dom_.binary(v); }
  // One set of keys per depth, kept from object to object: a setup holds hundreds of small
  // objects, and a set built for each cost more than parsing them.
  bool start_object(std::size_t n) {
    if (depth_ == keys_.size())
      keys_.emplace_back();
    else
      keys_[depth_].Clear();
    ++depth_;
    return dom_.start_object(n);
  }
  bool key(json::string_t& k) {
    if (!keys_[depth_ - 1].Add(k)) {
      duplicate = k;
      return false;
    }
    return dom_.key(k);
  }
  bool end_object() {
    --depth_;
    return dom_.end_object();
  }
  bool start_array(std::size_t n) { return dom_.start_array(n); }
  bool end_array() { return dom_.end_array(); }
  // Thrown as its own kind, as json::parse throws it, so that callers keep the position.
  [[noreturn]] bool parse_error(std::size_t, const std::string&,
                                const nlohmann::detail::exception& e) {
    if (const auto* syntax = dynamic_cast<const json::parse_error*>(&e)) throw *syntax;
    if (const auto* range = dynamic_cast<const json::out_of_range*>(&e)) throw *range;
    throw e;
  }

  std::string duplicate;

 private:
  nlohmann::detail::json_sax_dom_parser<json> dom_;
  std::vector<ObjectKeys> keys_;
  std::size_t depth_ = 0;
};

// Parses `text` into `out` as json::parse does (and throws as it does). The library keeps
// the last of two equal keys; a file must not lose one silently, so parsing stops at a key
// that an object already has (names compare without regard to case) and returns it; empty
// when there is none. Linear in the text, however many objects it holds.
inline std::string ParseJsonRefusingDuplicateKeys(std::string_view text, nlohmann::json& out) {
  DuplicateKeySax sax(out);
  nlohmann::json::sax_parse(text.begin(), text.end(), &sax);
  return sax.duplicate;
}

}  // namespace zel
