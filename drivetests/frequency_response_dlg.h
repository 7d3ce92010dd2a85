#pragma once
// "Frequency Response": the drive excites itself with a stepped sine on the current reference
// and the measured Bode plot of the chosen loop is drawn beside the loop model's, with the
// coherence of each point, the coupling the two-mass fit found (its resonance and
// anti-resonance marked), the margins measured and modelled, and Apply Notch, which places
// the notch for the measured resonance in the speed loop's filters. Opened from the filters
// and from the speed test, by name.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "design/two_mass_fit.h"
#include "drivetests/frequency_response_run.h"
#include "host/zel_dialog_setup.h"
#include "host/zel_graph.h"

namespace dcservo {

inline constexpr unsigned kFrequencyResponseTemplate = 3140;
inline constexpr unsigned kFrequencyResponseHelpContext = 262420;

enum FrequencyResponseControl : int {
  kFreqLeftColumn = 3141,
  kFreqLoopBox,
  kFreqLoop,
  kFreqRangeBox,
  kFreqFrom,
  kFreqTo,
  kFreqPoints,
  kFreqAmplitude,
  kFreqMeasure,
  kFreqProgress,
  kFreqResultsBox,
  kFreqResults,
  kFreqMargins,
  kFreqPlotBox,
  kFreqMagnitude,
  kFreqPhase,
  kFreqButtons,
  kFreqApplyNotch,
  kFreqHelp,
  kFreqStop,
};

// The loops the dialog measures, in the order of its list: which curves of a measurement
// show, and whether the speed loop runs softened (the plant) or as tuned.
enum class MeasuredLoop : int { Plant, SpeedOpenLoop, SpeedClosedLoop, CurrentClosedLoop };
struct MeasuredLoopChoice {
  MeasuredLoop loop;
  const char* name;
  std::vector<BodePoint> BodeCurves::*curve;
  int speed_gain_shift;
};
inline constexpr MeasuredLoopChoice kMeasuredLoops[] = {
    {MeasuredLoop::Plant, "Plant (current to speed)", &BodeCurves::plant, kPlantSpeedGainShift},
    {MeasuredLoop::SpeedOpenLoop, "Speed loop, open loop", &BodeCurves::open_loop, 0},
    {MeasuredLoop::SpeedClosedLoop, "Speed loop, closed loop", &BodeCurves::closed_loop, 0},
    {MeasuredLoop::CurrentClosedLoop, "Current loop, closed loop", &BodeCurves::current_loop, 0},
};

}  // namespace dcservo

class CFrequencyResponseDlg : public CZel_EditSetupDlg {
 public:
  explicit CFrequencyResponseDlg(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CFrequencyResponseDlg() override;

  int OnInitDialog() override;
  const ZelMessageMap* GetMessageMap() const override;
  void OnOK() override;
  void OnCancel() override;

  // The last measurement and what its plant identified; empty before one.
  const dcservo::FrequencyMeasurementRun& Measurement() const { return m_Run; }
  const std::optional<dcservo::PlantIdentification>& Identified() const { return m_Identified; }
  const std::optional<dcservo::CurveMargins>& CoupledModelMargins() const {
    return m_CoupledModelMargins;
  }

 private:
  void OnMeasure();
  void OnStop();
  void OnApplyNotch();
  void OnLoopChanged();
  void OnHelpButton();
  const dcservo::MeasuredLoopChoice& ChosenLoop() const;
  // The request the fields describe; nothing, with the reason shown, when they do not.
  std::optional<dcservo::FrequencyRunRequest> RequestOfFields(const dcservo::DriveModel& model);
  void ShowProgress(const std::string& text);
  void ShowMeasurement();
  void DrawPlots();
  void RefreshState();

  dcservo::FrequencyMeasurementRun m_Run;
  dcservo::MeasuredLoop m_MeasuredLoop = dcservo::MeasuredLoop::Plant;
  std::optional<dcservo::PlantIdentification> m_Identified;
  // The speed loop's margins on the model with the coupling the fit is sure of.
  std::optional<dcservo::CurveMargins> m_CoupledModelMargins;
  std::unique_ptr<CGraphDocument> m_Document;
  CGraphWindow m_MagnitudeGraph, m_PhaseGraph;
  bool m_bMeasuring = false;
  // Stop (or Cancel) was pressed while the sweep runs: it ends at the next look.
  bool m_bStopAsked = false;
  // Apply Notch has written the notch for the resonance on show, and what it wrote.
  bool m_bNotchApplied = false;
  std::string m_NotchText;
};
