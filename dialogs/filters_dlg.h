#pragma once
// The "Filters" dialog: the three biquad filters of the speed loop, each switched on or off,
// placed, typed and tuned. While the tuning test that opened it runs, the filters that are on
// may be retuned but not switched or moved. Beside them, the frequency response of each
// filter as the drive will run it, with the current spectrum that the last speed run measured
// at the loop's rate on the same frequency axis, and a button that places the notch for the
// resonance it named.

#include <memory>
#include <string>

#include "design/biquad_designer.h"
#include "design/bode.h"
#include "dialogs/bode_plot.h"
#include "dialogs/my_setup_dlg.h"
#include "host/zel_graph.h"

namespace dcservo {

inline constexpr unsigned kFiltersTemplate = 295;

// The controls of one filter.
struct FilterControls {
  int box, on_off, location_label, location, type_label, type, frequency_label, frequency,
      frequency_unit, q_label, q, second_frequency, second_frequency_unit;
};
inline constexpr FilterControls kFilterControls[kBiquadFilterCount] = {
    {3484, 3485, 3503, 3502, 3486, 3487, 3490, 3491, 3508, 3488, 3489, 3504, 3510},
    {3492, 3493, 3501, 3500, 3494, 3495, 3498, 3499, 3509, 3496, 3497, 3505, 3511},
    {3517, 3518, 3527, 3526, 3520, 3519, 3522, 3524, 3525, 3521, 3523, 3506, 3512},
};

enum FiltersControl : int {
  kBodeBox = 3530,
  kBodeMagnitude,
  kBodePhase,
  kBodeStatus,
  kApplyNotch,
  kFrequencyResponseButton,
};

// The setup's parameters of filter 1, 2 or 3.
struct FilterNames {
  std::string on, location, type, q, f1, f2;
};
FilterNames FilterParameterNames(int filter);

// The location lists' entries; an entry's data is its place.
inline constexpr const char* kFilterLocationNames[] = {
    "Position Controller Output", "Speed Controller Output", "Speed Feedback"};

// How a tuning test opens the dialog: both pipelines before, and after OK both again, with
// the new coefficients sent to the drive at once while the test runs. The modal result, or
// 0 when the drive has no biquad filters.
int RunFiltersDialog(CZel_Setup& setup, int test_running, CZel_Dialog* parent);

}  // namespace dcservo

class CFiltersDialog : public CMySetupDlg {
 public:
  CFiltersDialog(CZel_Setup& setup, int lock, CZel_Dialog* parent = nullptr);
  // Opened on its own, with no test running.
  explicit CFiltersDialog(CZel_Setup& setup, CZel_Dialog* parent = nullptr)
      : CFiltersDialog(setup, 0, parent) {}
  ~CFiltersDialog() override;

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnChangedParameterValue(const std::string& name) override;

  dcservo::CBiquadDesigner& Designer() { return m_Designer; }
  const dcservo::BodeData& GetBodeData() const { return m_Bode; }

 private:
  void FillTypeLists();
  void FillLocationLists();
  void ApplyShowingRules(const dcservo::FilterControls& c, int filter);
  void OnShowAgain();
  void OnApplyNotch();
  void OnFrequencyResponse();
  // Whether a filter that is on is a notch within `within_hz` of `hz`.
  bool NotchIsOn(double hz, double within_hz) const;
  void RedrawResponse();
  void AttachGraphs();

  dcservo::CBiquadDesigner m_Designer;
  int m_nLock;
  dcservo::BodeData m_Bode;
  std::unique_ptr<CGraphDocument> m_BodeDocument;
  CGraphWindow m_MagnitudeGraph, m_PhaseGraph;
};
