#include "dialogs/filters_dlg.h"

#include <cmath>
#include <cstdio>
#include <complex>
#include <numbers>

#include "derive/pipelines.h"
#include "derive/probes.h"
#include "design/dialog_names.h"
#include "design/notch_placement.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"

namespace dcservo {
namespace {

std::string Indexed(const char* prefix, int filter) { return prefix + std::to_string(filter); }

// Names per filter, in the order the controls are bound.
struct FilterNames {
  std::string on, location, type, q, f1, f2;
};
FilterNames NamesOf(int filter) {
  return {Indexed("BQFilter", filter),   Indexed("BQFilterLocation", filter),
          Indexed("BQFilterType", filter), Indexed("BQFilterQ", filter),
          Indexed("BQFilterF1", filter), Indexed("BQFilterF2", filter)};
}

// The slots and counts that the designer writes, as the setup held them.
std::vector<std::pair<std::string, double>> SaveSlots(const CZel_Setup& setup) {
  std::vector<std::pair<std::string, double>> saved;
  ZelQuietErrors quiet;
  auto keep = [&](const std::string& name) {
    if (const CZel_Parameter* p = setup.FindParameter(name))
      saved.emplace_back(name, p->GetValueInInternalUnit());
  };
  for (const char* name : kBiquadCountNames) keep(name);
  for (int slot = 1; slot <= kBiquadFilterCount; ++slot)
    for (const std::string& name : SlotParameterNames(slot)) keep(name);
  return saved;
}

void RestoreSlots(CZel_Setup& setup, const std::vector<std::pair<std::string, double>>& saved) {
  for (const auto& [name, value] : saved) setup.SetParameterValueInInternalUnit(name, value);
}

// The loop model reads the slots: `work` sees them designed from the filters as the dialog
// shows them, and the setup keeps the slots it held, which follow at OK.
template <class Work>
auto WithSlotsDesigned(CZel_Setup& setup, BiquadReport& report, Work work) {
  const auto saved = SaveSlots(setup);
  CBiquadDesigner().DesignAllFilters(setup, &report);
  auto result = work();
  RestoreSlots(setup, saved);
  return result;
}

// Phase in degrees, continued across the ±180° jumps of the principal value.
void Unwrap(std::vector<double>& phase_deg) {
  for (std::size_t i = 1; i < phase_deg.size(); ++i) {
    while (phase_deg[i] - phase_deg[i - 1] > 180) phase_deg[i] -= 360;
    while (phase_deg[i] - phase_deg[i - 1] < -180) phase_deg[i] += 360;
  }
}

BodeCurve CurveOf(std::string name, int filter, int place, const std::vector<double>& freqs,
                  const std::vector<const BiquadSlot*>& slots, double ts) {
  BodeCurve c{std::move(name), filter, place, {}, {}};
  for (double f : freqs) {
    std::complex<double> h = 1.0;
    for (const BiquadSlot* s : slots) h *= FilterResponse(*s, ts, f);
    c.magnitude_db.push_back(20 * std::log10(std::abs(h)));
    c.phase_deg.push_back(std::arg(h) * 180 / std::numbers::pi);
  }
  Unwrap(c.phase_deg);
  return c;
}

// The open speed loop with the designed slots in place, and what the filters cost it.
void AddSpeedLoop(CZel_Setup& setup, BodeData& data) {
  std::optional<DriveModel> model;
  {
    ZelQuietErrors quiet;  // a setup without the motor's data has no loop to show
    model = DriveModelOf(setup);
  }
  if (!model) return;
  const ModelStructure structure = StructureOfLoop(setup, TunedLoop::Speed);
  data.speed_loop = MarginsOf(*model, structure, TunedLoop::Speed);
  std::vector<double> omega;
  for (double f : data.frequency_hz) omega.push_back(2 * std::numbers::pi * f);
  const auto loop = OpenLoopFrequencyResponse(*model, structure, TunedLoop::Speed, omega);
  BodeCurve curve{"Open speed loop", 0, -1, {}, {}};
  for (const std::complex<double>& l : loop) {
    curve.magnitude_db.push_back(20 * std::log10(std::abs(l)));
    curve.phase_deg.push_back(std::arg(l) * 180 / std::numbers::pi);
  }
  Unwrap(curve.phase_deg);
  data.open_speed_loop = std::move(curve);
  model->speed_reference_filters.clear();
  model->current_reference_filters.clear();
  model->speed_feedback_filters.clear();
  data.speed_loop_unfiltered = MarginsOf(*model, structure, TunedLoop::Speed);
}

// The spectrum that the last speed run measured, where it was logged at the rate that the
// filters run at.
void AddMeasuredSpectrum(const CZel_Setup& setup, BodeData& data) {
  data.measured = LastMeasuredSpectrum(setup);
  if (data.measured && !AtLoopRate(data.measured->current, data.sampling_period_s))
    data.measured.reset();
  if (!data.measured) return;
  data.frequency_hz = WithSpectrumBins(std::move(data.frequency_hz), data.measured->current);
  data.spectrum_db = SpectrumLevelsDb(data.measured->current, data.frequency_hz);
}

}  // namespace

std::string MeasuredSpectrumText(const BodeData& data) {
  if (!data.measured) return {};
  const std::optional<Resonance>& r = data.measured->resonance;
  // One line under the plots, as short as the margins' lines.
  if (!r) return "Measured spectrum: no resonance stands out";
  char text[200];
  std::snprintf(text, sizeof text, "Measured resonance %.0f Hz (%.1f dB): %s", r->frequency_hz,
                r->peak_db, r->limits_loop ? "limits the loop" : "does not limit the loop");
  return text;
}

std::string SpeedLoopMarginsText(const BodeData& data) {
  // Short enough for two lines under the plots.
  auto brief = [](const LoopMargins& m) {
    char text[120];
    std::snprintf(text, sizeof text, "crossover %.4g rad/s, PM %.1f deg, GM %.1f dB%s",
                  m.crossover_rad_s.value_or(0.0), m.phase_margin_deg.value_or(0.0),
                  m.gain_margin_db.value_or(0.0), m.stable ? "" : " (unstable)");
    return std::string(text);
  };
  if (!data.speed_loop) return {};
  std::string text = "Speed loop: " + brief(*data.speed_loop);
  if (data.speed_loop_unfiltered) text += "\nwithout filters: " + brief(*data.speed_loop_unfiltered);
  return text;
}

BodeData ComputeBodeData(CZel_Setup& setup, int points) {
  BodeData data;
  BiquadReport report;
  const bool drawn = WithSlotsDesigned(setup, report, [&] {
    data.sampling_period_s = report.sampling_period_s;
    const double ts = report.sampling_period_s;
    if (!(ts > 0) || points < 2) return false;
    // From a thousandth of the Nyquist frequency up to just below it, where the response of a
    // prewarped design is still finite.
    const double nyquist = 0.5 / ts;
    const double lo = std::log10(nyquist / 1000), hi = std::log10(nyquist * 0.999);
    for (int i = 0; i < points; ++i)
      data.frequency_hz.push_back(std::pow(10.0, lo + (hi - lo) * i / (points - 1)));
    AddMeasuredSpectrum(setup, data);
    AddSpeedLoop(setup, data);
    return true;
  });
  if (!drawn) return data;
  const double ts = report.sampling_period_s;

  std::vector<const BiquadSlot*> by_place[3];
  for (const FilterReport& f : report.filters) {
    if (f.refused) {
      std::string why = f.warnings.empty() ? "it cannot be designed" : f.warnings.front();
      data.refused.push_back("Filter " + std::to_string(f.filter) + ": " + why);
      continue;
    }
    data.curves.push_back(CurveOf("Filter " + std::to_string(f.filter), f.filter, f.place,
                                  data.frequency_hz, {&f.stored}, ts));
    by_place[f.place].push_back(&f.stored);
  }
  for (int place = 0; place < 3; ++place) {
    if (by_place[place].size() < 2) continue;  // one filter is its own cascade
    data.curves.push_back(CurveOf(std::string(FilterPlaceName(place)) + " (all)", 0, place,
                                  data.frequency_hz, by_place[place], ts));
  }
  return data;
}

constexpr char kMagnitudeAxis[] = "Magnitude [dB]";
constexpr char kPhaseAxis[] = "Phase [deg]";
constexpr char kSpectrumAxis[] = "Current [dB A]";
constexpr char kNoResonanceTooltip[] =
    "A speed test logged at the loop's own rate names the resonance that the notch is for";

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
    both.AddCurve(c.name + " (deg)", x, ph, 2, 1, RGB16(colour));
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
  graph.SetAxisTitle(1, kMagnitudeAxis);
  graph.SetAxisTitle(2, spectrum ? kSpectrumAxis : kPhaseAxis);
  graph.SetLogX(true);
  graph.SubclassDlgItem(1, &holder, doc->GetAt(spectrum ? 0 : 2));
  graph.RefreshGraph();
  graph.DoZoomOut();
  const std::string why = writer(graph, path);
  graph.Detach();
  return why;
}

