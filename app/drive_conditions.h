#pragma once
// Faults and actions of the simulated drive as the commands take them: NAME, NAME=VALUE or
// NAME=VALUE@SECONDS, and the help text that lists them.

#include <string>

#include "app/command.h"

// The faults and actions with what their values mean, for a command's --help.
std::string ConditionsHelp();

struct NameValue {
  std::string name;
  double value = 1.0;
  double time = 0.0;
};

// NAME, NAME=VALUE or (with `timed`) NAME=VALUE@SECONDS; CommandError on anything else.
NameValue ParseCondition(const std::string& text, bool timed);
