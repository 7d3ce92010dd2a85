// The on-line scope's redraw in the Qt front end: four channels with 10 s of history at the
// scope's 2 ms points (5000 points a channel), painted off screen. Target: under 5 ms for the
// repaint of a completed sweep.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "app/qt/qt_graph_view.h"
#include "host/zel_graph.h"

namespace {

constexpr int kChannels = 4;
constexpr double kHistory_s = 10.0;
constexpr double kPoint_s = 0.002;

// The four curves of the scope over its history, in a window's model.
struct ScopeHistory {
  ScopeHistory() {
  doc.AddChannel("Time", "s");
  for (int c = 1; c <= kChannels; ++c) doc.AddChannel("ch" + std::to_string(c));
  const int points = static_cast<int>(kHistory_s / kPoint_s);
  for (int i = 0; i < points; ++i) {
    const double t = i * kPoint_s;
    doc.AddPoint({t, std::sin(t), std::sin(t + 0.1), std::cos(3 * t), std::cos(3 * t + 0.2)});
  }
  CGraphFilter* filter = doc.GetAt(0);
  for (int c = 1; c <= kChannels; ++c) filter->AddCurve("ch" + std::to_string(c), 0, c, c > 2 ? 2 : 1, 2, RGB16(c));
  graph.SubclassDlgItem(0, nullptr, filter);
  graph.RefreshGraph();
  graph.DoZoomOut();
  view.resize(420, 260);
  view.show();
  QApplication::processEvents();
  }
  CGraphDocument doc;
  CGraphWindow graph;
  QtGraphView view;
  QImage image{420, 260, QImage::Format_ARGB32};
};

// The curves rebuilt from all the data, then painted: what a new plot costs.
void BM_ScopeRedraw(benchmark::State& state) {
  ScopeHistory h;
  for (auto _ : state) {
    h.view.Rebuild(&h.graph);
    QApplication::processEvents();
    QPainter painter(&h.image);
    h.view.render(&painter);
  }
}
BENCHMARK(BM_ScopeRedraw)->Unit(benchmark::kMillisecond);

// What a completed sweep costs the on-line view, whose points are replaced as frames arrive:
// the curves drawn again with their new values, the new ranges and a full repaint.
void BM_ScopeSweepRepaint(benchmark::State& state) {
  ScopeHistory h;
  h.view.Rebuild(&h.graph);
  CGraphDocument& doc = h.doc;
  int sweep = 0;
  for (auto _ : state) {
    // A new sweep moves the time axis on, so every curve is laid out again.
    state.PauseTiming();
    const double shift = (++sweep % 2) * kPoint_s;
    for (int i = 0; i < doc.GetPointCount(); ++i) {
      std::vector<double> v(5);
      for (int c = 0; c < 5; ++c) v[c] = doc.GetValue(c, i) + (c == 0 ? shift : 0.0);
      doc.SetPoint(i, v);
    }
    h.graph.DoZoomOut();
    state.ResumeTiming();
    h.view.DrawNewPoints(h.graph, true);
    QApplication::processEvents();  // the chart lays its curves out when the loop runs
    QPainter painter(&h.image);
    h.view.render(&painter);
  }
}
BENCHMARK(BM_ScopeSweepRepaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