int RunFiltersDialog(CZel_Setup& setup, int test_running, CZel_Dialog* parent) {
  if (!HasBiquadFilters(setup)) return 0;
  SynchroniseSetup(setup);
  CFiltersDialog dialog(setup, test_running, parent);
  const int result = dialog.DoModal();
  if (result == kIdOk) {
    SynchroniseSetup(setup);  // designs the filters into their slots
    if (test_running) dialog.Designer().WriteFiltersToChip(setup);
  }
  return result;
}

const ZelDialogRegistration kFiltersRegistration(dialog_names::kFilters,
                                                 ZelFactoryOf<CFiltersDialog>());

}  // namespace dcservo

using namespace dcservo;

CFiltersDialog::CFiltersDialog(CZel_Setup& setup, int lock, CZel_Dialog* parent)
    : CMySetupDlg(setup, kFiltersTemplate, 1, nullptr, parent), m_nLock(lock) {
  BindControls();
}

CFiltersDialog::~CFiltersDialog() {
  m_MagnitudeGraph.Detach();
  m_PhaseGraph.Detach();
}

void CFiltersDialog::BindControls() {
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddSwitchParameterControls(NamesOf(i + 1).location, kFilterControls[i].location);
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddCheckParameterControls(NamesOf(i + 1).on, kFilterControls[i].on_off);
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddSwitchParameterControls(NamesOf(i + 1).type, kFilterControls[i].type);
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddParameterControls(NamesOf(i + 1).q, kFilterControls[i].q);
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddParameterControls(NamesOf(i + 1).f1, kFilterControls[i].frequency,
                         kFilterControls[i].frequency_unit);
  for (int i = 0; i < kBiquadFilterCount; ++i)
    AddParameterControls(NamesOf(i + 1).f2, kFilterControls[i].second_frequency,
                         kFilterControls[i].second_frequency_unit);
}

