#include "app/setup_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "design/coded_values.h"
#include "derive/display_step.h"
#include "derive/plausibility.h"
#include "host/zel_file.h"
#include "host/zel_format.h"
#include "app/install_layout.h"
#include "host/zel_setup_file.h"
#include "units/control_structure.h"


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

std::string SetupSession::ResourceDirectory() {
  if (const char* env = std::getenv("DCSERVO_RESOURCES"); env && *env) return env;
  return install_layout::ResourceDirectory();
}

std::string SetupSession::BundledSetupPath() { return ResourceDirectory() + "/setups/default.json"; }

SetupSession::SetupSession(const std::string& setup_path)
    : setup_path_(setup_path.empty() ? BundledSetupPath() : setup_path) {
  std::error_code ec;
  if (std::filesystem::is_directory(setup_path_, ec))
    throw CommandError(kExitBadInput, setup_path_ + ": is a folder, not a setup file");
  std::string error;
  plugin_ = PluginModule::Load(PluginModule::DefaultPath(), error);
  if (!plugin_) throw CommandError(kExitFailed, error);
  ZelLoadResult loaded = LoadSetupFile(setup_path_);
  if (!loaded.setup) throw CommandError(kExitBadInput, loaded.error);
  setup_ = std::move(loaded.setup);
  setup_->SetSourceName(IsBundled() ? "bundled drive" : setup_path_);
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
  const CZel_Unit* unit =
      unit_type == kUnitNone ? nullptr : ZelUnitTable().FindUnitOfType(unit_name, unit_type);
  if (!unit) {
    std::vector<std::string> units;
    if (unit_type != kUnitNone) {
      for (const CZel_Unit* u : ZelUnitTable().UnitsOfType(unit_type)) units.push_back(u->GetName());
    }
    // Said when the kinds share a base unit: a pass band in rad/s is no shaft speed in rpm.
    const CZel_Unit* other = ZelUnitTable().FindUnit(unit_name);
    const std::string kinds =
        other && unit_type != kUnitNone
            ? " (\"" + unit_name + "\" is a unit of " + ZelUnitTypeName(other->GetUnitType()) +
                  ", and " + what + " is a quantity of " + ZelUnitTypeName(unit_type) + ")"
            : "";
    throw CommandError(kExitBadInput,
                       what + ": \"" + unit_name + "\" is not a unit of this quantity" +
                           (units.empty() ? std::string("; it takes a plain number")
                                          : "; its units: " + QuoteList(units, ", ")) +
                           kinds);
  }
  return unit->ToBase(value);
}

std::string QuoteList(const std::vector<std::string>& names, const char* last_joint) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? last_joint : ", ";
    out += "\"" + names[i] + "\"";
  }
  return out;
}

std::string SetupSession::Suggest(const std::string& name, bool parameters, bool variables,
                                  bool options) const {
  std::vector<std::string> names;
  if (parameters) {
    const CZel_Parameters& all = setup_->GetParameters();
    for (int i = 0; i < all.GetParametersCount(); ++i) names.push_back(all[i]->GetName());
  }
  if (variables) {
    for (const auto& v : setup_->GetVariables()) names.push_back(v->GetName());
  }
  if (options) {
    for (const auto& [option, text] : setup_->GetOptions()) names.push_back(option);
  }
  return DidYouMean(name, names);
}

std::string DidYouMean(const std::string& name, const std::vector<std::string>& candidates) {
  const auto nearest = zel::NearestNames(name, candidates);
  return nearest.empty() ? "" : " (did you mean " + QuoteList(nearest) + "?)";
}

void SetupSession::ApplyValue(const std::string& text, bool internal) {
  const auto [name, value_text] = SplitAssignment(text);
  CZel_Parameter* p = nullptr;
  {
    ZelQuietErrors quiet;
    p = setup_->FindParameter(name);
  }
  if (!p) {
    const bool is_option = setup_->HasOption(name);
    throw CommandError(kExitBadInput,
                       "unknown parameter \"" + name + "\"" +
                           (is_option ? " (it is an option: --option " + name + "=TEXT)"
                                      : Suggest(name, true, false, false)));
  }
  const auto codes =
      internal ? std::vector<dcservo::CodedValue>{} : dcservo::CodedValuesOf(p->GetName());
  double value = 0.0;
  if (const auto code = dcservo::CodeNamed(codes, value_text)) {
    value = *code;
  } else {
    try {
      value = ParseValue(value_text, name, internal ? kUnitNone : p->GetUnitType());
    } catch (const CommandError& e) {
      if (codes.empty()) throw;
      throw CommandError(e.code, std::string(e.what()) + "; " + name + " takes a number or " +
                                     dcservo::ListCodeNames(codes));
    }
  }
  const std::string refusal =
      internal ? p->SetUserValueInInternalUnit(value) : p->SetUserValueInBaseUnit(value);
  if (!refusal.empty()) throw CommandError(kExitBadInput, refusal);
  std::erase_if(assigned_, [p](const AssignedValue& a) { return a.parameter == p; });
  assigned_.push_back({p, name + "=" + value_text, internal, p->GetValueInInternalUnit()});
}

