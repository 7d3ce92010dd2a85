#include "drivetests/tuning_test_dlg.h"

#include <cmath>

#include "derive/gains.h"
#include "derive/pipelines.h"
#include "design/biquad_designer.h"
#include "design/tune.h"
#include "drivetests/tuning_gains.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"

namespace dcservo {

namespace {

constexpr const char* kLowInertiaText =
    "You have chosen a value for the total inertia that is lower than the value of the motor "
    "inertia.\nThe application will assume the motor inertia is unknown.";
constexpr const char* kLimitAboveProtectionText =
    "Over current protection must be greater than Drive current limit. Recommended value for "
    "Drive current limit is maximum 90% of Over current protection.";

// The profile pictures by reference type.
constexpr const char* kProfilePictures[] = {"314", "3067", "3066"};

const int kGainControls[] = {kKpEdit,       kKpSpin,        kKpSlider,      kKpSpin2,
                             kKiEdit,       kKiSpin,        kKiSlider,      kKiSpin2,
                             kIntegralEdit, kIntegralUnit,  kIntegralSpin,  kIntegralSlider,
                             kIntegralSpin2, kKffaEdit,     kKffaSpin,      kKffaSlider,
                             kKffaSpin2};
const int kRatioControls[] = {kRatioLabel, kRatioEdit, kRatioSpin, kRatioSlider, kRatioSpin2};

}  // namespace

// ---- building ------------------------------------------------------------------------------

CTuningTestDlg::CTuningTestDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent)
    : CTuningRunDlg(setup, kind, parent) {
  BindParameters();
  change_handlers_ = ChangeHandlers();
}

CTuningTestDlg::~CTuningTestDlg() = default;

void CTuningTestDlg::BindSlider(const char* name, int slider, int edit, int unit, int spin,
                                int spin2) {
  // A gain that the setup lacks has no slider.
  const std::optional<std::pair<double, double>> range = GainSliderRange(m_Setup, name);
  if (!range) return;
  AddSliderParameterControls(name, slider, edit, unit, spin, spin2, range->first, range->second);
}

void CTuningTestDlg::BindParameters() {
  AddSwitchParameterControls(Kind().online_plot, kDataLogger, kOnlinePlot);
  if (HasReferenceType(m_Setup))
    AddSwitchParameterControls(Kind().profile.type, kTypePositive, kTypeBidirectional);
  BindSlider(Kind().kp, kKpSlider, kKpEdit, 0, kKpSpin, kKpSpin2);
  BindSlider(Kind().ki, kKiSlider, kKiEdit, 0, kKiSpin, kKiSpin2);
  BindSlider(Kind().integral_limit, kIntegralSlider, kIntegralEdit, kIntegralUnit, kIntegralSpin,
             kIntegralSpin2);
  BindSlider(param::KFFS_scl, kKffsSlider, kKffsEdit, 0, kKffsSpin, kKffsSpin2);
  BindSlider(param::KFFA_scl, kKffaSlider, kKffaEdit, 0, kKffaSpin, kKffaSpin2);
  BindSlider(Kind().pass_band, kPassBandSlider, kPassBandEdit, kPassBandUnit, kPassBandSpin,
             kPassBandSpin2);
  BindSlider(param::Jload_over_J, kRatioSlider, kRatioEdit, 0, kRatioSpin, kRatioSpin2);
}

int CTuningTestDlg::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  SetImage(kLimitsPicture, Kind().limits_image);
  ShowProfilePicture();
  SetButtonImage(kPause, "PAUSE_");
  SetButtonImage(kContinue, "CONTINUE_");
  SetChildText(kProcedureText, Kind().instructions);
  SetChildText(Kind().live_reference, "");
  SetChildText(Kind().live_load, "");
  AddTabPage(kTuningTab, "Test Parameters", TuningPageControls(Template(), kTestParametersPage));
  AddTabPage(kTuningTab, "Test", TuningPageControls(Template(), kTestPage));
  SelectTabPage(kTuningTab, kTestParametersPage);
  SetUpRun();

  const double jt = ZelQuietBaseValue(m_Setup, param::Jt);
  const double jm = ZelQuietBaseValue(m_Setup, param::Jm);
  if (jm > jt && MotorInertiaKnown() && ZelIsDialogRegistered(dialog_names::kInertiaQuestion)) {
    if (auto question = ZelCreateDialog(dialog_names::kInertiaQuestion, m_Setup, this))
      question->DoModal();
  }
  // As the derivation has it, after the question: the values before it could leave a
  // negative ratio, outside the ratio's range, in a setup that would then not load again.
  if (jm != 0.0) ComputeJload_over_J(m_Setup);

  for (auto [button, dialog] : {std::pair{Kind().identify, dialog_names::kInertiaTest},
                                std::pair{int(kFilters), dialog_names::kFilters},
                                std::pair{int(kFrequencyResponse), dialog_names::kFrequencyResponse}}) {
    if (button == kFrequencyResponse && Kind().loop != TunedLoop::Speed) continue;
    if (!ZelIsDialogRegistered(dialog)) SetChildTooltip(button, kNotBuiltTooltip);
  }
  RefreshAllParameters(0);
  UpdateData(0);
  return 1;
}

