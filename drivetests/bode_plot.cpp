#include "drivetests/bode_plot.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "drivetests/frequency_response_run.h"
#include "host/zel_graph.h"
#include "names/drive_names.h"

namespace dcservo {

namespace {

// The graph lives on the document that holds its points: both are built and used here.
void WithBodeGraph(const std::string& title, const std::vector<BodePoint>& measured,
                   const std::vector<BodePoint>& model,
                   const std::function<void(CGraphWindow&)>& use) {
  CGraphDocument doc;
  const int x = doc.AddChannel("Frequency", "Hz");
  const int gain = doc.AddChannel("Measured magnitude", "dB");
  const int model_gain = doc.AddChannel("Model magnitude", "dB");
  const int phase = doc.AddChannel("Measured phase", "deg");
  const int model_phase = doc.AddChannel("Model phase", "deg");
  // The coherence goes with the data (CSV) but has no axis of its own in the picture.
  doc.AddChannel("Coherence", "1");
  CGraphFilter& curves = *doc.GetAt(0);
  curves.AddCurve("Measured magnitude", x, gain, 1, 1, RGB16(0));
  curves.AddCurve("Model magnitude", x, model_gain, 1, 2, RGB16(1));
  curves.AddCurve("Measured phase", x, phase, 2, 1, RGB16(2));
  curves.AddCurve("Model phase", x, model_phase, 2, 2, RGB16(3));
  for (std::size_t k = 0; k < measured.size() && k < model.size(); ++k) {
    doc.AddPoint({measured[k].frequency_hz, measured[k].MagnitudeDb(), model[k].MagnitudeDb(),
                  measured[k].PhaseDeg(), model[k].PhaseDeg(), measured[k].coherence});
  }
  CGraphWindow graph;
  graph.SetTitle(title);
  graph.SetAxisTitle(1, "Magnitude [dB]");
  graph.SetAxisTitle(2, "Phase [deg]");
  graph.SetLogX(true);
  graph.KeepOffScreen(&curves);
  graph.RefreshGraph();
  graph.DoZoomOut();
  use(graph);
  graph.Detach();
}

}  // namespace

std::string BodePlotFiles(const std::string& title, const std::vector<BodePoint>& measured,
                          const std::vector<BodePoint>& model, const std::string& png,
                          const std::string& svg, const std::string& csv,
                          std::vector<ZelFileBytes>& files) {
  std::string error;
  WithBodeGraph(title, measured, model,
                [&](CGraphWindow& graph) { error = ZelGraphFiles(graph, png, svg, csv, files); });
  return error;
}

RecordedPlot BodePlotOf(const std::string& title, const std::vector<BodePoint>& measured,
                        const std::vector<BodePoint>& model) {
  RecordedPlot plot;
  WithBodeGraph(title, measured, model, [&plot](CGraphWindow& graph) {
    plot.svg = ZelGraphSvgText(graph);
    plot.scene = ZelGraphScene(graph);
    plot.csv = ZelGraphCsvText(graph);
  });
  return plot;
}

RecordedPlot ExcitationRunPlot(const ExcitationLog& log, const CountScales& scales) {
  CGraphDocument doc;
  const int t = doc.AddChannel("Time", "s");
  const int injection = doc.AddChannel(kInjectionVariable, "A");
  const int reference = doc.AddChannel(var::Current_Reference, "A");
  const int current = doc.AddChannel(var::Motor_Current, "A");
  const int position = doc.AddChannel(var::Motor_Position, "rad");
  CGraphFilter& curves = *doc.GetAt(0);
  curves.AddCurve(kInjectionVariable, t, injection, 1, 1, RGB16(0));
  curves.AddCurve(var::Current_Reference, t, reference, 1, 1, RGB16(1));
  curves.AddCurve(var::Motor_Current, t, current, 1, 1, RGB16(2));
  curves.AddCurve(var::Motor_Position, t, position, 2, 1, RGB16(3));
  const double per_A = scales.current_counts_per_A > 0.0 ? scales.current_counts_per_A : 1.0;
  const double per_rad =
      scales.position_counts_per_rad > 0.0 ? scales.position_counts_per_rad : 1.0;
  const std::size_t n = std::min({log.injection.size(), log.current_reference.size(),
                                  log.current.size(), log.position.size()});
  for (std::size_t k = 0; k < n; ++k) {
    doc.AddPoint({static_cast<double>(k) * log.period_s, log.injection[k] / per_A,
                  log.current_reference[k] / per_A, log.current[k] / per_A,
                  log.position[k] / per_rad});
  }
  CGraphWindow graph;
  char title[80];
  std::snprintf(title, sizeof title, "Frequency response: the run at %.4g Hz", log.frequency_hz);
  graph.SetTitle(title);
  graph.SetAxisTitle(1, "Current [A]");
  graph.SetAxisTitle(2, "Position [rad]");
  graph.KeepOffScreen(&curves);
  graph.RefreshGraph();
  graph.DoZoomOut();
  RecordedPlot plot;
  if (n >= 2) {
    plot.svg = ZelGraphSvgText(graph);
    plot.scene = ZelGraphScene(graph);
  }
  plot.csv = ZelGraphCsvText(graph);
  graph.Detach();
  return plot;
}

}  // namespace dcservo
