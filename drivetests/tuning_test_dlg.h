#pragma once
// The speed and the position controller tuning tests. They are twins: one dialog that drives
// the motor along the six-segment reference, tunes its loop from a pass band, changes gains
// and filters while the motor moves, and shows the reference, the load's response and the
// currents either uploaded after the run or on line. What differs between the two is a table
// of names and ids (TuningTestKind) and a few hooks that the two classes fill. The scope and
// its frames are tuning_scope.h's; the profile's inputs, the prediction and the figures of a
// run tuning_prediction.h's.

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drivetests/identification.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/online_view.h"
#include "drivetests/reference_profile.h"
#include "drivetests/tuning_figures.h"
#include "drivetests/tuning_prediction.h"
#include "drivetests/tuning_scope.h"
#include "host/zel_coff.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"

namespace dcservo {

// The data logger's points over one profile: a profile of at most this many slow-loop samples
// is logged at the loop's own rate, a longer one every second sample or sparser.
inline constexpr int kTuningLogPoints = 2000;

// Control ids of both templates; the position test's own ids follow.
enum TuningControl : int {
  kTuningTab = 1300,
  kLimitsBox = 1301,
  kProfileBox = 1302,
  kInertiaBox = 1303,
  kProcedureBox = 1304,
  kLimitsPicture = 1305,
  kProcedureText = 1306,
  kControllerBox = 1307,
  kViewBox = 1308,
  kTuneBox = 1309,
  kRunBox = 1310,
  kGraphBox = 1311,
  kLiveBox = 1312,

  kHoldEdit = 1314,
  kHoldUnit = 1315,
  kHoldLabel = 1316,
  kEndEdit = 1317,
  kEndUnit = 1318,
  kEndLabel = 1319,
  kFinalSpeedEdit = 1320,
  kFinalSpeedUnit = 1321,
  kProfilePicture = 1322,
  kFinalLabel = 1323,
  kFirstRampLabel = 1326,
  kFirstRampEdit = 1327,
  kFirstRampUnit = 1328,
  kSecondRampLabel = 1329,
  kSecondRampEdit = 1330,
  kSecondRampUnit = 1331,
  kMultiCycle = 1332,

  kKpLabel = 1334,
  kKpEdit = 1335,
  kKpSpin = 1336,
  kKpSlider = 1337,
  kKpSpin2 = 1338,
  kKiLabel = 1339,
  kKiEdit = 1340,
  kKiSpin = 1341,
  kKiSlider = 1342,
  kKiSpin2 = 1343,
  kIntegralLabel = 1344,
  kIntegralEdit = 1345,
  kIntegralUnit = 1346,
  kIntegralSpin = 1347,
  kIntegralSlider = 1348,
  kIntegralSpin2 = 1349,
  kFeedforwardBox = 1350,
  kKffsLabel = 1351,
  kKffsEdit = 1352,
  kKffsSpin = 1353,
  kKffsSlider = 1354,
  kKffsSpin2 = 1355,
  kKffaLabel = 1356,
  kKffaEdit = 1357,
  kKffaSpin = 1358,
  kKffaSlider = 1359,
  kKffaSpin2 = 1360,
  kLoggerGraph = 1361,
  kOnlineGraph = 1362,
  kLiveReferenceLabel = 1363,
  kLiveReference = 1364,
  kLiveLoadLabel = 1365,
  kLiveLoad = 1366,
  kDataLogger = 1368,
  kOnlinePlot = 1369,
  kSavePlots = 1372,
  kPassBandLabel = 1378,
  kPassBandEdit = 1379,
  kPassBandUnit = 1380,
  kPassBandSpin = 1381,
  kPassBandSlider = 1382,
  kPassBandSpin2 = 1383,
  kRatioLabel = 1384,
  kRatioEdit = 1385,
  kRatioSpin = 1386,
  kRatioSlider = 1387,
  kRatioSpin2 = 1388,
  kTune = 1390,
  kFiguresText = 1391,

  kInertiaLabel = 3269,
  kInertiaEdit = 3270,
  kSpeedIdentify = 3271,
  kProtectionUnit = 3279,
  kProtectionLabel = 3280,
  kProtectionEdit = 3281,
  kLimitLabel = 3282,
  kLimitUnit = 3283,
  kLimitEdit = 3284,
  kInertiaUnit = 3288,
  kLiveReferenceMarker = 3331,
  kLiveLoadMarker = 3332,
  kPositionIdentify = 3305,
  kFilters = 3510,
  kTypePositive = 3528,
  kTypeNegative = 3529,
  kTypeBidirectional = 3530,

