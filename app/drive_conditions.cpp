#include "app/drive_conditions.h"

#include <cstdio>

#include "sim/simulated_drive.h"

namespace {

std::string ComposeConditionsHelp(bool with_actions) {
  std::string text = with_actions
                         ? "Faults (--fault NAME or NAME=VALUE, from the start) and actions\n"
                           "(--act NAME=VALUE@SECONDS, at a time of the run):\n"
                         : "Faults (--fault NAME or NAME=VALUE, from the start):\n";
  char line[200], range[48];
  for (const dcsim::ConditionInfo& c : dcsim::Conditions()) {
    range[0] = '\0';
    if (!c.flag) std::snprintf(range, sizeof range, "%g..%g", c.lowest, c.highest);
    std::snprintf(line, sizeof line, "  %-18s %-7s %-14s %s\n", c.name, c.value_help, range,
                  c.help);
    text += line;
  }
  return text;
}

}  // namespace

// `with_actions`: the command also takes --act. Every test sub-command shows the text, and all
// of them are defined for one run: it is composed once.
std::string ConditionsHelp(bool with_actions) {
  if (with_actions) {
    static const std::string text = ComposeConditionsHelp(true);
    return text;
  }
  static const std::string text = ComposeConditionsHelp(false);
  return text;
}

// NAME, NAME=VALUE or (with `timed`) NAME=VALUE@SECONDS.
NameValue ParseCondition(const std::string& text, bool timed) {
  NameValue out;
  std::string rest = text;
  if (timed) {
    const auto at = rest.rfind('@');
    if (at == std::string::npos)
      throw CommandError(kExitBadInput, "\"" + text + "\" is not NAME=VALUE@SECONDS");
    out.time = ParseValue(rest.substr(at + 1), "time of \"" + text + "\"", kUnitTime);
    rest = rest.substr(0, at);
  }
  const auto eq = rest.find('=');
  out.name = rest.substr(0, eq);
  if (eq != std::string::npos) out.value = ParseValue(rest.substr(eq + 1), out.name, kUnitNone);
  else if (timed)
    throw CommandError(kExitBadInput, "\"" + text + "\" is not NAME=VALUE@SECONDS");
  out.value_given = eq != std::string::npos;
  if (out.name.empty()) throw CommandError(kExitBadInput, "\"" + text + "\" names nothing");
  const dcsim::ConditionInfo* condition = dcsim::FindCondition(out.name);
  if (condition && !condition->flag && !out.value_given)
    throw CommandError(kExitBadInput, "\"" + out.name + "\" needs a value: " + out.name + "=" +
                                          condition->value_help);
  return out;
}


double ParseRunTime(const std::string& text, const std::string& option, bool zero_allowed) {
  const std::string bounds = zero_allowed ? "from 0 to " : "above 0 and at most ";
  const std::string refusal = option + " needs a time " + bounds +
                              std::to_string(static_cast<int>(kLongestRun_s)) + " s, not \"" +
                              text + "\"";
  double seconds = 0.0;
  try {
    seconds = ParseValue(text, option, kUnitTime);
  } catch (const CommandError&) {
    throw CommandError(kExitBadInput, refusal);
  }
  const bool above_lowest = zero_allowed ? seconds >= 0.0 : seconds > 0.0;
  if (!(above_lowest && seconds <= kLongestRun_s)) throw CommandError(kExitBadInput, refusal);
  return seconds;
}
