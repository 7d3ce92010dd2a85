#pragma once
// The speed and the position controller tuning tests. They are twins: one dialog that drives
// the motor along the six-segment reference, tunes its loop from a pass band, changes gains
// and filters while the motor moves, and shows the reference, the load's response and the
// currents either uploaded after the run or on line. What differs between the two is a table
// of names and ids (TuningTestKind, tuning_template.h) and a few hooks that the two classes
// fill. This class wires the controls; the run is tuning_run_dlg.h's, the gains and the
// inertia tuning_gains.h's, the plots tuning_graphs.h's, the scope tuning_scope.h's and what a
// run leaves tuning_results.h's.

#include <string>
#include <vector>

#include "drivetests/tuning_run_dlg.h"
#include "drivetests/tuning_template.h"
#include "names/program_names.h"

namespace dcservo {

class CTuningTestDlg : public CTuningRunDlg {
 public:
  CTuningTestDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent);
  ~CTuningTestDlg() override;

  int GetTuneButton() const override { return kTune; }
  // The plot on show, the on-line view's or the logger's.
  bool HasResultsToSave() const override;
  // A scope channel's scale moved `steps` along the 1-2-5 series by the user; 0 when refused.
  int OnChannelScaleChange(int channel, int steps);

  int OnInitDialog() override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnChangedParameterUnit(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;
  void OnOK() override;
  void OnShowWindow(bool show) override;
  void OnContextMenu(int id) override;
  const ZelMessageMap* GetMessageMap() const override;

 protected:
  // The enabling rules of this test's own controls and feedforward.
  virtual void RefreshOwnState() = 0;

  bool CheckTestParameters() override;
  void OnTabSelChanged(int tab_id, int page) override;
  void RefreshState() override;
  void BindSlider(const char* name, int slider, int edit, int unit, int spin, int spin2);

 private:
  void BindParameters();
  void ShowProfilePicture();
  bool MotorInertiaKnown() const;

  // --- handlers ---
  void OnViewMode();
  void OnTune();
  void OnIdentify();
  void OnFilters();
  void OnFrequencyResponse();
  void OnSavePlots();
  void OnSaveVector();
  void OnExportText();
  void OnScopeCommand(int command);
  void OnJtChanged(const std::string& name);
  void OnRatioChanged(const std::string& name);
  void OnFinalValueChanged(const std::string& name);
  void OnLimitCurrentChanged(const std::string& name);
  void OnTimingChanged(const std::string& name);
  void OnReferenceTypeChanged(const std::string& name);
  void OnMultiCycleChanged(const std::string& name);
  std::vector<ZelNameHandler<CTuningTestDlg>> ChangeHandlers() const;

  std::vector<ZelNameHandler<CTuningTestDlg>> change_handlers_;
};

class CTestSpeedTuning : public CTuningTestDlg {
 public:
  CTestSpeedTuning(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  const char* Program() const override { return drive_program::Speed_Controller_Tuning_Test; }
  std::vector<std::string> LoggedVariables() const override;

 protected:
  const TestTargets* Targets() const override { return TargetsOf("speed"); }
  int WriteLimitInputs() override;
  void RefreshOwnState() override;
  void SetChannelScales(ScopeChannels which) override;
  ScopeTriggerSettings TriggerSettings() const override;
};

class CTestPositionTuning : public CTuningTestDlg {
 public:
  CTestPositionTuning(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  const char* Program() const override;
  std::vector<std::string> LoggedVariables() const override;
  bool OverSpeedLoop() const;

 protected:
  const TestTargets* Targets() const override { return TargetsOf("position"); }
  int WriteLimitInputs() override;
  int WriteClosingInputs() override;
  void RefreshOwnState() override;
  void SetChannelScales(ScopeChannels which) override;
  ScopeTriggerSettings TriggerSettings() const override;

 private:
  // Where the load stands, base units: the program's reference moves from there.
  double LoadPositionNow() const;
};

}  // namespace dcservo
