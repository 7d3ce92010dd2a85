#include "host/zel_setup_file.h"

#include <algorithm>
#include <array>
#include <span>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "host/zel_format.h"
#include "host/zel_json_parse.h"
#include "host/zel_numeric.h"

using nlohmann::json;

namespace {

constexpr const char* kFormatName = "dcservo-setup";

// A refusal of the file's content, with the JSON pointer of the place.
struct FileError {
  std::string place;
  std::string what;
};

// The place of a value: its object's place and its key. A file is read far more often than
// it is refused, so the pointer's text is written only for a refusal.
class Place {
 public:
  Place(const std::string& whole) : parent_(whole) {}
  Place(const char* whole) : parent_(whole) {}
  Place(std::string_view parent, std::string_view key) : parent_(parent), key_(key) {}
  std::string Pointer() const {
    std::string pointer(parent_);
    if (!key_.empty()) pointer.append("/").append(key_);
    return pointer;
  }

 private:
  std::string_view parent_;
  std::string_view key_;
};

[[noreturn]] void Refuse(const Place& place, std::string what) {
  throw FileError{place.Pointer(), std::move(what)};
}

const json& Member(const json& object, const char* key, const std::string& place) {
  auto it = object.find(key);
  if (it == object.end()) Refuse(place, std::string("\"") + key + "\" is missing");
  return *it;
}

// A member's value as the direct reader keeps it: a scalar of the kind the parser announced.
struct SetupScalar {
  enum class Kind { Text, Number, Boolean } kind = Kind::Text;
  std::string text;
  double number = 0.0;
  bool boolean = false;
};

std::string Text(const SetupScalar& value, const Place& place) {
  if (value.kind != SetupScalar::Kind::Text) Refuse(place, "a text is expected");
  return value.text;
}

double Number(const SetupScalar& value, const Place& place) {
  if (value.kind != SetupScalar::Kind::Number) Refuse(place, "a number is expected");
  if (!std::isfinite(value.number)) Refuse(place, "the number is not finite");
  return value.number;
}

bool IsBoolean(const SetupScalar& value) { return value.kind == SetupScalar::Kind::Boolean; }
bool Boolean(const SetupScalar& value) { return value.boolean; }
bool IsBoolean(const json& value) { return value.is_boolean(); }
bool Boolean(const json& value) { return value.get<bool>(); }

std::string Text(const json& value, const Place& place) {
  if (!value.is_string()) Refuse(place, "a text is expected");
  return value.get<std::string>();
}

double Number(const json& value, const Place& place) {
  if (!value.is_number()) Refuse(place, "a number is expected");
  const double v = value.get<double>();
  if (!std::isfinite(v)) Refuse(place, "the number is not finite");
  return v;
}

// Refuses an object with a key that is not `known`. With `members`, each known key's value
// goes to the key's index there (those that the object lacks stay null).
void CheckKeys(const json& object, std::span<const std::string_view> known,
               const std::string& place, const json** members = nullptr) {
  if (!object.is_object()) Refuse(place, "an object is expected");
  for (const auto& [key, value] : object.items()) {
    const auto it = std::find(known.begin(), known.end(), key);
    if (it == known.end()) Refuse(place + "/" + key, "unknown key \"" + key + "\"");
    if (members) members[it - known.begin()] = &value;
  }
}

void CheckKeys(const json& object, std::initializer_list<std::string_view> known,
               const std::string& place) {
  CheckKeys(object, std::span(known.begin(), known.size()), place);
}

// The keys of a parameter, then those that a variable lacks.
enum QuantityKey { kName, kType, kUnit, kKind, kValue, kStorage, kMin, kMax, kQuantityKeys };
constexpr std::string_view kQuantityKeyNames[kQuantityKeys] = {
    "name", "type", "unit", "kind", "value", "storage", "min", "max"};
constexpr std::size_t kVariableKeys = kStorage;

// A quantity from its members (null where the entry lacks one), judged in the order that
// names the first fault of a file.
template <class Member>
CZel_Setup::QuantityDesc QuantityOf(const std::array<const Member*, kQuantityKeys>& m,
                                    const std::string& place, bool is_parameter) {
  CZel_Setup::QuantityDesc d;
  if (!m[kName]) Refuse(place, "\"name\" is missing");
  d.name = Text(*m[kName], {place, "name"});
  if (d.name.empty()) Refuse({place, "name"}, "the name is empty");
  d.type = is_parameter ? ZelStorageType::Double : ZelStorageType::Int16;
  if (m[kType]) {
    const std::string type = Text(*m[kType], {place, "type"});
    if (!ParseStorageType(type, d.type)) Refuse({place, "type"}, "unknown type \"" + type + "\"");
  }
  if (m[kStorage]) {
    const std::string storage = Text(*m[kStorage], {place, "storage"});
    if (storage != "base" && storage != "internal")
      Refuse({place, "storage"}, "\"base\" or \"internal\" is expected");
    d.stored_in_base = storage == "base";
  }
  if (!is_parameter) d.stored_in_base = false;
  if (m[kUnit]) {
    d.unit = Text(*m[kUnit], {place, "unit"});
    if (!ZelUnitTable().FindUnit(d.unit)) Refuse({place, "unit"}, "unknown unit \"" + d.unit + "\"");
  }
  if (m[kKind]) {
    const std::string kind = Text(*m[kKind], {place, "kind"});
    d.unit_type = ZelUnitTypeNamed(kind);
    if (d.unit_type < 0) Refuse({place, "kind"}, "unknown kind of quantity \"" + kind + "\"");
    if (!ZelUnitTable().FindUnitOfType(d.unit, d.unit_type))
      Refuse({place, "kind"}, "\"" + d.unit + "\" is not a unit of " + kind);
  }
  if (is_parameter && !m[kValue]) Refuse(place, "\"value\" is missing");
  if (m[kValue]) d.value = Number(*m[kValue], {place, "value"});
  if (m[kMin]) d.min = Number(*m[kMin], {place, "min"});
  if (m[kMax]) d.max = Number(*m[kMax], {place, "max"});
  if (d.min > d.max)
    Refuse(place, "\"" + d.name + "\": \"min\" is above \"max\" (" +
                      ZelFormatValue(d.min, 0.0) + " > " + ZelFormatValue(d.max, 0.0) + ")");
  // A value kept in base units is the drive's data as a person types it, so its range holds.
  // (One kept in internal units is derived, and its range moves with the derivation.)
  if (is_parameter && d.stored_in_base && (d.value < d.min || d.value > d.max))
    Refuse({place, "value"}, "\"" + d.name + "\" " + ZelFormatValue(d.value, 0.0) +
                                 " is outside its range [" + ZelFormatValue(d.min, 0.0) + ", " +
                                 ZelFormatValue(d.max, 0.0) + "]" +
                                 (d.unit.empty() ? "" : " " + d.unit));
  return d;
}

// A setup holds hundreds of quantities: their members are collected in the one pass that
// checks their keys.
CZel_Setup::QuantityDesc ReadQuantity(const json& entry, const std::string& place,
                                      bool is_parameter) {
  std::array<const json*, kQuantityKeys> m{};
  const std::size_t known = is_parameter ? std::size_t{kQuantityKeys} : kVariableKeys;
  CheckKeys(entry, std::span(kQuantityKeyNames).first(known), place, m.data());
  return QuantityOf(m, place, is_parameter);
}

enum IdentityKey {
  kIdentityDescription,
  kIdentityProductId,
  kIdentityFirmwareId,
  kIdentityApplicationId,
  kIdentityE2romSize,
  kIdentityKeys
};
constexpr std::string_view kIdentityKeyNames[kIdentityKeys] = {
    "description", "product_id", "firmware_id", "application_id", "e2rom_size_words"};

template <class Member>
void SetIdentity(const std::array<const Member*, kIdentityKeys>& m, CZel_Setup& setup) {
  const std::string place = "/identity";
  if (m[kIdentityDescription])
    setup.SetDescription(Text(*m[kIdentityDescription], place + "/description"));
  if (m[kIdentityProductId])
    setup.SetProductID(Text(*m[kIdentityProductId], place + "/product_id"));
  if (m[kIdentityFirmwareId]) {
    if (!setup.SetFirmwareID(Text(*m[kIdentityFirmwareId], place + "/firmware_id")))
      Refuse(place + "/firmware_id",
             "at most 32 letters, digits, '.', '-' or '_' are expected");
  }
  if (m[kIdentityApplicationId]) {
    std::string id = Text(*m[kIdentityApplicationId], place + "/application_id");
    if (id.size() > 40) Refuse(place + "/application_id", "at most 40 characters are expected");
    setup.SetUserAppID(std::move(id));
  }
  if (m[kIdentityE2romSize]) {
    const double words = Number(*m[kIdentityE2romSize], place + "/e2rom_size_words");
    if (words != std::floor(words) || words < 0 || words > 65535)
      Refuse(place + "/e2rom_size_words", "a whole number from 0 to 65535 is expected");
    setup.SetE2ROMSize(static_cast<std::uint16_t>(words));
  }
}

void ReadIdentity(const json& identity, CZel_Setup& setup) {
  std::array<const json*, kIdentityKeys> m{};
  CheckKeys(identity, kIdentityKeyNames, "/identity", m.data());
  SetIdentity(m, setup);
}

void ReadList(const json& root, const char* key, bool required, CZel_Setup& setup,
              bool is_parameter) {
  auto it = root.find(key);
  if (it == root.end()) {
    if (required) Refuse("", std::string("\"") + key + "\" is missing");
    return;
  }
  const std::string place = std::string("/") + key;
  if (!it->is_array()) Refuse(place, "an array is expected");
  for (std::size_t i = 0; i < it->size(); ++i) {
    const std::string entry_place = place + "/" + std::to_string(i);
    const auto desc = ReadQuantity((*it)[i], entry_place, is_parameter);
    const std::string error = is_parameter ? setup.AddParameter(desc) : setup.AddVariable(desc);
    if (!error.empty()) Refuse(entry_place, error);
  }
}

void ReadOptions(const json& root, CZel_Setup& setup) {
  auto it = root.find("options");
  if (it == root.end()) return;
  if (!it->is_object()) Refuse("/options", "an object is expected");
  for (const auto& [name, value] : it->items()) {
    const std::string place = "/options/" + name;
    if (setup.HasOption(name)) Refuse(place, "duplicate option \"" + name + "\"");
    setup.SetOption(name, Text(value, place));
  }
}

// Pins go into an 8-bit field of the drive's brake register, so a pin is 0 to 255.
template <class Member>
int ReadPin(const Member& value, const std::string& place) {
  const double pin = Number(value, place);
  if (pin != std::floor(pin) || pin < 0 || pin > 255)
    Refuse(place, "a pin number from 0 to 255 is expected");
  return static_cast<int>(pin);
}

// An output is its pin, or {"pin", "drive": "sink"|"source", "inverted"} when it is not a
// plain sinking output.
enum OutputKey { kOutputPin, kOutputDrive, kOutputInverted, kOutputKeys };
constexpr std::string_view kOutputKeyNames[kOutputKeys] = {"pin", "drive", "inverted"};

template <class Member>
ZelIOOutput IOOutputOf(const std::array<const Member*, kOutputKeys>& m, const std::string& place) {
  if (!m[kOutputPin]) Refuse(place, "\"pin\" is missing");
  ZelIOOutput out{ReadPin(*m[kOutputPin], place + "/pin")};
  if (m[kOutputDrive]) {
    const std::string drive = Text(*m[kOutputDrive], place + "/drive");
    if (drive != "sink" && drive != "source")
      Refuse(place + "/drive", "\"sink\" or \"source\" is expected");
    out.drive = drive == "source" ? ZelOutputDrive::Source : ZelOutputDrive::Sink;
  }
  if (m[kOutputInverted]) {
    if (!IsBoolean(*m[kOutputInverted])) Refuse(place + "/inverted", "true or false is expected");
    out.inverted = Boolean(*m[kOutputInverted]);
  }
  return out;
}

ZelIOOutput ReadIOOutput(const json& entry, const std::string& place) {
  if (!entry.is_object()) return {ReadPin(entry, place)};
  std::array<const json*, kOutputKeys> m{};
  CheckKeys(entry, kOutputKeyNames, place, m.data());
  return IOOutputOf(m, place);
}

// A pin that an earlier output has.
void RefusePinListedTwice(const std::vector<ZelIOOutput>& listed, const ZelIOOutput& out,
                          const std::string& place) {
  for (const ZelIOOutput& earlier : listed) {
    if (earlier.pin == out.pin)
      Refuse(place, "pin " + std::to_string(out.pin) + " is listed twice");
  }
}

void ReadIOOutputs(const json& root, CZel_Setup& setup) {
  auto it = root.find("io_outputs");
  if (it == root.end()) return;
  if (!it->is_array()) Refuse("/io_outputs", "an array is expected");
  std::vector<ZelIOOutput> outputs;
  for (std::size_t i = 0; i < it->size(); ++i) {
    const std::string place = "/io_outputs/" + std::to_string(i);
    const ZelIOOutput out = ReadIOOutput((*it)[i], place);
    RefusePinListedTwice(outputs, out, place);
    outputs.push_back(out);
  }
  setup.SetIOOutputs(std::move(outputs));
}

json IOOutputsToJson(const CZel_Setup& setup) {
  json list = json::array();
  for (const ZelIOOutput& o : setup.GetIOOutputs()) {
    if (o == ZelIOOutput{o.pin}) {
      list.push_back(o.pin);
      continue;
    }
    list.push_back({{"pin", o.pin},
                    {"drive", o.drive == ZelOutputDrive::Source ? "source" : "sink"},
                    {"inverted", o.inverted}});
  }
  return list;
}

std::unique_ptr<CZel_Setup> ReadSetup(const json& root) {
  CheckKeys(root,
            {"format", "version", "identity", "parameters", "variables", "options", "io_outputs"},
            "");
  if (Text(Member(root, "format", ""), "/format") != kFormatName)
    Refuse("/format", std::string("\"") + kFormatName + "\" is expected");
  const json& version = Member(root, "version", "");
  if (!version.is_number_integer()) Refuse("/version", "a whole number is expected");
  if (version.get<long long>() < 1 || version.get<long long>() > kSetupFormatVersion)
    Refuse("/version", "version " + version.dump() + " is not one this build reads (1 to " +
                           std::to_string(kSetupFormatVersion) + ")");
  auto setup = std::make_unique<CZel_Setup>();
  if (auto it = root.find("identity"); it != root.end()) ReadIdentity(*it, *setup);
  ReadList(root, "parameters", true, *setup, true);
  ReadList(root, "variables", false, *setup, false);
  ReadOptions(root, *setup);
  ReadIOOutputs(root, *setup);
  return setup;
}

// Reads a sound setup file straight from the parser's events into a setup, without a
// document in between: a document of a few hundred small objects cost more to build and
// take apart than the parse itself. At the first thing that is not plainly right it gives
// up, and the document's reader (ReadSetup) judges the file, so that a refusal names the
// same fault in the same words and places as ever. What it accepts it builds as ReadSetup
// would: the same judgement of each member, the parts in ReadSetup's order, options by name.
class DirectSetupReader {
 public:
  // The setup, or null when the document's reader must judge the file.
  std::unique_ptr<CZel_Setup> Read(std::string_view text) {
    if (!json::sax_parse(text.begin(), text.end(), this) || where_ != Where::Done) return nullptr;
    try {
      return Build();
    } catch (const FileError&) {
      return nullptr;
    }
  }

