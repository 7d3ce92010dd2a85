#include "host/zel_motor_database.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/zel_dialog_setup.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_json_parse.h"
#include "host/zel_name_pattern.h"
#include "host/zel_names.h"
#include "host/zel_setup_file.h"
#include "host/zel_ui_backend.h"

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr char kMotorFormat[] = "dcservo-motor";
constexpr int kMotorFormatVersion = 1;
constexpr std::size_t kMaxNameLength = 64;

std::string& CatalogueOverride() {
  static std::string folder;
  return folder;
}

struct MotorFileRefusal {
  std::string what;
};

double PositiveNumber(const json& root, const char* key) {
  const std::string place = std::string("/") + key;
  auto it = root.find(key);
  if (it == root.end()) throw MotorFileRefusal{place + ": missing"};
  if (!it->is_number() || !std::isfinite(it->get<double>()))
    throw MotorFileRefusal{place + ": a number is expected"};
  const double v = it->get<double>();
  if (v <= 0) throw MotorFileRefusal{place + ": must be above 0, not " + it->dump()};
  return v;
}

ZelMotorData ReadMotor(const json& root) {
  if (!root.is_object()) throw MotorFileRefusal{"/: an object is expected"};
  for (const auto& [key, value] : root.items()) {
    bool known = key == "format" || key == "version" || key == "name";
    for (const ZelMotorField& f : ZelMotorFields()) known = known || key == f.key;
    if (!known) throw MotorFileRefusal{"/" + key + ": unknown key"};
  }
  auto format = root.find("format");
  if (format == root.end() || *format != kMotorFormat)
    throw MotorFileRefusal{std::string("/format: \"") + kMotorFormat + "\" is expected"};
  auto version = root.find("version");
  if (version == root.end() || !version->is_number_integer() ||
      version->get<long long>() != kMotorFormatVersion)
    throw MotorFileRefusal{"/version: version 1 is expected"};
  auto name = root.find("name");
  if (name == root.end() || !name->is_string()) throw MotorFileRefusal{"/name: a text is expected"};
  ZelMotorData m;
  m.name = name->get<std::string>();
  if (std::string why = ZelCheckMotorName(m.name); !why.empty()) {
    throw MotorFileRefusal{"/name: " + why};
  }
  for (const ZelMotorField& f : ZelMotorFields()) m.*(f.value) = PositiveNumber(root, f.key);
  if (m.peak_current_A < m.nominal_current_A)
    throw MotorFileRefusal{"/peak_current_A: below the nominal current"};
  return m;
}

// A code point that reorders the text around it: a name holding one can show as another
// motor's name in a list.
bool IsBidiControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// Empty when `text` is UTF-8 without control characters of either kind, else why not.
std::string CheckNameCharacters(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3
                               : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return "a motor name must be UTF-8 text";
    char32_t code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return "a motor name must be UTF-8 text";
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
      return "a motor name must be UTF-8 text";
    if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
      return "a motor name cannot hold control characters";
    if (IsBidiControl(code)) return "a motor name cannot hold text-direction controls";
    i += length;
  }
  return {};
}

// A skipped file is told once per process, however often the folders are read again.
void WarnOnce(const std::string& problem) {
  static std::vector<std::string> told;
  if (std::find(told.begin(), told.end(), problem) != told.end()) return;
  told.push_back(problem);
  ZelReportWarning(problem);
}

bool IsUserMotorFile(const fs::path& path) {
  return path.extension() == ".json" && path.filename().string()[0] != '.';
}

}  // namespace

std::string ZelCheckMotorName(std::string_view name) {
  if (name.empty()) return "a motor needs a name";
  if (name.size() > kMaxNameLength)
    return "a motor name is at most " + std::to_string(kMaxNameLength) + " characters";
  for (unsigned char c : name) {
    if (c == '/' || c == '\\') return "a motor name cannot hold a path separator";
  }
  if (std::string why = CheckNameCharacters(name); !why.empty()) return why;
  if (name.front() == '.' || name.front() == ' ' || name.back() == ' ')
    return "a motor name cannot start with a dot or start or end with a blank";
  return {};
}

