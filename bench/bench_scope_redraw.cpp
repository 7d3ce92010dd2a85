// The on-line scope's redraw in the Qt front end: four channels with 10 s of history at the
// scope's 2 ms points (5000 points a channel), the curves rebuilt from the data and painted
// off screen, as each completed sweep repaints the graph. Target: under 5 ms a redraw.

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

void BM_ScopeRedraw(benchmark::State& state) {
  CGraphDocument doc;
  doc.AddChannel("Time", "s");
  for (int c = 1; c <= kChannels; ++c) doc.AddChannel("ch" + std::to_string(c));
  const int points = static_cast<int>(kHistory_s / kPoint_s);
  for (int i = 0; i < points; ++i) {
    const double t = i * kPoint_s;
    doc.AddPoint({t, std::sin(t), std::sin(t + 0.1), std::cos(3 * t), std::cos(3 * t + 0.2)});
  }
  CGraphFilter* filter = doc.GetAt(0);
  for (int c = 1; c <= kChannels; ++c) filter->AddCurve("ch" + std::to_string(c), 0, c, c > 2 ? 2 : 1, 2, RGB16(c));
  CGraphWindow graph;
  graph.SubclassDlgItem(0, nullptr, filter);
  graph.RefreshGraph();
  graph.DoZoomOut();
  QtGraphView view;
  view.resize(420, 260);
  QImage image(420, 260, QImage::Format_ARGB32);
  for (auto _ : state) {
    view.Rebuild(&graph);
    QPainter painter(&image);
    view.render(&painter);
  }
  state.counters["points"] = points * kChannels;
}
BENCHMARK(BM_ScopeRedraw)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
