#include "app/setup_session.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/install_layout.h"
#include "host/zel_setup_file.h"


namespace {

std::string Trim(std::string s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

std::pair<std::string, std::string> SplitAssignment(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    throw CommandError(kExitBadInput, "\"" + text + "\" is not NAME=VALUE");
  return {Trim(text.substr(0, eq)), Trim(text.substr(eq + 1))};
}

// Setup files are UTF-8 JSON: an option that is not UTF-8 could not be saved.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3
                               : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    unsigned code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
    static constexpr unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
      return false;
    i += length;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

std::string SetupSession::BundledSetupPath() {
  return install_layout::ResourceDirectory() + "/setups/default.json";
}

SetupSession::SetupSession(const std::string& setup_path)
    : setup_path_(setup_path.empty() ? BundledSetupPath() : setup_path) {
  std::string error;
  plugin_ = PluginModule::Load(PluginModule::DefaultPath(), error);
  if (!plugin_) throw CommandError(kExitFailed, error);
  ZelLoadResult loaded = LoadSetupFile(setup_path_);
  if (!loaded.setup) throw CommandError(kExitBadInput, loaded.error);
  setup_ = std::move(loaded.setup);
  setup_->SetScaleFunctions(plugin_->GetScaleFactor, plugin_->GetScaleOffset);
}

bool SetupSession::IsBundled() const { return SameFile(setup_path_, BundledSetupPath()); }

std::vector<std::string> SplitNameList(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto comma = list.find(',', start);
    const std::string name =
        Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!name.empty()) names.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

double ParseValue(const std::string& text, const std::string& what, int unit_type) {
  const std::string t = Trim(text);
  double value = 0.0;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (first < last && *first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end == first)
    throw CommandError(kExitBadInput, what + ": \"" + text + "\" is not a number");
  if (!std::isfinite(value))
    throw CommandError(kExitBadInput, what + ": \"" + text + "\" is not a finite number");
  const std::string unit_name = Trim(std::string(end, last));
  if (unit_name.empty()) return value;
  const CZel_Unit* unit = ZelUnitTable().FindUnit(unit_name);
  if (!unit || unit->GetUnitType() != unit_type || unit_type == kUnitNone)
    throw CommandError(kExitBadInput,
                       what + ": \"" + unit_name + "\" is not a unit of this quantity");
  return unit->ToBase(value);
}

void SetupSession::ApplyValue(const std::string& text, bool internal) {
  const auto [name, value_text] = SplitAssignment(text);
  CZel_Parameter* p = nullptr;
  {
    ZelQuietErrors quiet;
    p = setup_->FindParameter(name);
  }
  if (!p) throw CommandError(kExitBadInput, "unknown parameter \"" + name + "\"");
  const double value = ParseValue(value_text, name, internal ? kUnitNone : p->GetUnitType());
  const std::string refusal =
      internal ? p->SetUserValueInInternalUnit(value) : p->SetUserValueInBaseUnit(value);
  if (!refusal.empty()) throw CommandError(kExitBadInput, refusal);
}

void SetupSession::Apply(const std::vector<Assignment>& assignments) {
  for (const Assignment& a : assignments) {
    if (a.kind == Assignment::Kind::Option) {
      const auto [name, text] = SplitAssignment(a.text);
      if (!IsUtf8(name) || !IsUtf8(text))
        throw CommandError(kExitBadInput, "option \"" + name + "\": not UTF-8 text");
      setup_->SetOption(name, text);
    } else {
      ApplyValue(a.text, a.kind == Assignment::Kind::Internal);
    }
  }
}

void SetupSession::CheckPrintable(const std::vector<std::string>& names) const {
  ZelQuietErrors quiet;
  for (const std::string& name : names) {
    if (!setup_->FindParameter(name) && !setup_->FindVariable(name, 0) && !setup_->HasOption(name))
      throw CommandError(kExitBadInput, "unknown name \"" + name + "\"");
  }
}

void SetupSession::Print(const std::vector<std::string>& names, bool internal) const {
  ZelQuietErrors quiet;
  for (const std::string& name : names) {
    const CZel_Quantity* q = setup_->FindParameter(name);
    if (!q) q = setup_->FindVariable(name, 0);
    if (q) {
      std::printf("%s=%.17g\n", q->GetName().c_str(),
                  internal ? q->GetValueInInternalUnit() : q->GetValueInBaseUnit());
    } else {
      std::printf("%s=%s\n", name.c_str(), setup_->GetOptionNoError(name).c_str());
    }
  }
}

void SetupSession::Save(const std::string& path) const {
  if (SameFile(path, BundledSetupPath()))
    throw CommandError(kExitBadInput, "the bundled setup is read only; save to another file");
  const std::string error = SaveSetupFile(*setup_, path);
  if (!error.empty()) throw CommandError(kExitFailed, error);
}