const std::vector<ZelMotorField>& ZelMotorFields() {
  static const std::vector<ZelMotorField> fields = {
      {"peak_current_A", "ImaxM", "Peak current", "A", &ZelMotorData::peak_current_A},
      {"nominal_current_A", "In", "Nominal current", "A", &ZelMotorData::nominal_current_A},
      {"torque_constant_Nm_per_A", "K", "Torque constant", "Nm/A",
       &ZelMotorData::torque_constant_Nm_per_A},
      {"resistance_ohm", "R", "Phase resistance", "ohm", &ZelMotorData::resistance_ohm},
      {"inductance_H", "L", "Phase inductance", "H", &ZelMotorData::inductance_H},
      {"inertia_kgm2", "Jm", "Motor inertia", "kgm^2", &ZelMotorData::inertia_kgm2},
  };
  return fields;
}

ZelMotorParse ZelParseMotorText(std::string_view text, const std::string& origin) {
  ZelMotorParse r;
  try {
    json root;
    std::string twice;
    if (const std::string why = zel::ZelReadJson(text, root, &twice); !why.empty()) {
      if (!twice.empty()) throw MotorFileRefusal{"/" + twice + ": the key appears twice"};
      // Not only syntax: a number too large for a double ends the parse too.
      throw MotorFileRefusal{"not JSON (" + why + ")"};
    }
    r.data = ReadMotor(root);
    r.ok = true;
  } catch (const json::exception& e) {
    r.error = origin + ": not JSON (" + e.what() + ")";
  } catch (const MotorFileRefusal& e) {
    r.error = origin + ": " + e.what;
  }
  return r;
}

std::string ZelMotorToText(const ZelMotorData& motor) {
  ordered_json root;
  root["format"] = kMotorFormat;
  root["version"] = kMotorFormatVersion;
  root["name"] = motor.name;
  for (const ZelMotorField& f : ZelMotorFields()) root[f.key] = motor.*(f.value);
  return root.dump(2) + "\n";
}

ZelMotorData ZelMotorFromSetup(const CZel_Setup& setup, std::string name) {
  ZelMotorData m;
  m.name = std::move(name);
  for (const ZelMotorField& f : ZelMotorFields())
    m.*(f.value) = setup.GetParameterValueInBaseUnit(f.parameter);
  return m;
}

std::string ZelApplyMotorToSetup(CZel_Setup& setup, const ZelMotorData& motor,
                                 std::vector<std::string>* written) {
  // Everything is checked before anything is written; the nominal current is checked
  // against the motor's own peak current, which becomes its maximum.
  std::vector<CZel_Parameter*> params;
  for (const ZelMotorField& f : ZelMotorFields()) {
    CZel_Parameter* p = setup.FindParameter(f.parameter);
    if (!p) return std::string("the setup has no parameter ") + f.parameter;
    const double v = motor.*(f.value);
    const double max = f.value == &ZelMotorData::nominal_current_A
                           ? std::min(p->GetMaxInBaseUnit(), motor.peak_current_A)
                           : p->GetMaxInBaseUnit();
    if (!(v >= p->GetMinInBaseUnit() && v <= max))
      return std::string(f.label) + " " + ZelFormatValue(v) + " " + f.unit +
             " is outside what this drive takes (" + ZelFormatValue(p->GetMinInBaseUnit()) +
             " to " + ZelFormatValue(max) + ")";
    params.push_back(p);
  }
  for (std::size_t i = 0; i < params.size(); ++i) {
    const ZelMotorField& f = ZelMotorFields()[i];
    if (f.value == &ZelMotorData::nominal_current_A) params[i]->SetMaxInBaseUnit(motor.peak_current_A);
    params[i]->SetValueInBaseUnit(motor.*(f.value));
    if (written) written->push_back(f.parameter);
  }
  return {};
}

void ZelSetMotorCatalogueDirectory(std::string folder) { CatalogueOverride() = std::move(folder); }

std::string ZelMotorCatalogueDirectory() {
  if (!CatalogueOverride().empty()) return CatalogueOverride();
  return GetGUIDirectory() + "motors";
}

