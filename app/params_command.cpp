// dcservo params [PATTERN]: what a setup holds, with a one-line meaning for each entry, to
// find a name without reading the setup file.

#include <cstdio>

#include "app/command.h"
#include "derive/display_step.h"
#include "design/coded_values.h"
#include "design/parameter_meaning.h"
#include "host/zel_format.h"
#include "host/zel_name_pattern.h"
#include "units/control_structure.h"

namespace {

struct Entry {
  std::string name, value, range, meaning;
};

std::string UnitText(const CZel_Quantity& q) {
  const std::string unit = q.GetUnitName();
  return unit.empty() ? "" : " " + unit;
}

std::string OptionMeaning(const std::string& name, const std::string& text) {
  std::vector<std::string> values;
  if (!dcservo::ControlStructureOptionValues(name, values) && (text == "0" || text == "1"))
    values = {"0", "1"};
  return values.empty() ? "option, free text" : "option: " + QuoteList(values);
}

std::vector<Entry> AllEntries(CZel_Setup& setup) {
  std::vector<Entry> entries;
  const CZel_Parameters& parameters = setup.GetParameters();
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *parameters[i];
    std::string value = ZelFormatValue(p.GetValueInBaseUnit(), dcservo::DisplayStep(setup, p));
    if (const std::string code =
            dcservo::NameOfCode(dcservo::CodedValuesOf(p.GetName()), p.GetValueInBaseUnit());
        !code.empty())
      value += " (" + code + ")";
    entries.push_back({p.GetName(), value + UnitText(p),
                       "[" + ZelFormatValue(p.GetMinInBaseUnit(), 0.0) + ", " +
                           ZelFormatValue(p.GetMaxInBaseUnit(), 0.0) + "]",
                       dcservo::ParameterMeaning(p)});
  }
  for (const auto& [name, text] : setup.GetOptions())
    entries.push_back({name, "\"" + text + "\"", "", OptionMeaning(name, text)});
  for (const auto& v : setup.GetVariables()) {
    entries.push_back({v->GetName(),
                       ZelFormatValue(v->GetValueInBaseUnit(), dcservo::DisplayStep(setup, *v)) +
                           UnitText(*v),
                       "", dcservo::VariableMeaning(*v)});
  }
  return entries;
}

// A name as every list finds one; a plain text is also looked for in the meaning.
bool Matches(const Entry& e, const std::string& pattern) {
  return zel::NameMatchesPattern(pattern, e.name) ||
         (pattern.find_first_of("*?[") == std::string::npos &&
          zel::FoldName(e.meaning).find(zel::FoldName(pattern)) != std::string::npos);
}

class ParamsCommand : public Command {
 public:
  const char* Name() const override { return "params"; }
  const char* Description() const override {
    return "List parameters, options and live variables with value, unit, range and meaning";
  }
  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("PATTERN", pattern_,
                   "Show only entries whose name or meaning holds this text, or whose name "
                   "matches this shell pattern (\"Kp_*\"); any case");
  }
  void Execute(const CLI::App& cmd) override {
    SetupSession session(args_.setup);
    session.Apply(args_.InOrder(cmd));
    std::vector<Entry> shown;
    for (Entry& e : AllEntries(session.Setup())) {
      if (Matches(e, pattern_)) shown.push_back(std::move(e));
    }
    if (shown.empty())
      throw CommandError(kExitBadInput, "nothing matches \"" + pattern_ + "\"" +
                                            session.Suggest(pattern_, true, true, true));
    for (const Entry& e : shown) {
      std::printf("%s\n", ZelEscapeText(PadTo(e.name, 26) + " " + PadTo(e.value, 24) + " " +
                                        PadTo(e.range, 22) + " " + e.meaning)
                              .c_str());
    }
    return;
  }

 private:
  static std::string PadTo(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
  }
  SetupArgs args_;
  std::string pattern_;
};

}  // namespace

std::unique_ptr<Command> MakeParamsCommand() { return std::make_unique<ParamsCommand>(); }
