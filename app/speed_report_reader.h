#pragma once
// A `dcservo test speed --json` report's current spectrum and resonance, as `--spectrum FILE`
// takes them.

#include <string>
#include <string_view>

#include "app/setup_session.h"
#include "design/last_speed_run.h"

// The spectrum of a report's text, read from `file`, for a speed loop sampled every `ts`
// seconds. Bad input (CommandError, exit 2) naming the file and the place when it is no such
// report, or when its log was slower than the loop.
dcservo::MeasuredSpectrum SpeedTestSpectrumFromText(std::string_view text,
                                                    const std::string& file, double ts);