  bool null() { return false; }
  bool binary(json::binary_t&) { return false; }
  bool boolean(bool v) {
    SetupScalar value;
    value.kind = SetupScalar::Kind::Boolean;
    value.boolean = v;
    return Put(std::move(value));
  }
  bool number_integer(json::number_integer_t v) {
    if (where_ == Where::Root && root_key_ == kVersionKey) return TakeVersion(v);
    return PutNumber(static_cast<double>(v));
  }
  bool number_unsigned(json::number_unsigned_t v) {
    if (where_ == Where::Root && root_key_ == kVersionKey)
      return v <= static_cast<json::number_unsigned_t>(kSetupFormatVersion) &&
             TakeVersion(static_cast<long long>(v));
    return PutNumber(static_cast<double>(v));
  }
  bool number_float(json::number_float_t v, const json::string_t&) { return PutNumber(v); }
  bool string(json::string_t& v) {
    SetupScalar value;
    value.text = std::move(v);
    return Put(std::move(value));
  }
  bool key(json::string_t& k) {
    switch (where_) {
      case Where::Root: return TakeKey(kRootKeyNames, k, root_key_, root_seen_);
      case Where::Identity: return TakeMemberKey(kIdentityKeyNames, k);
      case Where::Output: return TakeMemberKey(kOutputKeyNames, k);
      case Where::Quantity:
        return TakeMemberKey(std::span(kQuantityKeyNames)
                                 .first(list_of_parameters_ ? std::size_t{kQuantityKeys}
                                                            : kVariableKeys),
                             k);
      case Where::Options:
        if (!option_keys_.Add(k)) return false;
        option_name_ = std::move(k);
        return true;
      default: return false;
    }
  }
  bool start_object(std::size_t) {
    if (where_ == Where::Start) return Enter(Where::Root);
    if (where_ == Where::List) return Enter(Where::Quantity);
    if (where_ == Where::Outputs) return Enter(Where::Output);
    if (where_ != Where::Root) return false;
    if (root_key_ == kIdentityKey) return Enter(Where::Identity);
    if (root_key_ == kOptionsKey) return Enter(Where::Options);
    return false;
  }
  bool end_object() {
    try {
      switch (where_) {
        case Where::Root: where_ = Where::Done; return true;
        case Where::Identity:
          identity_ = members_;
          identity_given_ = given_;
          break;
        case Where::Quantity:
          (list_of_parameters_ ? parameters_ : variables_)
              .push_back(QuantityOf(Given<kQuantityKeys>(), kNoPlace, list_of_parameters_));
          where_ = Where::List;
          return true;
        case Where::Output:
          TakeOutput(IOOutputOf(Given<kOutputKeys>(), kNoPlace));
          where_ = Where::Outputs;
          return true;
        case Where::Options: break;
        default: return false;
      }
    } catch (const FileError&) {
      return false;
    }
    where_ = Where::Root;
    return true;
  }
  bool start_array(std::size_t) {
    if (where_ != Where::Root) return false;
    if (root_key_ == kParametersKey || root_key_ == kVariablesKey) {
      list_of_parameters_ = root_key_ == kParametersKey;
      where_ = Where::List;
      return true;
    }
    if (root_key_ != kOutputsKey) return false;
    where_ = Where::Outputs;
    return true;
  }
  bool end_array() {
    if (where_ != Where::List && where_ != Where::Outputs) return false;
    where_ = Where::Root;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  enum class Where { Start, Root, Identity, List, Quantity, Options, Outputs, Output, Done };
  enum RootKey {
    kFormatKey, kVersionKey, kIdentityKey, kParametersKey, kVariablesKey, kOptionsKey,
    kOutputsKey, kRootKeys
  };
  static constexpr std::string_view kRootKeyNames[kRootKeys] = {
      "format", "version", "identity", "parameters", "variables", "options", "io_outputs"};
  static constexpr std::size_t kMostMembers = kQuantityKeys;
  inline static const std::string kNoPlace;

  bool Enter(Where where) {
    where_ = where;
    given_ = {};
    return true;
  }
  // A key of `known`, each once.
  template <std::size_t N>
  static bool TakeKey(std::span<const std::string_view> known, std::string_view k,
                      std::size_t& index, std::array<bool, N>& seen) {
    const auto it = std::find(known.begin(), known.end(), k);
    if (it == known.end()) return false;
    index = static_cast<std::size_t>(it - known.begin());
    if (index >= N || seen[index]) return false;
    seen[index] = true;
    return true;
  }
  bool TakeMemberKey(std::span<const std::string_view> known, std::string_view k) {
    return TakeKey(known, k, member_, given_);
  }
  bool TakeVersion(long long v) {
    version_ = v;
    return true;
  }
  bool PutNumber(double v) {
    SetupScalar value;
    value.kind = SetupScalar::Kind::Number;
    value.number = v;
    return Put(std::move(value));
  }
  bool Put(SetupScalar&& value) {
    try {
      switch (where_) {
        case Where::Identity:
        case Where::Quantity:
        case Where::Output: members_[member_] = std::move(value); return true;
        case Where::Options:
          options_.emplace_back(std::move(option_name_), Text(value, kNoPlace));
          return true;
        case Where::Outputs: TakeOutput({ReadPin(value, kNoPlace)}); return true;
        case Where::Root:
          if (root_key_ != kFormatKey) return false;
          format_ = Text(value, kNoPlace);
          return true;
        default: return false;
      }
    } catch (const FileError&) {
      return false;
    }
  }
  // The members given to the object that ends, by their index; null where it lacks one.
  template <std::size_t N>
  std::array<const SetupScalar*, N> Given() const {
    std::array<const SetupScalar*, N> m{};
    for (std::size_t i = 0; i < N; ++i) m[i] = given_[i] ? &members_[i] : nullptr;
    return m;
  }
  void TakeOutput(const ZelIOOutput& out) {
    RefusePinListedTwice(outputs_, out, kNoPlace);
    outputs_.push_back(out);
  }

  std::unique_ptr<CZel_Setup> Build() {
    if (!root_seen_[kFormatKey] || format_ != kFormatName) return nullptr;
    if (!version_ || *version_ < 1 || *version_ > kSetupFormatVersion) return nullptr;
    if (!root_seen_[kParametersKey]) return nullptr;
    auto setup = std::make_unique<CZel_Setup>();
    if (root_seen_[kIdentityKey]) {
      std::array<const SetupScalar*, kIdentityKeys> m{};
      for (std::size_t i = 0; i < m.size(); ++i)
        m[i] = identity_given_[i] ? &identity_[i] : nullptr;
      SetIdentity(m, *setup);
    }
    for (const CZel_Setup::QuantityDesc& d : parameters_)
      if (!setup->AddParameter(d).empty()) return nullptr;
    for (const CZel_Setup::QuantityDesc& d : variables_)
      if (!setup->AddVariable(d).empty()) return nullptr;
    // A document's object lists its keys in order.
    std::sort(options_.begin(), options_.end());
    for (const auto& [name, text] : options_) {
      if (setup->HasOption(name)) return nullptr;
      setup->SetOption(name, text);
    }
    if (root_seen_[kOutputsKey]) setup->SetIOOutputs(std::move(outputs_));
    return setup;
  }

  Where where_ = Where::Start;
  std::size_t root_key_ = kRootKeys, member_ = 0;
  std::array<bool, kRootKeys> root_seen_{};
  bool list_of_parameters_ = true;
  // The members of the object being read.
  std::array<SetupScalar, kMostMembers> members_;
  std::array<bool, kMostMembers> given_{};
  std::array<SetupScalar, kMostMembers> identity_;
  std::array<bool, kMostMembers> identity_given_{};
  zel::ObjectKeys option_keys_;
  std::string option_name_;
  std::string format_;
  std::optional<long long> version_;
  std::vector<CZel_Setup::QuantityDesc> parameters_, variables_;
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<ZelIOOutput> outputs_;
};

// Files written on Latin-1 systems carry the degree sign as the single byte 0xB0, which JSON
// (UTF-8) refuses. Where that byte does not belong to a UTF-8 sequence it is taken as U+00B0;
// every other byte is left for the parser to judge.
std::string DegreeSignAsUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    // Plain ASCII, nearly all of a file, goes across in runs.
    const std::size_t run = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                                         [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; }) -
                            text.begin();
    out.append(text.substr(i, run - i));
    i = run;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2
                               : c >= 0xE0 && c <= 0xEF            ? 3
                               : c >= 0xF0 && c <= 0xF4            ? 4
                                                                   : 0;
    bool sequence = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; sequence && k < length; ++k)
      sequence = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (sequence) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    if (c == 0xB0) out += "\xC2\xB0";
    else out += static_cast<char>(c);
    ++i;
  }
  return out;
}

