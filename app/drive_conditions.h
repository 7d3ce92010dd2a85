#pragma once
// Faults and actions of the simulated drive as the commands take them: NAME, NAME=VALUE or
// NAME=VALUE@SECONDS, and the help text that lists them.

#include <string>

#include "app/command.h"

// The faults (and, `with_actions`, the actions) with their values' ranges, for --help.
std::string ConditionsHelp(bool with_actions = true);

struct NameValue {
  std::string name;
  double value = 1.0;  // a flag named alone is set
  bool value_given = false;
  double time = 0.0;
};

// NAME, NAME=VALUE or (with `timed`) NAME=VALUE@SECONDS; CommandError on anything else.
NameValue ParseCondition(const std::string& text, bool timed);
