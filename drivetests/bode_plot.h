#pragma once
// The Bode plot of a measured frequency response beside the loop model's: magnitude (left axis)
// and phase (right axis) over a logarithmic frequency axis, with the measurement's coherence
// as a channel of its own, for the command line's files and the record of a run; and the
// logged run of one frequency.

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

// A plot for a record: its SVG text, its scene for a toolkit to draw, and its CSV.
struct RecordedPlot {
  std::string svg;
  ZelPlotScene scene;
  std::string csv;
};
// The Bode plot above for a record.
RecordedPlot BodePlotOf(const std::string& title, const std::vector<BodePoint>& measured,
                        const std::vector<BodePoint>& model);
// One frequency's run over time as the drive logged it (a run that the drive stopped): the
// injected sine, the current reference and the motor current (left axis, A) and the motor's
// position (right axis, rad). No SVG nor scene for fewer than two points: one is no curve.
RecordedPlot ExcitationRunPlot(const ExcitationLog& log, const CountScales& scales);

}  // namespace dcservo