json QuantityToJson(const CZel_Quantity& q, bool is_parameter) {
  json entry = json::object();
  entry["name"] = q.GetName();
  const ZelStorageType default_type = is_parameter ? ZelStorageType::Double : ZelStorageType::Int16;
  if (q.GetType() != default_type) entry["type"] = StorageTypeName(q.GetType());
  if (is_parameter && !q.IsStoredInBaseUnit()) entry["storage"] = "internal";
  const CZel_Unit& unit = q.GetSelectedUnit();
  if (!unit.GetName().empty()) entry["unit"] = unit.GetName();
  // A name that another kind has first ("rad/s" of a pass band) says which kind it is.
  if (ZelUnitTable().FindUnit(unit.GetName()) != &unit)
    entry["kind"] = ZelUnitTypeName(unit.GetUnitType());
  const double v = q.GetValueInInternalUnit();
  if (q.GetType() == ZelStorageType::Double)
    entry["value"] = v;
  else
    entry["value"] = ZelSaturatingCast<long long>(v);
  return entry;
}

}  // namespace

ZelLoadResult ParseSetupText(std::string_view raw, const std::string& origin) {
  const std::string utf8 = DegreeSignAsUtf8(raw);
  const std::string_view text = utf8;
  ZelLoadResult result;
  if ((result.setup = DirectSetupReader().Read(text))) return result;
  json root;
  if (std::string why = zel::ZelReadJson(text, root); !why.empty()) {
    result.error = origin + ": " + why;
    return result;
  }
  try {
    result.setup = ReadSetup(root);
  } catch (const FileError& e) {
    result.error = origin + ": " + (e.place.empty() ? "/" : e.place) + ": " + e.what;
  } catch (const json::exception& e) {
    result.error = origin + ": " + e.what();
  }
  return result;
}