const ZelMessageMap* CFiltersDialog::GetMessageMap() const {
  static const std::vector<ZelMessageEntry> kShowAgain = [] {
    std::vector<ZelMessageEntry> entries;
    for (const FilterControls& c : kFilterControls) {
      entries.push_back(ZelOnClicked(c.on_off, &CFiltersDialog::OnShowAgain));
      entries.push_back(ZelOnSelChange(c.type, &CFiltersDialog::OnShowAgain));
      entries.push_back(ZelOnSelChange(c.location, &CFiltersDialog::OnShowAgain));
    }
    return entries;
  }();
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {kShowAgain, {ZelOnClicked(kApplyNotch, &CFiltersDialog::OnApplyNotch)}});
  return &map;
}

int CFiltersDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  FillTypeLists();
  FillLocationLists();
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    RefreshParameterControls(NamesOf(i).type);
    RefreshParameterControls(NamesOf(i).location);
  }
  RefreshAllParameters(0);
  UpdateData(0);
  return 1;
}

void CFiltersDialog::FillTypeLists() {
  std::vector<std::string> names;
  std::vector<int> codes;
  m_Designer.GetOfferedTypes(names, codes);
  for (const FilterControls& c : kFilterControls) {
    ListResetContent(c.type);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const int index = ListAddString(c.type, names[i]);
      if (index >= 0) ListSetItemData(c.type, index, codes[i]);
    }
  }
}

void CFiltersDialog::FillLocationLists() {
  for (const FilterControls& c : kFilterControls) {
    ListResetContent(c.location);
    for (int place = 0; place < 3; ++place) {
      const int index = ListAddString(c.location, kFilterLocationNames[place]);
      if (index >= 0) ListSetItemData(c.location, index, place);
    }
  }
}

void CFiltersDialog::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (pDX->m_bSaveAndValidate) return;
  for (int i = 0; i < kBiquadFilterCount; ++i) ApplyShowingRules(kFilterControls[i], i + 1);
  RedrawResponse();
}