void CTuningTestDlg::ShowProfilePicture() {
  const auto type = static_cast<int>(ProfileReferenceType(m_Setup, Kind().profile));
  SetImage(kProfilePicture, kProfilePictures[type]);
}

bool CTuningTestDlg::MotorInertiaKnown() const {
  return QuietInt(param::isMotorInertiaUnknown) == 0;
}

// ---- state ---------------------------------------------------------------------------------

void CTuningTestDlg::DoDataExchange(ZelDataExchange* pDX) {
  CMyTestDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CTuningTestDlg::OnShowWindow(bool show) {
  CMyTestDlg::OnShowWindow(show);
  if (show) RefreshState();
}

void CTuningTestDlg::OnTabSelChanged(int tab_id, int page) {
  CMyTestDlg::OnTabSelChanged(tab_id, page);
  RefreshState();
}

void CTuningTestDlg::RefreshState() {
  const bool running = Running();
  const bool on_test = GetTabSelection(kTuningTab) == kTestPage;
  const bool multi = Repeats();
  const bool online = ShowsOnline();

  EnableChild(kIdOk, !running);
  EnableChild(Kind().identify, !running && ZelIsDialogRegistered(dialog_names::kInertiaTest));
  EnableChild(kDataLogger, !running);
  const bool scope = HasScopeLogger();
  EnableChild(kOnlinePlot, multi || scope);
  ShowChildren(std::initializer_list<int>{kPause, kContinue}, !scope);
  if (!scope) {
    EnableChild(kPause, running && LiveDisplay() && !IsPaused());
    EnableChild(kContinue, running && LiveDisplay() && IsPaused());
  }
  EnableChildren(kGainControls, !running || online);
  EnableChild(kSavePlots, on_test && (!online || scope) && HasResultsToSave());
  ShowChild(kLoggerGraph, on_test && !online);
  ShowChild(kOnlineGraph, on_test && online);
  const bool live = on_test && running && online && !scope;
  for (int id : {Kind().live_reference_label, Kind().live_reference, Kind().live_load_label,
                 Kind().live_load, int(kLiveReferenceMarker), int(kLiveLoadMarker), int(kLiveBox)})
    ShowChild(id, live);
  EnableChildren(kRatioControls, MotorInertiaKnown());
  RefreshOwnState();
  ShowChild(kFilters, on_test);
  EnableChild(kFilters,
              HasParameter(param::IQREF_BQ_INI) && ZelIsDialogRegistered(dialog_names::kFilters));
  if (Kind().loop == TunedLoop::Speed) {
    // The drive runs one program at a time: the measurement waits for the test to end.
    ShowChild(kFrequencyResponse, on_test);
    EnableChild(kFrequencyResponse,
                !running && ZelIsDialogRegistered(dialog_names::kFrequencyResponse));
  }
  const bool has_type = HasReferenceType(m_Setup);
  for (int id : {kTypePositive, kTypeNegative, kTypeBidirectional})
    ShowChild(id, !on_test && has_type);
  SetChildText(kFiguresText, FiguresText(GetFigures()));
}

bool CTuningTestDlg::CheckTestParameters() {
  if (ZelQuietBaseValue(m_Setup, param::TestLimitCurrent) >
      ZelQuietBaseValue(m_Setup, param::TestProtectionCurrent)) {
    MessageBox(kLimitAboveProtectionText, {}, kMbOk | kMbIconWarning);
    return false;
  }
  return true;
}

// ---- parameters ----------------------------------------------------------------------------

void CTuningTestDlg::OnJtChanged(const std::string&) {
  if (FollowTotalInertia(m_Setup, MotorInertiaKnown()))
    RefreshParameterControls(param::Jload_over_J);
}

void CTuningTestDlg::OnRatioChanged(const std::string&) {
  if (FollowInertiaRatio(m_Setup, MotorInertiaKnown())) RefreshParameterControls(param::Jt);
}

void CTuningTestDlg::OnFinalValueChanged(const std::string& name) {
  SnapFinalValue(m_Setup, Kind().profile);
  RefreshParameterControls(name);
  if (!Scope().FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*Scope().Logger(), TriggerSettings());
}

void CTuningTestDlg::OnLimitCurrentChanged(const std::string&) {
  if (Scope().FollowsProfile()) SetChannelScales(ScopeChannels::Current);
}

void CTuningTestDlg::OnTimingChanged(const std::string& name) {
  if (!Scope().FollowsProfile()) return;
  if (zel::NamesEqual(name, Kind().profile.first_ramp) ||
      zel::NamesEqual(name, Kind().profile.second_ramp))
    SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*Scope().Logger(), TriggerSettings());
}

