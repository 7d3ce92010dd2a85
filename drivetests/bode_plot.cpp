#include "drivetests/bode_plot.h"

#include <functional>

#include "host/zel_graph.h"

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

BodePlot BodePlotOf(const std::string& title, const std::vector<BodePoint>& measured,
                    const std::vector<BodePoint>& model) {
  BodePlot plot;
  WithBodeGraph(title, measured, model, [&plot](CGraphWindow& graph) {
    plot.svg = ZelGraphSvgText(graph);
    plot.scene = ZelGraphScene(graph);
    plot.csv = ZelGraphCsvText(graph);
  });
  return plot;
}

}  // namespace dcservo