std::string ZelUserMotorDirectory() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
    return std::string(data) + "/dcservo/motors";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/dcservo/motors";
}

ZelMotorDatabase::ZelMotorDatabase(std::string catalogue_dir, std::string user_dir)
    : catalogue_dir_(std::move(catalogue_dir)), user_dir_(std::move(user_dir)) {
  Reload();
}

ZelMotorDatabase ZelMotorDatabase::Default() {
  return ZelMotorDatabase(ZelMotorCatalogueDirectory(), ZelUserMotorDirectory());
}

void ZelMotorDatabase::Reload() {
  motors_.clear();
  problems_.clear();
  ReadFolder(catalogue_dir_, ZelMotorSource::Catalogue);
  ReadFolder(user_dir_, ZelMotorSource::User);
}

void ZelMotorDatabase::ReadFolder(const std::string& dir, ZelMotorSource source) {
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file(ec) && IsUserMotorFile(e.path())) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  const std::size_t first = motors_.size();
  for (const fs::path& path : files) {
    std::string text;
    const std::string unread = ZelReadFileLimited(path.string(), kZelMaxInputFileBytes, text);
    ZelMotorParse parsed = unread.empty() ? ZelParseMotorText(text, path.string())
                                          : ZelMotorParse{false, {}, unread};
    if (parsed.ok && Find(parsed.data.name) != nullptr)
      parsed = {false, {}, path.string() + ": /name: \"" + parsed.data.name +
                               "\" is already a motor of the database"};
    if (!parsed.ok) {
      problems_.push_back(parsed.error + "; skipped");
      WarnOnce(problems_.back());
      continue;
    }
    motors_.push_back({std::move(parsed.data), source, path.string()});
  }
  std::sort(motors_.begin() + static_cast<std::ptrdiff_t>(first), motors_.end(),
            [](const ZelMotorEntry& a, const ZelMotorEntry& b) { return a.data.name < b.data.name; });
}

const ZelMotorEntry* ZelMotorDatabase::Find(std::string_view name) const {
  for (const ZelMotorEntry& m : motors_) {
    if (zel::NamesEqual(m.data.name, name)) return &m;
  }
  return nullptr;
}

std::vector<const ZelMotorEntry*> ZelMotorDatabase::Matching(std::string_view pattern) const {
  std::vector<const ZelMotorEntry*> found;
  for (const ZelMotorEntry& m : motors_) {
    if (zel::NameMatchesPattern(pattern, m.data.name)) found.push_back(&m);
  }
  return found;
}

std::string ZelMotorDatabase::SaveUserMotor(const ZelMotorData& motor) {
  if (std::string why = ZelCheckMotorName(motor.name); !why.empty()) return why;
  const ZelMotorEntry* existing = Find(motor.name);
  if (existing && existing->source == ZelMotorSource::Catalogue)
    return "\"" + existing->data.name + "\" is a catalogue motor, which cannot be overwritten";
  // The text must read back as a motor before it replaces anything.
  const std::string text = ZelMotorToText(motor);
  if (ZelMotorParse back = ZelParseMotorText(text, motor.name); !back.ok) return back.error;
  std::error_code ec;
  fs::create_directories(user_dir_, ec);
  if (ec) return user_dir_ + ": cannot be created (" + ec.message() + ")";
  const std::string path =
      existing ? existing->path : (fs::path(user_dir_) / (motor.name + ".json")).string();
  if (std::string why = ZelWriteFileAtomically(path, text); !why.empty()) return why;
  Reload();
  return {};
}

std::string ZelMotorDatabase::DeleteUserMotor(std::string_view name) {
  const ZelMotorEntry* m = Find(name);
  if (!m) return "no motor \"" + std::string(name) + "\"";
  if (m->source == ZelMotorSource::Catalogue)
    return "\"" + m->data.name + "\" is a catalogue motor, which cannot be deleted";
  std::error_code ec;
  if (!fs::remove(m->path, ec) || ec) return m->path + ": cannot be removed (" + ec.message() + ")";
  Reload();
  return {};
}
