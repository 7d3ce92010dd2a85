#pragma once
// `dcservo test frequency`: the drive's frequency response measured with its excitation
// program, beside the loop model's (docs/test-command.md).

#include <optional>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/drive_link_option.h"
#include "design/frequency_response.h"

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

// What `tune speed --from-measurement` takes from a saved `test frequency --json`: the
// resonance its plant identified and the speed loop's measured open loop. A file that is not
// such a measurement is refused (CommandError, exit 2) with its name and what is wrong.
// The coupling is read where the file identified one, with the confidence of its fit.
struct FrequencyMeasurement {
  std::optional<double> resonance_hz;
  // The coupling the loop model takes, where the fit was confident (design/two_mass_fit.h).
  std::optional<dcservo::ShaftCoupling> coupling;
  std::vector<dcservo::BodePoint> open_loop;
};
FrequencyMeasurement ReadFrequencyMeasurement(const std::string& path);

// Returns when the measurement ran; throws CommandError for bad input.
void RunFrequencyTest(const CLI::App& cmd, const FrequencyTestOptions& options);
