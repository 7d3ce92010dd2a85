#pragma once
// The tuning and filter reports as text, the same for the command line and the dialogs.

#include <string>

#include "design/biquad_designer.h"
#include "design/tune.h"

namespace dcservo {

// Each figure at the resolution the drive holds it (a gain at one count of its chip pair), or
// at four significant digits where the setup knows none.
std::string FormatTuneReport(const LoopTuneReport& report, CZel_Setup& setup);
// The slots and counts as the drive reads them, then each enabled filter.
std::string FormatBiquadReport(const BiquadReport& report);

// "crossover 310 rad/s, phase margin 52.1 deg, gain margin 11.2 dB"
std::string MarginsText(const LoopMargins& margins);

// 20 log10 |gain|; -inf for 0.
double Decibels(double gain);

}  // namespace dcservo