// An option that the setup does not hold, and that no stage of the plug-in writes, is
// refused; so is a text that is not one of the option's values. An option that holds "0"
// or "1" is a flag.
void SetupSession::ApplyOption(const std::string& text) {
  // Named copies, not a structured binding: lambdas below capture them.
  const auto split = SplitAssignment(text);
  const std::string& name = split.first;
  const std::string& value = split.second;
  if (!IsUtf8(name) || !IsUtf8(value))
    throw CommandError(kExitBadInput, "option \"" + name + "\": not UTF-8 text");
  std::vector<std::string> values;
  const bool listed = dcservo::ControlStructureOptionValues(name, values);
  if (!listed && !setup_->HasOption(name)) {
    ZelQuietErrors quiet;
    if (setup_->FindParameter(name))
      throw CommandError(kExitBadInput, "\"" + name + "\" is a parameter, not an option: --set " +
                                            name + "=VALUE");
    throw CommandError(kExitBadInput,
                       "unknown option \"" + name + "\"" + Suggest(name, false, false, true));
  }
  const std::string current = setup_->GetOptionNoError(name);
  if (!listed && (current == "0" || current == "1")) values = {"0", "1"};
  if (!values.empty() &&
      std::none_of(values.begin(), values.end(),
                   [&](const std::string& v) { return zel::NamesEqual(v, value); }))
    throw CommandError(kExitBadInput, "option " + name + ": \"" + value +
                                          "\" is not one of its values: " +
                                          QuoteList(values));
  // The option keeps the spelling of its listed value ("Tacho" for "tacho").
  std::string stored = value;
  for (const std::string& v : values) {
    if (zel::NamesEqual(v, value)) stored = v;
  }
  setup_->SetOption(name, stored);
  std::erase_if(assigned_options_, [&](const auto& a) { return zel::NamesEqual(a.first, name); });
  assigned_options_.emplace_back(name, stored);
}

void SetupSession::Apply(const std::vector<Assignment>& assignments) {
  for (const Assignment& a : assignments) {
    if (a.kind == Assignment::Kind::Option)
      ApplyOption(a.text);
    else
      ApplyValue(a.text, a.kind == Assignment::Kind::Internal);
  }
}

bool SetupSession::ReportReplaced(const std::string& command, std::string advice) {
  std::string replaced;
  bool options_replaced = false;
  for (const AssignedValue& a : assigned_) {
    CZel_Parameter& p = *a.parameter;
    const double now = p.GetValueInInternalUnit();
    if (now == a.internal_value) continue;
    // A value that only moved within the drive's resolution is what the user typed.
    const double step = dcservo::DisplayStep(*setup_, p);
    const double scale = p.IsStoredInBaseUnit() ? 1.0 : std::abs(p.ScaleFactor());
    if (step > 0.0 && std::abs(now - a.internal_value) * scale <= step / 2.0) continue;
    std::string shown = a.internal ? ZelFormatValue(now, 0.0)
                                   : ZelFormatValue(p.GetValueInBaseUnit(), step);
    if (const std::string code =
            dcservo::NameOfCode(dcservo::CodedValuesOf(p.GetName()), p.GetValueInBaseUnit());
        !a.internal && !code.empty())
      shown += " (" + code + ")";
    replaced += "  " + a.typed + " is now " + shown + "\n";
  }
  for (const auto& [name, text] : assigned_options_) {
    const std::string now = setup_->GetOptionNoError(name);
    if (now == text) continue;
    replaced += "  option " + name + "=" + text + " is now \"" + now + "\"\n";
    options_replaced = true;
  }
  if (options_replaced)
    advice += "; the control-structure options follow ControlMode, PositionControlType and "
              "SensorsConfiguration: set those instead";
  if (replaced.empty()) return false;
  std::fprintf(stderr, "dcservo: %s replaced assigned values by what it derived:\n%s  %s\n",
               command.c_str(), ZelEscapeText(replaced).c_str(), advice.c_str());
  return true;
}

void SetupSession::CheckPrintable(const std::vector<std::string>& names) const {
  ZelQuietErrors quiet;
  for (const std::string& name : names) {
    if (!setup_->FindParameter(name) && !setup_->FindVariable(name, 0) && !setup_->HasOption(name))
      throw CommandError(kExitBadInput,
                         "unknown name \"" + name + "\"" + Suggest(name, true, true, true));
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
  const std::string error = ZelWriteFileAtomically(path, SaveText(path));
  if (!error.empty()) throw CommandError(kExitFailed, error);
}

std::string SetupSession::SaveText(const std::string& path) const {
  RefuseIfErrorsReported("nothing was saved");
  if (SameFile(path, BundledSetupPath()))
    throw CommandError(kExitBadInput, "the bundled setup is read only; save to another file");
  std::string text;
  const std::string error = SetupFileText(*setup_, path, text);
  if (!error.empty()) throw CommandError(kExitFailed, error);
  return text;
}

void SetupSession::RefuseImplausibleMotorData(const std::string& what) {
  const std::string why = dcservo::ImplausibleMotorData(*setup_);
  if (!why.empty()) throw CommandError(kExitBadInput, what + ": " + why);
}
