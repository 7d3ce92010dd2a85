#pragma once
// The speed and position tuning tests on the command line. A generic `test KIND` command
// defines these options for the kinds "speed" and "position" and hands them to RunTuningTest.

#include <string>
#include <vector>

#include "app/command.h"
#include "app/drive_link_option.h"
#include "drivetests/diagnosis.h"

struct TuningTestOptions {
  SetupArgs args;
  std::string positional_setup;
  bool tune = false;
  int cycles = 0;  // 0: one cycle that ends by itself
  bool online = false;
  std::vector<std::string> faults;
  std::string png, svg, csv, out, screenshot;
  bool json = false;
  double limit_s = 600.0;  // simulated seconds a run may take before it is stopped
  DriveLinkOption drive;

  void AddTo(CLI::App& cmd) {
    args.AddTo(cmd);
    cmd.add_option("SETUP", positional_setup, "Drive setup file (same as --setup)");
    cmd.add_flag("--tune", tune, "Press Tune before the run: the gains from the pass band");
    cmd.add_option("--cycles", cycles, "Repeat the profile and press Stop after N cycles")
        ->check(CLI::Range(1, 1000));
    cmd.add_flag("--online", online, "Show the run on line (the scope) instead of uploading it");
    cmd.add_option("--fault", faults, "Fault of the simulated drive, NAME or NAME=VALUE")
        ->allow_extra_args(false);
    cmd.add_option("--png", png, "Save the plot as PNG")->check(OutputFile({".png"}));
    cmd.add_option("--svg", svg, "Save the plot as SVG")->check(OutputFile({".svg"}));
    cmd.add_option("--csv", csv, "Save the plotted data as CSV")->check(OutputFile({".csv"}));
    cmd.add_option("--screenshot", screenshot,
                   "Draw the dialog off screen as PNG: after the run, or for a repeating run "
                   "while it runs, before Stop")
        ->check(OutputFile({".png"}));
    cmd.add_flag("--json", json, "Print the report as JSON");
    cmd.add_option("--out", out, "Save the setup after a successful run (the tuned gains)")
        ->check(FileName());
    drive.AddTo(cmd);
  }
};

// Runs the test of that kind ("speed" or "position") as its dialog runs on the simulated
// drive. A failed run throws CommandError once its verdict is printed; bad input too.
void RunTuningTest(const char* kind, const CLI::App& cmd, const TuningTestOptions& options);

// A failed test on stderr: its own text in readable lines (none when empty), then the cause
// and what to do where the drive or the symptom tells them.
void PrintFailure(const std::string& failure, const dcservo::Diagnosis* diagnosis);