void CTuningTestDlg::OnMultiCycleChanged(const std::string&) {
  // On-line plot without the scope needs multiple cycles.
  if (!Scope().Present() && QuietInt(Kind().multi_cycle) == 0) {
    m_Setup.SetParameterValueInBaseUnit(Kind().online_plot, 0.0);
    RefreshAllParameters(0);
  }
  if (Scope().FollowsProfile()) ApplyScopeTrigger(*Scope().Logger(), TriggerSettings());
}

void CTuningTestDlg::OnReferenceTypeChanged(const std::string&) {
  ShowProfilePicture();
  if (!Scope().FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*Scope().Logger(), TriggerSettings());
}

// The handlers by name; the profile's names are the test's own.
std::vector<ZelNameHandler<CTuningTestDlg>> CTuningTestDlg::ChangeHandlers() const {
  using D = CTuningTestDlg;
  const ProfileNames& n = Kind().profile;
  return {{Kind().multi_cycle, &D::OnMultiCycleChanged},
          {param::Jt, &D::OnJtChanged},
          {param::Jload_over_J, &D::OnRatioChanged},
          {n.final_value, &D::OnFinalValueChanged},
          {param::TestLimitCurrent, &D::OnLimitCurrentChanged},
          {n.hold, &D::OnTimingChanged},
          {n.end, &D::OnTimingChanged},
          {n.first_ramp, &D::OnTimingChanged},
          {n.second_ramp, &D::OnTimingChanged}};
}

void CTuningTestDlg::OnChangedParameterValue(const std::string& name) {
  if (!ZelDispatchByName<CTuningTestDlg>(*this, change_handlers_, name))
    DeriveGainRegisters(m_Setup, Kind().loop, name, MotorInertiaKnown());
  CMyTestDlg::OnChangedParameterValue(name);
}

void CTuningTestDlg::OnChangedParameterUnit(const std::string& name) {
  if (Scope().FollowsProfile()) {
    if (zel::NamesEqual(name, Kind().profile.final_value))
      SetChannelScales(ScopeChannels::FinalValue);
    else if (zel::NamesEqual(name, param::TestLimitCurrent))
      SetChannelScales(ScopeChannels::Current);
  }
  CMyTestDlg::OnChangedParameterUnit(name);
}

void CTuningTestDlg::OnRefreshParameterValue(const std::string& name) {
  if (zel::NamesEqual(name, param::Jt)) {
    if (ZelQuietBaseValue(m_Setup, param::Jm) > ZelQuietBaseValue(m_Setup, param::Jt) &&
        MotorInertiaKnown()) {
      MessageBox(kLowInertiaText, {}, kMbOk | kMbIconWarning);
      m_Setup.SetParameterValueInBaseUnit(param::isMotorInertiaUnknown, 1.0);
      RefreshState();
    }
  } else if (zel::NamesEqual(name, Kind().profile.type)) {
    OnReferenceTypeChanged(name);
  }
  if (Running()) WriteGainRegisters(m_Setup, Kind().loop, name);
  CMyTestDlg::OnRefreshParameterValue(name);
  RefreshState();
}

// ---- buttons -------------------------------------------------------------------------------

