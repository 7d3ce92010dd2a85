#include "dialogs/bode_plot.h"

#include <cstdint>

#include "host/zel_dialog.h"
#include "host/zel_file.h"

namespace dcservo {

namespace {

// The phase beside its magnitude on one plot: the same hue, halfway to white, so that each
// pair reads as one response and the two lines as two quantities.
std::uint32_t PhaseShadeOf(std::uint32_t rgb) {
  std::uint32_t shade = 0;
  for (int shift : {16, 8, 0}) {
    const std::uint32_t channel = (rgb >> shift) & 0xFFu;
    shade |= ((channel + 0xFFu + 1u) / 2u) << shift;
  }
  return shade;
}

}  // namespace

std::unique_ptr<CGraphDocument> MakeBodeDocument(const BodeData& data) {
  auto doc = std::make_unique<CGraphDocument>();
  const int x = doc->AddChannel("Frequency", "Hz");
  CGraphFilter& magnitude = *doc->GetAt(0);
  CGraphFilter& phase = *doc->GetAt(doc->AddFilter());
  CGraphFilter& both = *doc->GetAt(doc->AddFilter());
  int colour = 0;
  std::vector<const BodeCurve*> curves;
  for (const BodeCurve& c : data.curves) curves.push_back(&c);
  if (data.open_speed_loop) curves.push_back(&*data.open_speed_loop);
  for (const BodeCurve* curve : curves) {
    const BodeCurve& c = *curve;
    const int mag = doc->AddChannel(c.name + " magnitude", "dB");
    const int ph = doc->AddChannel(c.name + " phase", "deg");
    // Cascades thinner, over the filters they combine.
    const int style = c.filter ? 2 : 1;
    magnitude.AddCurve(c.name, x, mag, 1, style, RGB16(colour));
    phase.AddCurve(c.name, x, ph, 1, style, RGB16(colour));
    both.AddCurve(c.name + " (dB)", x, mag, 1, style, RGB16(colour));
    both.AddCurve(c.name + " (deg)", x, ph, 2, 1, PhaseShadeOf(RGB16(colour)));
    ++colour;
  }
  const bool spectrum = !data.spectrum_db.empty();
  if (spectrum) {
    const int level = doc->AddChannel("Current spectrum", "dB");
    magnitude.AddCurve("Current spectrum", x, level, 2, 1, RGB16(colour));
  }
  for (std::size_t i = 0; i < data.frequency_hz.size(); ++i) {
    std::vector<double> row{data.frequency_hz[i]};
    for (const BodeCurve* c : curves) {
      row.push_back(c->magnitude_db[i]);
      row.push_back(c->phase_deg[i]);
    }
    if (spectrum) row.push_back(data.spectrum_db[i]);
    doc->AddPoint(row);
  }
  return doc;
}

std::string WriteBodeFile(const BodeData& data, const std::string& path) {
  const std::string ext = ZelFileExtension(path);
  std::string (*writer)(const CGraphWindow&, const std::string&) =
      ext == ".svg" ? ZelWriteGraphSvg : ext == ".png" ? ZelWriteGraphPng
                                                       : ext == ".csv" ? ZelWriteGraphCsv : nullptr;
  if (!writer) return path + ": the response is written as .svg, .png or .csv";
  // The writers draw a graph control; this one lives only for the write.
  ZelDialogTemplate tmpl{0, "Frequency response", 0, {}};
  tmpl.controls.push_back({1, ZelControlKind::Graph});
  CZel_Dialog holder(tmpl);
  std::unique_ptr<CGraphDocument> doc = MakeBodeDocument(data);
  CGraphWindow graph;
  const bool spectrum = !data.spectrum_db.empty();
  graph.SetTitle(spectrum ? "Filters' magnitude (left) and the measured current spectrum (right)"
                          : "Magnitude (dB, left) and phase (deg, right) as the drive runs the "
                            "filters");
  graph.SetAxisTitle(1, kBodeMagnitudeAxis);
  graph.SetAxisTitle(2, spectrum ? kBodeSpectrumAxis : kBodePhaseAxis);
  graph.SetLogX(true);
  graph.SubclassDlgItem(1, &holder, doc->GetAt(spectrum ? 0 : 2));
  graph.RefreshGraph();
  graph.DoZoomOut();
  const std::string why = writer(graph, path);
  graph.Detach();
  return why;
}

}  // namespace dcservo
