#pragma once
// Every JSON file the program reads (setups, dialog scripts, motor files, earlier reports,
// spectra) goes through ZelReadJson, so that no file can exhaust the stack, take time out of
// proportion to its size, or lose one of two equal keys. Header-only: the library stays out
// of the host's exported interface.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

// Objects and arrays nest at most this deep in a file that is read: a report nests about
// six, and nothing that is read walks a document of this depth into trouble.
inline constexpr std::size_t kZelMaxJsonDepth = 64;

// Where `text` first nests deeper than `max_depth` arrays and objects (the offset of the
// bracket), or npos. A scan of the bytes ahead of the parser, so that a refusal costs no
// more than reading the text once and names its place.
inline std::size_t ZelJsonNestingPastLimit(std::string_view text, std::size_t max_depth) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string_view::npos;
}

// Builds a document from the parser's events, in time linear in the text: a key goes into
// its object without a search (a key that the object has already stops the parse), and a
// value is built where it stays, never copied into place. Holds for both of the library's
// object kinds; ordered_json's own insertion would search every earlier key.
template <class Json>
class GuardedJsonBuilder {
 public:
  explicit GuardedJsonBuilder(Json& root) : root_(root) {}
  bool null() { return Put(Json(nullptr)); }
  bool boolean(bool v) { return Put(Json(v)); }
  bool number_integer(typename Json::number_integer_t v) { return Put(Json(v)); }
  bool number_unsigned(typename Json::number_unsigned_t v) { return Put(Json(v)); }
  bool number_float(typename Json::number_float_t v, const typename Json::string_t&) {
    return Put(Json(v));
  }
  bool string(typename Json::string_t& v) { return Put(Json(std::move(v))); }
  bool binary(typename Json::binary_t& v) { return Put(Json::binary(std::move(v))); }
  bool start_object(std::size_t) {
    if (!Put(Json::object())) return false;
    // One set of keys per depth, kept from object to object: a setup holds hundreds of small
    // objects, and a set built for each cost more than parsing them.
    if (const std::size_t level = stack_.size(); keys_.size() <= level)
      keys_.resize(level + 1);
    else
      keys_[level].Clear();
    stack_.push_back(placed_);
    return true;
  }
  bool key(typename Json::string_t& k) {
    if (!keys_[stack_.size() - 1].Add(k)) {
      duplicate = k;
      return false;
    }
    key_ = std::move(k);
    return true;
  }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    if (!Put(Json::array())) return false;
    stack_.push_back(placed_);
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }
  // Thrown as its own kind, as json::parse throws it, so that the caller keeps the position.
  [[noreturn]] bool parse_error(std::size_t, const std::string&,
                                const nlohmann::detail::exception& e) {
    if (const auto* syntax = dynamic_cast<const typename Json::parse_error*>(&e)) throw *syntax;
    if (const auto* range = dynamic_cast<const typename Json::out_of_range*>(&e)) throw *range;
    throw e;
  }

  std::string duplicate;

 private:
  bool Put(Json&& value) {
    if (stack_.empty()) {
      root_ = std::move(value);
      placed_ = &root_;
    } else if (Json& parent = *stack_.back(); parent.is_array()) {
      auto& items = parent.template get_ref<typename Json::array_t&>();
      items.push_back(std::move(value));
      placed_ = &items.back();
    } else {
      placed_ = Insert(parent.template get_ref<typename Json::object_t&>(), std::move(value));
    }
    return true;
  }
  template <class Object>
  Json* Insert(Object& object, Json&& value) {
    using Items = std::vector<typename Object::value_type, typename Object::allocator_type>;
    if constexpr (std::is_base_of_v<Items, Object>) {
      // ordered_json: the keys are known to differ, so the item goes at the end unsearched.
      Items& items = object;
      items.emplace_back(std::move(key_), std::move(value));
      return &items.back().second;
    } else {
      return &object.emplace(std::move(key_), std::move(value)).first->second;
    }
  }

  Json& root_;
  Json* placed_ = nullptr;
  std::vector<Json*> stack_;
  std::vector<ObjectKeys> keys_;
  std::string key_;
};

// "line 3, column 14" of the byte at `offset`.
inline std::string ZelTextPlace(std::string_view text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Reads `text` into `out` (nlohmann::json or ordered_json). Refused: a syntax error, text
// that is not UTF-8, a number beyond a double ("line 3, column 14: syntax error ..."), nesting
// deeper than kZelMaxJsonDepth, and a key that its object has already (names compare without
// regard to case; the library would keep the last of two silently). Empty when read, else
// why, without the file's name; `duplicate` is then the key that appears twice, if that was
// the fault. Linear in the text.
template <class Json>
std::string ZelReadJson(std::string_view text, Json& out, std::string* duplicate = nullptr) {
  if (const std::size_t deep = ZelJsonNestingPastLimit(text, kZelMaxJsonDepth);
      deep != std::string_view::npos)
    return ZelTextPlace(text, deep) + ": arrays and objects nest deeper than " +
           std::to_string(kZelMaxJsonDepth);
  GuardedJsonBuilder<Json> builder(out);
  try {
    Json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const typename Json::parse_error& e) {
    out = Json();
    std::string what = e.what();
    if (auto pos = what.find("syntax error"); pos != std::string::npos) what = what.substr(pos);
    return ZelTextPlace(text, e.byte > 0 ? e.byte - 1 : 0) + ": " + what;
  } catch (const typename Json::exception& e) {
    out = Json();
    std::string what = e.what();
    if (auto pos = what.find("] "); pos != std::string::npos) what = what.substr(pos + 2);
    return what;
  }
  if (builder.duplicate.empty()) return {};
  out = Json();
  if (duplicate) *duplicate = builder.duplicate;
  return "key \"" + builder.duplicate + "\" appears twice in one object";
}

}  // namespace zel