const ZelMessageMap* CTuningTestDlg::GetMessageMap() const {
  using D = CTuningTestDlg;
  static const int kViewRadios[] = {kDataLogger, kOnlinePlot};
  static const int kSaveButtons[] = {kSavePlots, kCmdSaveGraph};
  static const int kIdentifyButtons[] = {kSpeedIdentify, kPositionIdentify};
  static const ZelMessageMap map = ZelMessageMapOf(
      CMyTestDlg::GetMessageMap(),
      {ZelOnClickedEach(kViewRadios, &D::OnViewMode),
       ZelOnClickedEach(kSaveButtons, &D::OnSavePlots),
       ZelOnClickedEach(kIdentifyButtons, &D::OnIdentify),
       {ZelOnClicked(kCmdSaveVector, &D::OnSaveVector),
        ZelOnClicked(kCmdExportText, &D::OnExportText), ZelOnClicked(kTune, &D::OnTune),
        ZelOnClicked(kPause, &D::OnPause), ZelOnClicked(kContinue, &D::OnContinue),
        ZelOnClicked(kIdcTestStartStop, &D::OnStartStop),
        ZelOnClicked(kFilters, &D::OnFilters),
        ZelOnClicked(kFrequencyResponse, &D::OnFrequencyResponse),
        ZelOnRange(ZelNotify::Clicked, kCmdEditScope, kCmdSaveScope, &D::OnScopeCommand)}});
  return &map;
}

void CTuningTestDlg::OnViewMode() {
  UpdateData(1);
  UpdateData(0);
}

void CTuningTestDlg::OnTune() {
  if (!TuneController(m_Setup, Kind().loop)) return;
  if (Running()) WriteLoopGains(m_Setup, Kind().loop);
  Results().Predict(m_Setup, Kind().loop, Kind().profile);
  RefreshAllParameters(0);
  UpdateData(0);
}

void CTuningTestDlg::OnIdentify() {
  std::unique_ptr<CZel_Dialog> test = ZelCreateDialog(dialog_names::kInertiaTest, m_Setup, this);
  if (!test || test->DoModal() != kIdOk) return;
  OnChangedParameterValue(param::Jt);
  RefreshAllParameters(0);
}

void CTuningTestDlg::OnFilters() {
  if (!HasParameter(param::IQREF_BQ_INI)) return;
  ComputeChipParameters(m_Setup);
  ComputeScaledParameters(m_Setup);
  std::unique_ptr<CZel_Dialog> filters = ZelCreateDialog(dialog_names::kFilters, m_Setup, this);
  if (!filters || filters->DoModal() != kIdOk) return;
  ComputeChipParameters(m_Setup);
  ComputeScaledParameters(m_Setup);
  if (Running()) CBiquadDesigner().WriteFiltersToChip(m_Setup);
  RefreshAllParameters(0);
}

void CTuningTestDlg::OnFrequencyResponse() {
  if (Running()) return;
  std::unique_ptr<CZel_Dialog> child =
      ZelCreateDialog(dialog_names::kFrequencyResponse, m_Setup, this);
  if (!child) return;
  child->DoModal();
  // Its Apply Notch may have switched a filter on, whichever way it closed.
  RefreshAllParameters(0);
}

bool CTuningTestDlg::HasResultsToSave() const {
  return !Running() && ShownGraph().HasDrawnPoints();
}

// The data of the plot on show, through the host's atomic writer in either mode.
void CTuningTestDlg::OnSavePlots() {
  if (!Running()) ZelWriteGraphCsv(ShownGraph(), std::string(Kind().file_base) + ".csv");
}

void CTuningTestDlg::OnSaveVector() {
  if (!Running()) ShownGraph().CreateWMF(Kind().file_base);
}

void CTuningTestDlg::OnExportText() {
  if (!Running()) ZelWriteGraphCsv(ShownGraph(), std::string(Kind().file_base) + ".txt");
}

void CTuningTestDlg::OnContextMenu(int id) {
  if (id != kOnlineGraph || !Scope().Present() || Running()) return;
  const std::vector<ZelMenuItem> items = {
      {kCmdAutoScale, "Automatic scaling"},
      {kCmdDefaultScope, "Default settings", Scope().Custom()},
      {kCmdSaveScope, "Save scope data..."},
      {0, ""},
      {kCmdSaveGraph, "Save plot"},
      {kCmdSaveVector, "Save picture (SVG)"},
      {kCmdExportText, "Export as text"},
  };
  const int command = TrackContextMenu(items);
  if (command) OnCommand(command, ZelNotify::Clicked);
}