void CFiltersDialog::ApplyShowingRules(const FilterControls& c, int filter) {
  const FilterNames names = NamesOf(filter);
  const bool on = QuietInt(names.on) != 0;
  const int type = QuietInt(names.type);
  const bool leadlag = IsLeadLag(type);
  const bool lock = m_nLock != 0;
  // A first-order low pass has no Q: its field shows empty.
  const bool has_q = on && type != 0;

  RefreshParameterControls(names.q);
  EnableChild(c.box, on);
  EnableChild(c.location_label, on && !lock);
  EnableChild(c.location, on && !lock);
  EnableChild(c.type_label, on);
  EnableChild(c.type, on);
  EnableChild(c.q_label, has_q);
  EnableChild(c.q, has_q, type == 0);
  EnableChild(c.frequency_label, on);
  EnableChild(c.frequency, on);
  EnableChild(c.frequency_unit, on);
  EnableChild(c.second_frequency, on);
  EnableChild(c.second_frequency_unit, on);
  EnableChild(c.on_off, !lock);
  SetChildText(c.on_off, on ? "On" : "Off");
  SetChildText(c.q_label, leadlag ? "Lag Frequency" : "Q");
  SetChildText(c.frequency_label, leadlag ? "Lead Frequency" : "Frequency");
  ShowChild(c.second_frequency, leadlag);
  ShowChild(c.second_frequency_unit, leadlag);
  ShowChild(c.q, !leadlag);
}

void CFiltersDialog::OnShowAgain() { UpdateData(0); }

void CFiltersDialog::OnApplyNotch() {
  if (!m_Bode.measured || !m_Bode.measured->resonance) return;
  const double hz = m_Bode.measured->resonance->frequency_hz;
  BiquadReport designed;
  const NotchPlacement placed =
      WithSlotsDesigned(m_Setup, designed, [&] { return PlaceNotch(m_Setup, hz); });
  if (!placed.filter) {
    MessageBox(placed.refusal, {}, kMbOk | kMbIconWarning);
    return;
  }
  const FilterNames names = NamesOf(placed.filter);
  RefreshParameterControls(names.type);
  RefreshParameterControls(names.location);
  RefreshAllParameters(0);
  UpdateData(0);
}

void CFiltersDialog::OnChangedParameterValue(const std::string& name) {
  CMySetupDlg::OnChangedParameterValue(name);
  // A typed frequency or Q changes the response without a refresh of the rules.
  RedrawResponse();
}

void CFiltersDialog::RedrawResponse() {
  m_Bode = ComputeBodeData(m_Setup);
  AttachGraphs();
  std::string status;
  for (const std::string& refused : m_Bode.refused)
    status += (status.empty() ? "" : "\n") + refused;
  if (m_Bode.curves.empty() && m_Bode.refused.empty()) status = "No filter is on.";
  for (const std::string& line : {SpeedLoopMarginsText(m_Bode), MeasuredSpectrumText(m_Bode)}) {
    if (!line.empty()) status += (status.empty() ? "" : "\n") + line;
  }
  SetChildText(kBodeStatus, status);
  // Placing a filter switches it on, which a running test does not allow; and one notch for a
  // resonance is enough.
  const bool resonance = m_Bode.measured && m_Bode.measured->resonance;
  const bool notched = resonance && NotchIsOn(m_Bode.measured->resonance->frequency_hz,
                                              m_Bode.measured->current.resolution_hz);
  EnableChild(kApplyNotch, resonance && !notched && m_nLock == 0);
  SetChildTooltip(kApplyNotch, !resonance ? kNoResonanceTooltip
                               : notched  ? "A notch at the resonance is on"
                                          : "");
}

bool CFiltersDialog::NotchIsOn(double hz, double within_hz) const {
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    const FilterNames names = NamesOf(i);
    if (QuietInt(names.on) != 0 && QuietInt(names.type) == kNotch &&
        std::abs(QuietValue(names.f1) - hz) <= within_hz)
      return true;
  }
  return false;
}

void CFiltersDialog::AttachGraphs() {
  std::unique_ptr<CGraphDocument> doc = MakeBodeDocument(m_Bode);
  m_MagnitudeGraph.SetTitle("Magnitude (dB)");
  m_PhaseGraph.SetTitle("Phase (deg)");
  m_MagnitudeGraph.SetAxisTitle(1, kMagnitudeAxis);
  m_MagnitudeGraph.SetAxisTitle(2, m_Bode.spectrum_db.empty() ? "" : kSpectrumAxis);
  m_PhaseGraph.SetAxisTitle(1, kPhaseAxis);
  m_MagnitudeGraph.SetLogX(true);
  m_PhaseGraph.SetLogX(true);
  m_MagnitudeGraph.SubclassDlgItem(kBodeMagnitude, this, doc->GetAt(0));
  m_PhaseGraph.SubclassDlgItem(kBodePhase, this, doc->GetAt(1));
  m_BodeDocument = std::move(doc);
  for (CGraphWindow* g : {&m_MagnitudeGraph, &m_PhaseGraph}) {
    g->RefreshGraph();
    g->DoZoomOut();
  }
}
