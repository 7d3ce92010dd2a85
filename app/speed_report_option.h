#pragma once
// `--spectrum FILE`: the current spectrum that a `dcservo test speed --json` report measured,
// held for this run of the program as if that test had just run in it, so that the filters
// (the `filters` command, the filters dialog that `edit` opens) show it and place its notch.

#include <string>

#include "app/command.h"
#include "design/last_speed_run.h"

void AddSpectrumOption(CLI::App& cmd, std::string& file, const std::string& what);

// Reads the report and keeps its spectrum for `setup`. Bad input (exit 2) naming the file and
// the place when it is no such report, or when its log was slower than the speed loop: a
// folded spectrum shows a resonance at a frequency where there is none.
dcservo::MeasuredSpectrum TakeSpeedTestSpectrum(const std::string& file, CZel_Setup& setup);

