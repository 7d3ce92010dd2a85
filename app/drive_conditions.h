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

// The longest run the simulated drive is asked for: an hour of drive time already takes
// minutes to simulate.
inline constexpr double kLongestRun_s = 3600.0;

// A time of the run as `option` takes it (seconds, or a time unit after the number): above 0
// (or, `zero_allowed`, from 0) and at most kLongestRun_s. CommandError (bad input) with one
// message for every refusal, a bad number as much as one out of range.
double ParseRunTime(const std::string& text, const std::string& option, bool zero_allowed = false);
