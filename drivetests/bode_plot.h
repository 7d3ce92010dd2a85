#pragma once
// The Bode plot of a measured frequency response beside the loop model's: magnitude (left axis)
// and phase (right axis) over a logarithmic frequency axis, with the measurement's coherence
// as a channel of its own, for the command line's files and the record of a run.

#include <string>
#include <vector>

#include "design/frequency_response.h"
#include "host/zel_file.h"
#include "host/zel_plot_scene.h"

namespace dcservo {

// The PNG, SVG and CSV (empty paths: not wanted) of `measured` and `model`, added to `files`
// to be written together; empty on success, else why none can be written.
std::string BodePlotFiles(const std::string& title, const std::vector<BodePoint>& measured,
                          const std::vector<BodePoint>& model, const std::string& png,
                          const std::string& svg, const std::string& csv,
                          std::vector<ZelFileBytes>& files);

// The same plot for a record: its SVG text, its scene for a toolkit to draw, and its CSV.
struct BodePlot {
  std::string svg;
  ZelPlotScene scene;
  std::string csv;
};
BodePlot BodePlotOf(const std::string& title, const std::vector<BodePoint>& measured,
                    const std::vector<BodePoint>& model);

}  // namespace dcservo