  kPause = 10016,
  kContinue = 10017,

  // the position test's own
  kSpeedLimitLabel = 1101,
  kSpeedLimitEdit = 1043,
  kSpeedLimitUnit = 1044,
  kSpeedLimitBox = 3408,
  kFinalPositionEdit = 1501,
  kFinalPositionUnit = 1502,
  kKdLabel = 1507,
  kKdEdit = 1508,
  kKdSpin = 1509,
  kKdSlider = 1510,
  kKdSpin2 = 1511,
  kKdFilterLabel = 1512,
  kKdFilterEdit = 1513,
  kLivePositionReferenceLabel = 1517,
  kLivePositionReference = 1518,
  kLivePositionLoadLabel = 1519,
  kLivePositionLoad = 1520,
};

// Commands of the graph's context menu and of the scope.
enum TuningCommand : int {
  kCmdEditScope = 10062,
  kCmdDefaultScope = 10063,
  kCmdAutoScale = 10064,
  kCmdLoadScope = 10065,
  kCmdSaveScope = 10066,
  kCmdSaveGraph = 10067,
  kCmdSaveVector = 10068,
  kCmdExportText = 10069,
};

// Mask of the drive conditions while the program is under way and at its end.
inline constexpr unsigned kTuningRunMask = 0xFFDF;

// Everything that differs between the two tests, as data.
struct TuningTestKind {
  unsigned template_id;
  const char* caption;
  const char* purpose;
  unsigned help_context;
  ProfileNames profile;
  const char* online_plot;   // OnlinePlotS
  const char* multi_cycle;   // MultiCycleS
  const char* kp;
  const char* ki;
  const char* integral_limit;
  const char* pass_band;
  const char* scope_option;  // "SpeedTuningOscSettings"
  const char* file_base;     // "SpeedTuning"
  int final_edit, final_unit;
  int identify;
  int live_reference_label, live_reference, live_load_label, live_load;
  const char* live_reference_text;
  const char* live_load_text;
  const char* limits_image;
  const char* profile_box;
  const char* instructions;
  TunedLoop loop;
};

extern const TuningTestKind kSpeedTuningKind;
extern const TuningTestKind kPositionTuningKind;

// The control template of either test.
ZelDialogTemplate MakeTuningTemplate(const TuningTestKind& kind);

// The chip parameters that follow a changed gain, in the order they are derived and sent.
struct GainChipRow {
  const char* scaled;
  std::vector<const char*> chip;
  bool needs_known_motor_inertia;
};

class CTuningTestDlg : public CMyTestDlg {
 public:
  CTuningTestDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent);
  ~CTuningTestDlg() override;

  const TuningTestKind& Kind() const { return kind_; }
  int GetTuneButton() const override { return kTune; }
  bool HasScopeLogger() const { return scope_.Present(); }
  CZel_ScopeLogger* GetScopeLogger() const { return scope_.Logger(); }
  CZel_SingleAxisLogger& GetDataLogger() { return logger_; }
  CGraphWindow& GetLoggerGraph() { return logger_graph_; }
  CGraphWindow& GetOnlineGraph() { return online_graph_; }
  bool IsPaused() const { return paused_; }
  bool HasCustomScopeSettings() const { return scope_.Custom(); }
  // The last run's figures, per completed cycle, and the prediction they are set against.
  const TuningRunFigures& GetFigures() const { return figures_; }
  // The friction that the last uploaded run shows; nothing for a run that held
  // no constant speed, and for the position test.
  const std::optional<FrictionFit>& GetFriction() const { return friction_; }
  void DescribeRun(TestRunReport& report) const override;
  // The plot on show, the on-line view's or the logger's.
  bool HasResultsToSave() const override;
  // The segment of the profile that ended the last run before its program started; -1 if none.
  int GetFaultySegment() const { return faulty_segment_; }
  // The program this test runs for the setup's control structure.
  virtual const char* Program() const = 0;
  // The four logged variables, in channel order.
  virtual std::vector<std::string> LoggedVariables() const = 0;