void CTuningTestDlg::OnScopeCommand(int command) {
  if (!Scope().Present() || Running()) return;
  switch (command) {
    case kCmdAutoScale:
      // The scales that the profile asks for, kept from now on as the user's.
      Scope().SetCustom(false);
      SetScopeSettings();
      Scope().SetCustom(true);
      break;
    case kCmdDefaultScope:
      if (!Scope().Custom()) return;
      Scope().ResetToDefaults(LoggedVariables());
      SetScopeSettings();
      AttachOnlineGraph();
      break;
    case kCmdSaveScope: {
      ZelFileDialogRequest request{true, "Save scope data", "Text (*.csv);;All files (*)",
                                   std::string(Kind().file_base) + ".csv"};
      const std::string path = FileDialog(request);
      if (!path.empty()) ZelWriteGraphCsv(Graphs().OnlineGraph(), path);
      return;
    }
    default: return;
  }
  Graphs().OnlineGraph().RefreshGraph();
}

int CTuningTestDlg::OnChannelScaleChange(int channel, int steps) {
  if (!Scope().Present() || !Scope().Logger()->ChangeChannelScale(channel, steps)) return 0;
  Scope().SetCustom(true);
  Graphs().OnlineGraph().RefreshGraph();
  return 1;
}

void CTuningTestDlg::OnOK() {
  CMyTestDlg::OnOK();
  Scope().SaveSettings(m_Setup, Kind().scope_option);
  m_Setup.SetParameterValueInBaseUnit(param::Imax_Prot,
                                      ZelQuietBaseValue(m_Setup, param::TestProtectionCurrent));
  m_Setup.SetParameterValueInBaseUnit(param::IlimPS,
                                      ZelQuietBaseValue(m_Setup, param::TestLimitCurrent));
}

// ---- the speed test ------------------------------------------------------------------------

CTestSpeedTuning::CTestSpeedTuning(CZel_Setup& setup, CZel_Dialog* parent)
    : CTuningTestDlg(setup, kSpeedTuningKind, parent) {}

std::vector<std::string> CTestSpeedTuning::LoggedVariables() const {
  return {var::Speed_Reference, var::Load_Speed, var::Current_Reference, var::Motor_Current};
}

int CTestSpeedTuning::WriteLimitInputs() {
  return WriteInput(program::IlimPS_Test, DriveInternalValue(m_Setup, param::TestLimitCurrent)) &&
         WriteInput(program::Imax_Prot_Test,
                    DriveInternalValue(m_Setup, param::TestProtectionCurrent));
}

void CTestSpeedTuning::RefreshOwnState() {
  static const int kGroup[] = {kFeedforwardBox, kKffsLabel, kKffsEdit,  kKffsSpin,
                               kKffsSlider,     kKffsSpin2, kKffaLabel, kKffaEdit,
                               kKffaSpin,       kKffaSlider, kKffaSpin2};
  static const int kSpeedRow[] = {kKffsLabel, kKffsEdit, kKffsSpin, kKffsSlider, kKffsSpin2};
  if (HasParameter(param::SpeedForward)) {
    EnableChildren(kGroup, QuietInt(param::ControlMode) == ControlMode::Speed &&
                               QuietInt(param::PosSpd_in_FastLoop) == 0);
  } else {
    EnableChildren(kSpeedRow, 0);
  }
}

void CTestSpeedTuning::SetChannelScales(ScopeChannels which) {
  if (CZel_ScopeLogger* scope = GetScopeLogger()) ScaleSpeedTestChannels(*scope, m_Setup, which);
}

ScopeTriggerSettings CTestSpeedTuning::TriggerSettings() const {
  return SpeedScopeTrigger(m_Setup, QuietInt(param::MultiCycleS) == 1);
}

// ---- the position test ---------------------------------------------------------------------

CTestPositionTuning::CTestPositionTuning(CZel_Setup& setup, CZel_Dialog* parent)
    : CTuningTestDlg(setup, kPositionTuningKind, parent) {
  BindSlider(param::Kd_P_scl, kKdSlider, kKdEdit, 0, kKdSpin, kKdSpin2);
  if (OverSpeedLoop()) AddParameterControls(param::Limit_Speed, kSpeedLimitEdit, kSpeedLimitUnit);
}

