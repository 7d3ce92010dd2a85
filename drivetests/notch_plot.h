#pragma once
// The picture of a notch that commissioning placed for a resonance: the current reference's
// spectrum before the notch and with it, and the notch's own response as the drive runs it,
// on one frequency axis, for the record's page and its printed copy.

#include <string>

#include "derive/biquad_slots.h"
#include "design/resonance.h"
#include "host/zel_plot_scene.h"

namespace dcservo {

struct NotchPlot {
  std::string svg;
  ZelPlotScene scene;
};

// Both spectra at the loop's rate `sampling_period_s`; the notch as the user describes it.
NotchPlot DrawNotchPlot(const Spectrum& before, const Spectrum& after,
                        const FilterDescription& notch, double sampling_period_s);

}  // namespace dcservo