  // The frame handler's entry: a whole unsolicited message.
  int OnUnsolicitedMessage(const std::uint8_t* message, std::size_t bytes);
  // A scope channel's scale moved `steps` along the 1-2-5 series by the user; 0 when refused.
  int OnChannelScaleChange(int channel, int steps);

  int OnInitDialog() override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnChangedParameterUnit(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;
  void BeginTest() override;
  void OnOK() override;
  void OnShowWindow(bool show) override;
  void OnContextMenu(int id) override;
  const ZelMessageMap* GetMessageMap() const override;

 protected:
  // The gains that the test edits and writes through during a run.
  virtual std::span<const GainChipRow> GainRows() const = 0;
  // Writes the limit that the program works against; 0 when the run failed.
  virtual int WriteLimitInputs() = 0;
  // What the program takes after MultiC; 0 when the run failed.
  virtual int WriteClosingInputs() { return 1; }
  // The enabling rules of this test's own controls and feedforward.
  virtual void RefreshOwnState() = 0;
  // The current unit of the channels of the final value; what the trigger looks at.
  virtual void SetChannelScales(ScopeChannels which) = 0;
  virtual ScopeTriggerSettings TriggerSettings() const = 0;

  bool CheckTestParameters() override;
  void OnTabSelChanged(int tab_id, int page) override;
  void OnTimer(unsigned id) override;
  bool CheckRunEnded() override;
  bool CheckAfterUpload() override;
  void OnRunAbandoned() override;
  std::vector<TargetCheck> CheckRunTargets(const TestTargets& targets) const override {
    return CheckTrackingTargets(targets, figures_);
  }

  bool Running() const { return m_bTestRunning != 0; }
  bool OnlineMode() const { return online_; }
  int WriteInput(const char* name, double value);
  int WriteChip(const char* name);
  void DeriveChip(const char* name);
  void SetScopeSettings();
  void BindSlider(const char* name, int slider, int edit, int unit, int spin, int spin2);

  CZel_CoffFormat coff_;

 private:
  void BindParameters();
  void SetUpDataLogger();
  void SetUpOnlineView();
  void AttachOnlineGraph();
  void ShowProfilePicture();
  void ShowPage(int page);
  void RefreshState();
  int WriteProfile();
  void ReadRunFlags();
  void UpdatePrediction();
  // The on-line view is on show: during a run as it runs, else as the user chose.
  bool ShowsOnline() const;
  CGraphWindow& ShownGraph();
  const CGraphWindow& ShownGraph() const;

  // --- timer, by mode ---
  void WatchSingleCycle();
  void WatchMultipleCycles();
  void StreamScope();
  void ShowLiveValues();
  void FinishOnline();
  bool DriveAndFlagPass(bool fail_test);
  void AddSweepFigures();
  void FinishFigures();

  // --- handlers ---
  void OnViewMode();
  void OnTune();
  void OnIdentify();
  void OnFilters();
  void OnPause();
  void OnContinue();
  void OnStartStop();
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
  void OnGainChanged(const std::string& name);
  void WriteGainThrough(const std::string& name);
  std::vector<ZelNameHandler<CTuningTestDlg>> ChangeHandlers() const;
  bool MotorInertiaKnown() const;

  const TuningTestKind& kind_;
  CZel_SingleAxisLogger logger_;
  CGraphWindow logger_graph_;
  TuningScope scope_;
  OnlineView online_view_;
  CGraphWindow online_graph_;
  bool online_ = false;
  bool multi_ = false;
  bool paused_ = false;
  bool live_display_ = false;
  int faulty_segment_ = -1;
  PredictionOverlay prediction_overlay_;
  TuningRunFigures figures_;
  std::optional<FrictionFit> friction_;
  std::vector<ZelNameHandler<CTuningTestDlg>> change_handlers_;
};

class CTestSpeedTuning : public CTuningTestDlg {
 public:
  CTestSpeedTuning(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  const char* Program() const override { return "Speed_Controller_Tuning_Test"; }
  std::vector<std::string> LoggedVariables() const override;

 protected:
  std::span<const GainChipRow> GainRows() const override;
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
  std::span<const GainChipRow> GainRows() const override;
  const TestTargets* Targets() const override { return TargetsOf("position"); }
  int WriteLimitInputs() override;
  int WriteClosingInputs() override;
  void RefreshOwnState() override;
  void SetChannelScales(ScopeChannels which) override;
  ScopeTriggerSettings TriggerSettings() const override;
};

}  // namespace dcservo