bool CTestPositionTuning::OverSpeedLoop() const {
  return QuietInt(param::PositionControlType) == PositionControlType::OverSpeedLoop;
}

const char* CTestPositionTuning::Program() const {
  return OverSpeedLoop() ? drive_program::Position_Controller_Tuning_Test_with_SpdCtrl
                         : drive_program::Position_Controller_Tuning_Test_without_SpdCtrl;
}

std::vector<std::string> CTestPositionTuning::LoggedVariables() const {
  if (OverSpeedLoop())
    return {var::Target_Position, var::Load_Position, var::Speed_Reference, var::Load_Speed};
  return {var::Target_Position, var::Load_Position, var::Current_Reference, var::Motor_Current};
}

int CTestPositionTuning::WriteLimitInputs() {
  if (OverSpeedLoop()) {
    m_Setup.SetParameterValueInBaseUnit(param::IlimPS,
                                        ZelQuietBaseValue(m_Setup, param::TestLimitCurrent));
    for (const char* chip : {param::IMAXS, param::SATS, param::SATP}) DeriveChip(chip);
    return WriteInput(program::LimitSpeed,
                      std::trunc(DriveInternalValue(m_Setup, param::Limit_Speed)));
  }
  // IlimPS takes the test's limit as the drive counts it.
  m_Setup.SetParameterValueInBaseUnit(param::IlimPS,
                                      ZelQuietBaseValue(m_Setup, param::TestLimitCurrent));
  return WriteInput(program::IlimPS_Test, DriveInternalValue(m_Setup, param::TestLimitCurrent));
}

int CTestPositionTuning::WriteClosingInputs() {
  return WriteInput(program::Imax_Prot_Test,
                    std::trunc(DriveInternalValue(m_Setup, param::TestProtectionCurrent)));
}

void CTestPositionTuning::RefreshOwnState() {
  static const int kSpeedLimit[] = {kSpeedLimitBox, kSpeedLimitLabel, kSpeedLimitEdit,
                                    kSpeedLimitUnit};
  static const int kSpeedRow[] = {kKffsLabel, kKffsEdit, kKffsSpin, kKffsSlider, kKffsSpin2};
  static const int kAccelerationRow[] = {kKffaLabel, kKffaEdit, kKffaSpin, kKffaSlider,
                                         kKffaSpin2};
  const int cm = QuietInt(param::ControlMode);
  const int pct = QuietInt(param::PositionControlType);
  const int fl = QuietInt(param::PosSpd_in_FastLoop);
  const bool position_mode = cm == ControlMode::Position;
  EnableChildren(kSpeedLimit, position_mode && pct == PositionControlType::OverSpeedLoop);
  if (HasParameter(param::SpeedForward)) {
    const bool on = fl == 0 && position_mode && (pct == 0 || pct == 1);
    EnableChild(kFeedforwardBox, on);
    EnableChildren(kSpeedRow, on);
    EnableChildren(kAccelerationRow, on);
    return;
  }
  EnableChildren(kSpeedRow, position_mode && pct == PositionControlType::OverSpeedLoop);
  EnableChildren(kAccelerationRow,
                 position_mode && pct != PositionControlType::OverSpeedLoop ? fl != 1 : true);
}

void CTestPositionTuning::SetChannelScales(ScopeChannels which) {
  if (CZel_ScopeLogger* scope = GetScopeLogger())
    ScalePositionTestChannels(*scope, m_Setup, which, OverSpeedLoop());
}

ScopeTriggerSettings CTestPositionTuning::TriggerSettings() const {
  return PositionScopeTrigger(m_Setup, QuietInt(param::MultiCycleP) == 1, LoadPositionNow());
}

// Read as the trigger is set: a run sets it last before its program starts. Without the
// variable, or when the read fails (a lost link fails the run's start anyway), the last
// value known.
double CTestPositionTuning::LoadPositionNow() const {
  CZel_Variable* load = m_Setup.FindVariable(var::Load_Position, 0);
  if (!load) return 0.0;
  load->ReadFromChip();
  return load->GetValueInBaseUnit();
}

namespace {
const ZelDialogRegistration kSpeedRegistration(dialog_names::kSpeedTest,
                                               ZelFactoryOf<CTestSpeedTuning>());
const ZelDialogRegistration kPositionRegistration(dialog_names::kPositionTest,
                                                  ZelFactoryOf<CTestPositionTuning>());
}  // namespace

}  // namespace dcservo
