#include "drivetests/notch_plot.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "design/last_speed_run.h"
#include "host/zel_graph.h"

namespace dcservo {
namespace {

// Exactly at its frequency a notch passes nothing: the plot's depth stops here.
constexpr double kDeepestShown_dB = -100.0;

}  // namespace

NotchPlot DrawNotchPlot(const Spectrum& before, const Spectrum& after,
                        const FilterDescription& notch, double sampling_period_s) {
  CGraphDocument doc;
  const int x = doc.AddChannel("Frequency", "Hz");
  const int was = doc.AddChannel("Current spectrum before the notch", "dB");
  const int now = doc.AddChannel("Current spectrum with the notch", "dB");
  const int gain = doc.AddChannel("Notch", "dB");
  CGraphFilter& curves = *doc.GetAt(0);
  curves.AddCurve("Before the notch", x, was, 1, 1, RGB16(0));
  curves.AddCurve("With the notch", x, now, 1, 2, RGB16(1));
  curves.AddCurve("Notch", x, gain, 2, 1, RGB16(2));

  // The bins above 0 Hz, which a logarithmic axis cannot place.
  std::vector<double> grid;
  for (double f : before.frequency_hz) {
    if (f > 0.0) grid.push_back(f);
  }
  const std::vector<double> levels_was = SpectrumLevelsDb(before, grid);
  const std::vector<double> levels_now = SpectrumLevelsDb(after, grid);
  const std::optional<BiquadCoefficients> c = StoredCoefficientsOf(notch, sampling_period_s);
  for (std::size_t i = 0; i < grid.size() && i < levels_was.size() && i < levels_now.size(); ++i) {
    const double response =
        c ? 20.0 * std::log10(std::abs(FilterResponse(*c, sampling_period_s, grid[i]))) : 0.0;
    doc.AddPoint({grid[i], levels_was[i], levels_now[i], std::max(response, kDeepestShown_dB)});
  }

  CGraphWindow graph;
  graph.SetTitle("The current's spectrum at constant speed, before the notch and with it");
  graph.SetAxisTitle(1, "Current spectrum [dB of 1 A]");
  graph.SetAxisTitle(2, "Notch [dB]");
  graph.SetLogX(true);
  graph.KeepOffScreen(&curves);
  graph.RefreshGraph();
  graph.DoZoomOut();
  NotchPlot plot{ZelGraphSvgText(graph), ZelGraphScene(graph)};
  graph.Detach();
  return plot;
}

}  // namespace dcservo
