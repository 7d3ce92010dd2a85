#include "app/setup_session.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/zel_setup_file.h"

#ifndef DCSERVO_RESOURCE_DIR
#define DCSERVO_RESOURCE_DIR "resources"
#endif

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

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

std::string SetupSession::BundledSetupPath() {
  if (const char* env = std::getenv("DCSERVO_RESOURCES"); env && *env)
    return std::string(env) + "/setups/default.json";
  return std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json";
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
  if (const std::string misplaced = setup_->CheckScaleInputs(); !misplaced.empty())
    throw CommandError(kExitBadInput, setup_path_ + ": " + misplaced);
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

void SetupSession::RefuseIfErrorsReported(const std::string& consequence) const {
  const std::size_t errors = ZelErrorCount() - errors_at_start_;
  if (errors == 0) return;
  throw CommandError(kExitFailed, std::to_string(errors) +
                                      (errors == 1 ? " error was" : " errors were") +
                                      " reported above; " + consequence);
}

void SetupSession::Save(const std::string& path) const {
  RefuseIfErrorsReported("nothing was saved");
  if (SameFile(path, BundledSetupPath()))
    throw CommandError(kExitBadInput, "the bundled setup is read only; save to another file");
  const std::string error = SaveSetupFile(*setup_, path);
  if (!error.empty()) throw CommandError(kExitFailed, error);
}
