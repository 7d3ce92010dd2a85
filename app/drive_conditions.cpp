#include "app/drive_conditions.h"

#include <cstdio>

#include "sim/simulated_drive.h"

std::string ConditionsHelp() {
  std::string text =
      "Faults (--fault NAME or NAME=VALUE, from the start) and actions\n"
      "(--act NAME=VALUE@SECONDS, at a time of the run):\n";
  char line[160];
  for (const dcsim::ConditionInfo& c : dcsim::Conditions()) {
    std::snprintf(line, sizeof line, "  %-18s %-7s %s\n", c.name, c.value_help, c.help);
    text += line;
  }
  return text;
}

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
  if (out.name.empty()) throw CommandError(kExitBadInput, "\"" + text + "\" names nothing");
  return out;
}

