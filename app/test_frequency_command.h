#pragma once
// `dcservo test frequency`: the drive's frequency response measured with its excitation
// program, beside the loop model's (docs/test-command.md).

#include <string>
#include <vector>

#include "app/command.h"
#include "app/drive_link_option.h"

struct FrequencyTestOptions {
  SetupArgs args;
  std::string positional_setup;
  std::string loop = "speed";
  double from_hz = 10.0, to_hz = 1000.0;
  int points = 30;
  double amplitude_A = 0.0;  // 0: a third of the motor's rated current
  std::vector<std::string> faults;
  std::string png, svg, csv;
  bool json = false;
  DriveLinkOption drive;

  void AddTo(CLI::App& cmd);
};

// The exit code; throws CommandError for bad input.
int RunFrequencyTest(const CLI::App& cmd, const FrequencyTestOptions& options);
