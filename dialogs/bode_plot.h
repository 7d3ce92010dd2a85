#pragma once
// The filters' frequency response drawn: the plot document that the filters dialog shows and
// the file that `dcservo filters --bode` writes from the same data. No dialog: the command line
// includes it to write the same picture. It lives with the dialogs because this is the lowest
// floor that sees both the response (design/bode.h, the maths) and the host's graphs: the
// design sees the host only through its setup API, and the host sees no design.

#include <memory>
#include <string>

#include "design/bode.h"
#include "host/zel_graph.h"

namespace dcservo {

inline constexpr char kBodeMagnitudeAxis[] = "Magnitude [dB]";
inline constexpr char kBodePhaseAxis[] = "Phase [deg]";
inline constexpr char kBodeSpectrumAxis[] = "Current [dB A]";

// The response as plot data: channel 0 the frequency, then each curve's magnitude and phase.
// Filter 0 plots the magnitudes (with the measured spectrum on the right axis), filter 1 the
// phases, filter 2 the magnitudes and phases (phase on the right axis).
std::unique_ptr<CGraphDocument> MakeBodeDocument(const BodeData& data);
// Writes the response as a plot (.svg, .png) or as data (.csv), by the file's extension, as
// the dialog draws it: magnitudes and phases, or with a measured spectrum the magnitudes and
// the spectrum. Empty on success, else why nothing was written.
std::string WriteBodeFile(const BodeData& data, const std::string& path);

}  // namespace dcservo