ZelLoadResult LoadSetupFile(const std::string& path) {
  std::string text;
  std::string error = ZelReadFileLimited(path, kZelMaxInputFileBytes, text);
  if (!error.empty()) return {nullptr, std::move(error)};
  return ParseSetupText(text, path);
}

std::string SetupToText(const CZel_Setup& setup) {
  json root = json::object();
  root["format"] = kFormatName;
  root["version"] = kSetupFormatVersion;
  const ZelIdentity& id = setup.GetIdentity();
  root["identity"] = {{"description", id.description},
                      {"product_id", id.product_id},
                      {"firmware_id", id.firmware_id},
                      {"application_id", id.application_id},
                      {"e2rom_size_words", id.e2rom_size_words}};
  json parameters = json::array();
  const CZel_Parameters& list = setup.GetParameters();
  for (int i = 0; i < list.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *list[i];
    json entry = QuantityToJson(p, true);
    if (std::isfinite(p.GetMinInBaseUnit())) entry["min"] = p.GetMinInBaseUnit();
    if (std::isfinite(p.GetMaxInBaseUnit())) entry["max"] = p.GetMaxInBaseUnit();
    parameters.push_back(std::move(entry));
  }
  root["parameters"] = std::move(parameters);
  json variables = json::array();
  for (const auto& v : setup.GetVariables()) variables.push_back(QuantityToJson(*v, false));
  root["variables"] = std::move(variables);
  json options = json::object();
  for (const auto& [name, text] : setup.GetOptions()) options[name] = text;
  root["options"] = std::move(options);
  if (!setup.GetIOOutputs().empty()) root["io_outputs"] = IOOutputsToJson(setup);
  return root.dump(2) + "\n";
}

std::string SaveSetupFile(const CZel_Setup& setup, const std::string& path) {
  std::string text;
  if (std::string why = SetupFileText(setup, path, text); !why.empty()) return why;
  return ZelWriteFileAtomically(path, text);
}

std::string SetupFileText(const CZel_Setup& setup, const std::string& path, std::string& text) {
  text = SetupToText(setup);
  // A file that this program would refuse to read back is not written.
  if (text.size() > kZelMaxInputFileBytes)
    return path + ": the setup is larger than the most a setup file may hold; nothing was saved";
  if (std::string refusal = ParseSetupText(text, "").error; !refusal.empty())
    return path + ": the setup would not load again (" + refusal.substr(2) +
           "); nothing was saved";
  return {};
}
