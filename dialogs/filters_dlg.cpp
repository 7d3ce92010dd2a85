#include "dialogs/filters_dlg.h"

#include <cmath>
#include <cstdio>
#include <complex>
#include <numbers>

#include "derive/pipelines.h"
#include "derive/probes.h"
#include "design/notch_placement.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "names/dialog_names.h"

namespace dcservo {

FilterNames FilterParameterNames(int filter) {
  const std::string n = std::to_string(filter);
  return {"BQFilter" + n, "BQFilterLocation" + n, "BQFilterType" + n,
          "BQFilterQ" + n, "BQFilterF1" + n,       "BQFilterF2" + n};
}

constexpr char kNoResonanceTooltip[] =
    "A speed test logged at the loop's own rate names the resonance that the notch is for";

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
    : CMySetupDlg(setup, kFiltersTemplate, 1, nullptr, parent), m_nLock(lock) {}

CFiltersDialog::~CFiltersDialog() {
  m_MagnitudeGraph.Detach();
  m_PhaseGraph.Detach();
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
      {kShowAgain, {ZelOnClicked(kApplyNotch, &CFiltersDialog::OnApplyNotch),
                    ZelOnClicked(kFrequencyResponseButton, &CFiltersDialog::OnFrequencyResponse)}});
  return &map;
}

int CFiltersDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  FillTypeLists();
  FillLocationLists();
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    RefreshParameterControls(FilterParameterNames(i).type);
    RefreshParameterControls(FilterParameterNames(i).location);
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
  const FilterNames names = FilterParameterNames(filter);
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
      WithFilterSlotsDesigned(m_Setup, designed, [&] { return PlaceNotch(m_Setup, hz); });
  if (!placed.filter) {
    MessageBox(placed.refusal, {}, kMbOk | kMbIconWarning);
    return;
  }
  const FilterNames names = FilterParameterNames(placed.filter);
  RefreshParameterControls(names.type);
  RefreshParameterControls(names.location);
  RefreshAllParameters(0);
  UpdateData(0);
}

void CFiltersDialog::OnFrequencyResponse() {
  std::unique_ptr<CZel_Dialog> child =
      ZelCreateDialog(dialog_names::kFrequencyResponse, m_Setup, this);
  if (!child) return;
  child->DoModal();
  // Its Apply Notch may have switched a filter on, whichever way it closed.
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    RefreshParameterControls(FilterParameterNames(i).type);
    RefreshParameterControls(FilterParameterNames(i).location);
  }
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
  // The drive cannot measure while a test runs, nor switch a filter on then.
  EnableOpener(kFrequencyResponseButton, dialog_names::kFrequencyResponse, m_nLock == 0);
  SetChildTooltip(kApplyNotch, !resonance ? kNoResonanceTooltip
                               : notched  ? "A notch at the resonance is on"
                                          : "");
}

bool CFiltersDialog::NotchIsOn(double hz, double within_hz) const {
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    const FilterNames names = FilterParameterNames(i);
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
  m_MagnitudeGraph.SetAxisTitle(1, kBodeMagnitudeAxis);
  m_MagnitudeGraph.SetAxisTitle(2, m_Bode.spectrum_db.empty() ? "" : kBodeSpectrumAxis);
  m_PhaseGraph.SetAxisTitle(1, kBodePhaseAxis);
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
