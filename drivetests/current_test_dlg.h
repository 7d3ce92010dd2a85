#pragma once
// "Current Controller Tuning Test": a current step with the motor shaft blocked. The user
// sets the test current and the test's own over-current protection, tunes the current
// controller from its pass band, runs the step and reads the reference, the measured current
// and the voltage reference, with the response that the designed loop predicts drawn over
// the measured one and the step's figures of both side by side. OK makes the test's
// protection the drive's.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "design/step_response.h"
#include "drivetests/my_test_dlg.h"
#include "host/zel_coff.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"

namespace dcservo {

inline constexpr unsigned kCurrentTestTemplate = 101;
inline constexpr unsigned kCurrentTestHelpContext = 262408;

enum CurrentTestControl : int {
  kCtPicture = 1123,
  kCtTestCurrentEdit = 1120,
  kCtTestCurrentUnit = 1121,
  kCtTab = 1300,
  kCtProtectionEdit = 1303,
  kCtProtectionUnit = 1304,
  kCtKpEdit = 1335,
  kCtKpSpin = 1336,
  kCtKpSlider = 1337,
  kCtKpPageSpin = 1338,
  kCtKiEdit = 1340,
  kCtKiSpin = 1341,
  kCtKiSlider = 1342,
  kCtKiPageSpin = 1343,
  kCtGraph = 1361,
  kCtSavePlots = 1372,
  kCtInstructions = 1377,
  kCtFilterLabel = 3139,
  kCtFilterEdit = 3140,
  kCtFilterUnit = 3141,
  kCtUseFilter = 3142,
  kCtOffsetUnit = 3144,
  kCtOffsetEdit = 3145,
  kCtOffsetLabel = 3146,
  kCtCompensate = 3147,
  kCtTune = 3149,
  kCtPassBandUnit = 3151,
  kCtPassBandSlider = 3152,
  kCtPassBandSpin = 3153,
  kCtPassBandPageSpin = 3154,
  kCtPassBandEdit = 3155,

  // Boxes and labels that the pages show and hide.
  kCtParametersBox = 3500,
  kCtTestCurrentLabel,
  kCtProtectionLabel,
  kCtProcedureBox,
  kCtPurposeBox,
  kCtPurposeText,
  kCtRunBox,
  kCtGainsBox,
  kCtKpLabel,
  kCtKiLabel,
  kCtFilterBox,
  kCtOffsetBox,
  kCtTuningBox,
  kCtPassBandLabel,
  kCtPlotBox,
  kCtFigures,
};

// The step as it was measured and as the designed loop predicts it.
struct CurrentStepEvaluation {
  std::optional<StepFigures> measured, predicted;
  // R and L as the step shows them.
  std::vector<IdentifiedValue> identified;
  // Where the two disagree beyond their tolerances; the setup's motor data are then suspect.
  std::vector<std::string> warnings;
};

class CTestCurrent : public CMyTestDlg {
 public:
  CTestCurrent(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CTestCurrent() override;

  int OnInitDialog() override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;
  void BeginTest() override;
  void OnOK() override;
  const ZelMessageMap* GetMessageMap() const override;

  int GetTuneButton() const override { return kCtTune; }
  // The opener has asked for the shaft to be blocked already (the drive setup opens the test
  // after its notice; commissioning shows its own): the test does not ask again.
  void ShaftBlockedByOpener() { shaft_notice_shown_ = true; }
  void DescribeRun(TestRunReport& report) const override;
  // The last run's step; empty until a run has uploaded its results.
  const CurrentStepEvaluation& GetEvaluation() const { return evaluation_; }
  using CMyTestDlg::LastInputs;
  CGraphWindow& GetGraph() { return m_Graph; }
  // The base name that Save Plots writes under (".png", ".svg", ".csv" are added).
  static constexpr const char* kPlotBaseName = "CurrentTuning";

 protected:
  bool CheckTestParameters() override;
  void OnResultsUploaded() override;
  const TestTargets* Targets() const override { return TargetsOf("current"); }
  std::vector<TargetCheck> CheckRunTargets(const TestTargets& targets) const override {
    return CheckStepTargets(targets, evaluation_.measured, evaluation_.predicted);
  }
  void OnShowWindow(bool show) override;
  void OnTabSelChanged(int tab_id, int page) override;

 private:
  void BindSlider(const char* name, int slider, int edit, int unit, int spin, int page_spin);
  void OnTune();
  void OnSavePlots();
  void OnFilterOrOffsetCheck();
  void OnKpChanged(const std::string& name);
  void OnKiChanged(const std::string& name);
  void OnOffsetChanged(const std::string& name);
  void OnFilterChanged(const std::string& name);
  void WriteKpToDrive(const std::string& name);
  void WriteKiToDrive(const std::string& name);
  // Writes chip parameters to the drive in order, stopping at the first that fails.
  bool WriteToDrive(std::span<const char* const> names);
  void ShowRunControls();
  void AddPrediction();
  void ShowFigures();
  // The motor's position in turns; nothing for a setup or drive without it.
  std::optional<double> MotorTurns();
  // A run whose step is no measurement of the armature: the shaft turned, or the supply is
  // not the setup's. Fails the run with the cause.
  bool StepMeasuresTheArmature();

  CZel_CoffFormat m_Coff;
  std::unique_ptr<CZel_SingleAxisLogger> m_pLogger;
  CGraphWindow m_Graph;
  int predicted_channel_ = -1;
  CurrentStepEvaluation evaluation_;
  bool shaft_notice_shown_ = false;
  std::optional<double> turns_at_start_;
};

}  // namespace dcservo
