#include "drivetests/tuning_test_dlg.h"

#include <algorithm>
#include <cmath>

#include "derive/gains.h"
#include "derive/pipelines.h"
#include "design/biquad_designer.h"
#include "design/tune.h"
#include "design/dialog_names.h"
#include "design/last_speed_run.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "units/drive_modes.h"
#include "units/scales.h"

namespace dcservo {

namespace {

// With the scope, frames are taken every millisecond.
constexpr unsigned kStreamPeriod_ms = 1;
constexpr int kLivePoints = 500;

constexpr const char* kLowInertiaText =
    "You have chosen a value for the total inertia that is lower than the value of the motor "
    "inertia.\nThe application will assume the motor inertia is unknown.";
constexpr const char* kLimitAboveProtectionText =
    "Over current protection must be greater than Drive current limit. Recommended value for "
    "Drive current limit is maximum 90% of Over current protection.";

// The profile pictures by reference type.
constexpr const char* kProfilePictures[] = {"314", "3067", "3066"};

// Curves of the logged channels 1 to 4: axis and colour index, drawn with x channel 0.
struct CurveStyle {
  int channel, axis, colour;
};
constexpr CurveStyle kLoggerCurves[] = {{1, 1, 2}, {3, 2, 8}, {2, 1, 5}, {4, 2, 9}};
constexpr CurveStyle kScopeCurves[] = {{1, 1, 2}, {2, 1, 5}, {3, 2, 8}, {4, 2, 9}};

const int kGainControls[] = {kKpEdit,       kKpSpin,        kKpSlider,      kKpSpin2,
                             kKiEdit,       kKiSpin,        kKiSlider,      kKiSpin2,
                             kIntegralEdit, kIntegralUnit,  kIntegralSpin,  kIntegralSlider,
                             kIntegralSpin2, kKffaEdit,     kKffaSpin,      kKffaSlider,
                             kKffaSpin2};
const int kRatioControls[] = {kRatioLabel, kRatioEdit, kRatioSpin, kRatioSlider, kRatioSpin2};
// The frameless columns of the two pages (the template's).
constexpr int kParametersColumns[] = {1290, 1291};
constexpr int kTestColumns[] = {1292, 1293};

// Every control that sits, at any depth, in one of the columns: a page shows and hides them.
std::vector<int> ControlsIn(const ZelDialogTemplate& t, std::span<const int> columns) {
  auto parent_of = [&t](int id) {
    for (const ZelControlDef& c : t.controls)
      if (c.id == id) return c.group;
    return 0;
  };
  std::vector<int> ids;
  for (const ZelControlDef& c : t.controls) {
    for (int g = c.group; g != 0; g = parent_of(g)) {
      if (std::find(columns.begin(), columns.end(), g) != columns.end()) {
        if (c.id > 0) ids.push_back(c.id);
        break;
      }
    }
  }
  return ids;
}

// The scope's frames go to one test of each kind.
int FrameSlot(const TuningTestKind& kind) { return kind.loop == TunedLoop::Position ? 1 : 0; }

// A gain's registers come from the gains table, in the order they are derived and sent.
GainChipRow GainRow(Gain gain, bool needs_known_motor_inertia = false) {
  return {FixedPointGainOf(gain).scaled, GainWriteOrder(gain), needs_known_motor_inertia};
}

// The speed feedforward's row rederives and resends the acceleration feedforward's
// mantissa after its own pair.
GainChipRow SpeedFeedforwardRow() {
  GainChipRow row = GainRow(Gain::KFFS);
  row.chip.push_back(FixedPointGainOf(Gain::KFFA).mantissa);
  return row;
}

// The acceleration feedforward is derived from the inertia; with the motor's unknown it
// stays as it is.
GainChipRow AccelerationFeedforwardRow() { return GainRow(Gain::KFFA, true); }

}  // namespace

// ---- building ------------------------------------------------------------------------------

CTuningTestDlg::CTuningTestDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent)
    : CMyTestDlg(setup, kind.template_id, 1, parent),
      kind_(kind),
      logger_(setup, nullptr),
      scope_(setup, &coff_) {
  BindParameters();
  change_handlers_ = ChangeHandlers();
  m_nPhaseCount = QuietInt(kind_.online_plot) == 1 ? 2 : 3;
}

CTuningTestDlg::~CTuningTestDlg() = default;

void CTuningTestDlg::BindSlider(const char* name, int slider, int edit, int unit, int spin,
                                int spin2) {
  ZelQuietErrors quiet;
  const CZel_Parameter* p = m_Setup.FindParameter(name);
  if (!p) return;
  const double v = p->GetValueInBaseUnit();
  double lo = std::max(p->GetMinInBaseUnit(), 0.5 * v);
  double hi = std::min(p->GetMaxInBaseUnit(), 1.5 * v);
  // A gain of 0 would pin the slider; it then spans the parameter's range.
  if (!(lo < hi)) {
    lo = p->GetMinInBaseUnit();
    hi = p->GetMaxInBaseUnit();
  }
  AddSliderParameterControls(name, slider, edit, unit, spin, spin2, lo, hi);
}

void CTuningTestDlg::BindParameters() {
  const ProfileNames& n = kind_.profile;
  AddParameterControls("TestLimitCurrent", kLimitEdit, kLimitUnit);
  AddParameterControls("TestProtectionCurrent", kProtectionEdit, kProtectionUnit);
  AddParameterControls("Jt", kInertiaEdit, kInertiaUnit);
  AddParameterControls(n.final_value, kind_.final_edit, kind_.final_unit);
  AddParameterControls(n.hold, kHoldEdit, kHoldUnit);
  AddParameterControls(n.end, kEndEdit, kEndUnit);
  AddParameterControls(n.first_ramp, kFirstRampEdit, kFirstRampUnit);
  AddParameterControls(n.second_ramp, kSecondRampEdit, kSecondRampUnit);
  AddSwitchParameterControls(kind_.online_plot, kDataLogger, kOnlinePlot);
  AddCheckParameterControls(kind_.multi_cycle, kMultiCycle);
  if (HasReferenceType(m_Setup))
    AddSwitchParameterControls(n.type, kTypePositive, kTypeBidirectional);
  BindSlider(kind_.kp, kKpSlider, kKpEdit, 0, kKpSpin, kKpSpin2);
  BindSlider(kind_.ki, kKiSlider, kKiEdit, 0, kKiSpin, kKiSpin2);
  BindSlider(kind_.integral_limit, kIntegralSlider, kIntegralEdit, kIntegralUnit, kIntegralSpin,
             kIntegralSpin2);
  BindSlider("KFFS_scl", kKffsSlider, kKffsEdit, 0, kKffsSpin, kKffsSpin2);
  BindSlider("KFFA_scl", kKffaSlider, kKffaEdit, 0, kKffaSpin, kKffaSpin2);
  BindSlider(kind_.pass_band, kPassBandSlider, kPassBandEdit, kPassBandUnit, kPassBandSpin,
             kPassBandSpin2);
  BindSlider("Jload_over_J", kRatioSlider, kRatioEdit, 0, kRatioSpin, kRatioSpin2);
}

int CTuningTestDlg::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  SetImage(kLimitsPicture, kind_.limits_image);
  ShowProfilePicture();
  SetButtonImage(kPause, "PAUSE_");
  SetButtonImage(kContinue, "CONTINUE_");
  SetChildText(kProcedureText, kind_.instructions);
  SetChildText(kind_.live_reference, "");
  SetChildText(kind_.live_load, "");
  AddTabPage(kTuningTab, "Test Parameters", ControlsIn(Template(), kParametersColumns));
  AddTabPage(kTuningTab, "Test", ControlsIn(Template(), kTestColumns));
  SelectTabPage(kTuningTab, kTestParametersPage);
  coff_.SetPathName(GetOutPathName(Program()));
  coff_.ReadCoff();
  SetUpDataLogger();
  SetUpOnlineView();

  const double jt = ZelQuietBaseValue(m_Setup, "Jt");
  const double jm = ZelQuietBaseValue(m_Setup, "Jm");
  if (jm > jt && MotorInertiaKnown() && ZelIsDialogRegistered(dialog_names::kInertiaQuestion)) {
    if (auto question = ZelCreateDialog(dialog_names::kInertiaQuestion, m_Setup, this))
      question->DoModal();
  }
  // As the derivation has it, after the question: the values before it could leave a
  // negative ratio, outside the ratio's range, in a setup that would then not load again.
  if (jm != 0.0) ComputeJload_over_J(m_Setup);

  for (auto [button, dialog] : {std::pair{kind_.identify, dialog_names::kInertiaTest},
                                std::pair{int(kFilters), dialog_names::kFilters}}) {
    if (!ZelIsDialogRegistered(dialog)) SetChildTooltip(button, kNotBuiltTooltip);
  }
  RefreshAllParameters(0);
  UpdateData(0);
  return 1;
}

void CTuningTestDlg::SetUpDataLogger() {
  logger_.ChangeSettings(kTuningLogPoints, 1, 1);
  for (const std::string& name : LoggedVariables()) logger_.AddVariable(name.c_str(), 1);
  logger_.CorrectPointsNo();
  logger_.LocateItems();
  CGraphFilter* filter = logger_.GetGraphFilter();
  for (const CurveStyle& c : kLoggerCurves) {
    if (c.channel <= logger_.GetChannelCount())
      filter->AddCurve(logger_.GetChannelName(c.channel), 0, c.channel, c.axis, 2,
                       RGB16(c.colour));
  }
  logger_graph_.SubclassDlgItem(kLoggerGraph, this, filter);
  logger_graph_.SetTitle(kind_.caption);
  SetRunTools({Program(), &coff_, &logger_, &logger_graph_, kTuningRunMask});
}

void CTuningTestDlg::SetUpOnlineView() {
  if (!scope_.Present()) {
    AttachOnlineGraph();
    return;
  }
  SetChildText(kOnlinePlot, "Scope");
  scope_.LoadSettings(kind_.scope_option, LoggedVariables());
  SetScopeSettings();
  AttachOnlineGraph();
  scope_.RouteFrames(FrameSlot(kind_), [this](const std::uint8_t* message, std::size_t bytes) {
    return OnUnsolicitedMessage(message, bytes);
  });
}

void CTuningTestDlg::AttachOnlineGraph() {
  // The graph lets go of the old document before a new one replaces it.
  online_graph_.Detach();
  std::vector<std::string> names, units;
  const CZel_ScopeLogger* scope = scope_.Logger();
  if (scope) {
    for (int c = 1; c <= scope->GetChannelCount(); ++c) names.push_back(scope->GetChannelName(c));
  } else {
    const std::vector<std::string> logged = LoggedVariables();
    names.assign(logged.begin(), logged.begin() + 2);
  }
  std::vector<double> shown_per_base;
  for (const std::string& name : names) {
    const CZel_Variable* v = m_Setup.FindVariable(name, 0);
    // The scope delivers base units, shown in the user's; the live display draws internal ones.
    units.push_back(v && scope ? v->GetSelectedUnit().GetName() : "");
    shown_per_base.push_back(v ? v->GetSelectedUnit().FromBase(1.0) : 1.0);
  }
  online_view_.Reset(names, units, shown_per_base, scope ? scope->GetPointsNo() : kLivePoints);
  CGraphFilter* filter = online_view_.Filter();
  for (const CurveStyle& c : kScopeCurves) {
    if (c.channel <= static_cast<int>(names.size()))
      filter->AddCurve(names[static_cast<std::size_t>(c.channel - 1)], 0, c.channel, c.axis, 2,
                       RGB16(c.colour));
  }
  online_graph_.SubclassDlgItem(kOnlineGraph, this, filter);
  online_graph_.SetTitle(kind_.caption);
}

void CTuningTestDlg::SetScopeSettings() {
  if (!scope_.FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  SetChannelScales(ScopeChannels::Current);
  SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

void CTuningTestDlg::ShowProfilePicture() {
  const auto type = static_cast<int>(ProfileReferenceType(m_Setup, kind_.profile));
  SetImage(kProfilePicture, kProfilePictures[type]);
}

bool CTuningTestDlg::MotorInertiaKnown() const { return QuietInt("isMotorInertiaUnknown") == 0; }

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
  const bool multi = running ? multi_ : QuietInt(kind_.multi_cycle) == 1;
  const bool online = ShowsOnline();

  EnableChild(kIdOk, !running);
  EnableChild(kind_.identify, !running && ZelIsDialogRegistered(dialog_names::kInertiaTest));
  EnableChild(kDataLogger, !running);
  const bool scope = scope_.Present();
  EnableChild(kOnlinePlot, multi || scope);
  ShowChildren(std::initializer_list<int>{kPause, kContinue}, !scope);
  if (!scope) {
    EnableChild(kPause, running && live_display_ && !paused_);
    EnableChild(kContinue, running && live_display_ && paused_);
  }
  EnableChildren(kGainControls, !running || online);
  EnableChild(kSavePlots, on_test && (!online || scope) && HasResultsToSave());
  ShowChild(kLoggerGraph, on_test && !online);
  ShowChild(kOnlineGraph, on_test && online);
  const bool live = on_test && running && online && !scope;
  for (int id : {kind_.live_reference_label, kind_.live_reference, kind_.live_load_label,
                 kind_.live_load, int(kLiveReferenceMarker), int(kLiveLoadMarker), int(kLiveBox)})
    ShowChild(id, live);
  EnableChildren(kRatioControls, MotorInertiaKnown());
  RefreshOwnState();
  ShowChild(kFilters, on_test);
  EnableChild(kFilters, HasParameter("IQREF_BQ_INI") && ZelIsDialogRegistered(dialog_names::kFilters));
  const bool has_type = HasReferenceType(m_Setup);
  for (int id : {kTypePositive, kTypeNegative, kTypeBidirectional})
    ShowChild(id, !on_test && has_type);
  SetChildText(kFiguresText, FiguresText(figures_));
}

bool CTuningTestDlg::CheckTestParameters() {
  if (ZelQuietBaseValue(m_Setup, "TestLimitCurrent") >
      ZelQuietBaseValue(m_Setup, "TestProtectionCurrent")) {
    MessageBox(kLimitAboveProtectionText, {}, kMbOk | kMbIconWarning);
    return false;
  }
  return true;
}

// ---- parameters ----------------------------------------------------------------------------

void CTuningTestDlg::DeriveChip(const char* name) {
  RunStep(m_Setup, name, Direction::ToChip);
}

int CTuningTestDlg::WriteChip(const char* name) {
  CZel_Parameter* p = m_Setup.FindParameter(name);
  return p && p->WriteToChip();
}

int CTuningTestDlg::WriteInput(const char* name, double value) {
  if (SetUserVariableValue(&coff_, name, value, m_strError)) return 1;
  TestFailed(1);
  return 0;
}

void CTuningTestDlg::OnGainChanged(const std::string& name) {
  for (const GainChipRow& row : GainRows()) {
    if (!zel::NamesEqual(row.scaled, name)) continue;
    if (row.needs_known_motor_inertia && !MotorInertiaKnown()) return;
    for (const char* chip : row.chip) DeriveChip(chip);
    return;
  }
}

void CTuningTestDlg::WriteGainThrough(const std::string& name) {
  for (const GainChipRow& row : GainRows()) {
    if (!zel::NamesEqual(row.scaled, name)) continue;
    for (const char* chip : row.chip) {
      if (!WriteChip(chip)) return;
    }
    return;
  }
}

void CTuningTestDlg::OnJtChanged(const std::string&) {
  if (!MotorInertiaKnown()) return;
  if (!(ZelQuietBaseValue(m_Setup, "Jm") > 0.0)) return;
  ComputeJload_over_J(m_Setup);
  RefreshParameterControls("Jload_over_J");
}

void CTuningTestDlg::OnRatioChanged(const std::string&) {
  if (!MotorInertiaKnown()) return;
  const double jm = ZelQuietBaseValue(m_Setup, "Jm");
  if (!(jm > 0.0)) return;
  const double ratio = ZelQuietBaseValue(m_Setup, "Jload_over_J");
  m_Setup.SetParameterValueInBaseUnit("Jt", (ratio + 1.0) * jm);
  RefreshParameterControls("Jt");
}

void CTuningTestDlg::OnFinalValueChanged(const std::string& name) {
  SnapFinalValue(m_Setup, kind_.profile);
  RefreshParameterControls(name);
  if (!scope_.FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

void CTuningTestDlg::OnLimitCurrentChanged(const std::string&) {
  if (scope_.FollowsProfile()) SetChannelScales(ScopeChannels::Current);
}

void CTuningTestDlg::OnTimingChanged(const std::string& name) {
  if (!scope_.FollowsProfile()) return;
  if (zel::NamesEqual(name, kind_.profile.first_ramp) ||
      zel::NamesEqual(name, kind_.profile.second_ramp))
    SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

void CTuningTestDlg::OnMultiCycleChanged(const std::string&) {
  // On-line plot without the scope needs multiple cycles.
  if (!scope_.Present() && QuietInt(kind_.multi_cycle) == 0) {
    m_Setup.SetParameterValueInBaseUnit(kind_.online_plot, 0.0);
    RefreshAllParameters(0);
  }
  if (scope_.FollowsProfile()) ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

void CTuningTestDlg::OnReferenceTypeChanged(const std::string&) {
  ShowProfilePicture();
  if (!scope_.FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

// The handlers by name; the profile's names are the test's own.
std::vector<ZelNameHandler<CTuningTestDlg>> CTuningTestDlg::ChangeHandlers() const {
  using D = CTuningTestDlg;
  const ProfileNames& n = kind_.profile;
  return {{kind_.multi_cycle, &D::OnMultiCycleChanged},
          {"Jt", &D::OnJtChanged},
          {"Jload_over_J", &D::OnRatioChanged},
          {n.final_value, &D::OnFinalValueChanged},
          {"TestLimitCurrent", &D::OnLimitCurrentChanged},
          {n.hold, &D::OnTimingChanged},
          {n.end, &D::OnTimingChanged},
          {n.first_ramp, &D::OnTimingChanged},
          {n.second_ramp, &D::OnTimingChanged}};
}

void CTuningTestDlg::OnChangedParameterValue(const std::string& name) {
  if (!ZelDispatchByName<CTuningTestDlg>(*this, change_handlers_, name)) OnGainChanged(name);
  CMyTestDlg::OnChangedParameterValue(name);
}

void CTuningTestDlg::OnChangedParameterUnit(const std::string& name) {
  if (scope_.FollowsProfile()) {
    if (zel::NamesEqual(name, kind_.profile.final_value))
      SetChannelScales(ScopeChannels::FinalValue);
    else if (zel::NamesEqual(name, "TestLimitCurrent"))
      SetChannelScales(ScopeChannels::Current);
  }
  CMyTestDlg::OnChangedParameterUnit(name);
}

void CTuningTestDlg::OnRefreshParameterValue(const std::string& name) {
  if (zel::NamesEqual(name, "Jt")) {
    if (ZelQuietBaseValue(m_Setup, "Jm") > ZelQuietBaseValue(m_Setup, "Jt") &&
        MotorInertiaKnown()) {
      MessageBox(kLowInertiaText, {}, kMbOk | kMbIconWarning);
      m_Setup.SetParameterValueInBaseUnit("isMotorInertiaUnknown", 1.0);
      RefreshState();
    }
  } else if (zel::NamesEqual(name, kind_.profile.type)) {
    OnReferenceTypeChanged(name);
  }
  if (Running()) WriteGainThrough(name);
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
        ZelOnRange(ZelNotify::Clicked, kCmdEditScope, kCmdSaveScope, &D::OnScopeCommand)}});
  return &map;
}

void CTuningTestDlg::OnViewMode() {
  UpdateData(1);
  UpdateData(0);
}

void CTuningTestDlg::OnTune() {
  if (!TuneController(m_Setup, kind_.loop)) return;
  if (Running()) {
    for (const char* chip : GainWriteOrder(kind_.loop)) {
      if (!WriteChip(chip)) break;
    }
  }
  UpdatePrediction();
  RefreshAllParameters(0);
  UpdateData(0);
}

void CTuningTestDlg::OnIdentify() {
  std::unique_ptr<CZel_Dialog> test = ZelCreateDialog(dialog_names::kInertiaTest, m_Setup, this);
  if (!test || test->DoModal() != kIdOk) return;
  OnChangedParameterValue("Jt");
  RefreshAllParameters(0);
}

void CTuningTestDlg::OnFilters() {
  if (!HasParameter("IQREF_BQ_INI")) return;
  ComputeChipParameters(m_Setup);
  ComputeScaledParameters(m_Setup);
  std::unique_ptr<CZel_Dialog> filters = ZelCreateDialog(dialog_names::kFilters, m_Setup, this);
  if (!filters || filters->DoModal() != kIdOk) return;
  ComputeChipParameters(m_Setup);
  ComputeScaledParameters(m_Setup);
  if (Running()) CBiquadDesigner().WriteFiltersToChip(m_Setup);
  RefreshAllParameters(0);
}

void CTuningTestDlg::OnPause() {
  paused_ = true;
  RefreshState();
}

void CTuningTestDlg::OnContinue() {
  paused_ = false;
  RefreshState();
}

void CTuningTestDlg::OnStartStop() {
  // An on-line run ends in its own timer tick, with the figures of what it showed.
  if (Running() && online_) {
    m_bStopRequested = 1;
    return;
  }
  OnBtnStartStop();
}

bool CTuningTestDlg::ShowsOnline() const {
  return Running() ? online_ : QuietInt(kind_.online_plot) == 1;
}

CGraphWindow& CTuningTestDlg::ShownGraph() {
  return ShowsOnline() ? online_graph_ : logger_graph_;
}

const CGraphWindow& CTuningTestDlg::ShownGraph() const {
  return ShowsOnline() ? online_graph_ : logger_graph_;
}

bool CTuningTestDlg::HasResultsToSave() const {
  return !Running() && ShownGraph().HasDrawnPoints();
}

// The data of the plot on show, through the host's atomic writer in either mode.
void CTuningTestDlg::OnSavePlots() {
  if (!Running()) ZelWriteGraphCsv(ShownGraph(), std::string(kind_.file_base) + ".csv");
}

void CTuningTestDlg::OnSaveVector() {
  if (!Running()) ShownGraph().CreateWMF(kind_.file_base);
}

void CTuningTestDlg::OnExportText() {
  if (!Running()) ZelWriteGraphCsv(ShownGraph(), std::string(kind_.file_base) + ".txt");
}

void CTuningTestDlg::OnContextMenu(int id) {
  if (id != kOnlineGraph || !scope_.Present() || Running()) return;
  const std::vector<ZelMenuItem> items = {
      {kCmdAutoScale, "Automatic scaling"},
      {kCmdDefaultScope, "Default settings", scope_.Custom()},
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
  if (!scope_.Present() || Running()) return;
  switch (command) {
    case kCmdAutoScale:
      // The scales that the profile asks for, kept from now on as the user's.
      scope_.SetCustom(false);
      SetScopeSettings();
      scope_.SetCustom(true);
      break;
    case kCmdDefaultScope:
      if (!scope_.Custom()) return;
      scope_.ResetToDefaults(LoggedVariables());
      SetScopeSettings();
      AttachOnlineGraph();
      break;
    case kCmdSaveScope: {
      ZelFileDialogRequest request{true, "Save scope data", "Text (*.csv);;All files (*)",
                                   std::string(kind_.file_base) + ".csv"};
      const std::string path = FileDialog(request);
      if (!path.empty()) ZelWriteGraphCsv(online_graph_, path);
      return;
    }
    default: return;
  }
  online_graph_.RefreshGraph();
}

int CTuningTestDlg::OnChannelScaleChange(int channel, int steps) {
  if (!scope_.Present() || !scope_.Logger()->ChangeChannelScale(channel, steps)) return 0;
  scope_.SetCustom(true);
  online_graph_.RefreshGraph();
  return 1;
}

void CTuningTestDlg::OnOK() {
  CMyTestDlg::OnOK();
  scope_.SaveSettings(m_Setup, kind_.scope_option);
  m_Setup.SetParameterValueInBaseUnit("Imax_Prot",
                                      ZelQuietBaseValue(m_Setup, "TestProtectionCurrent"));
  m_Setup.SetParameterValueInBaseUnit("IlimPS", ZelQuietBaseValue(m_Setup, "TestLimitCurrent"));
}

// ---- the run -------------------------------------------------------------------------------

void CTuningTestDlg::ReadRunFlags() {
  online_ = QuietInt(kind_.online_plot) == 1;
  multi_ = QuietInt(kind_.multi_cycle) == 1;
}

void CTuningTestDlg::UpdatePrediction() { PredictRun(m_Setup, kind_.loop, kind_.profile, figures_); }

int CTuningTestDlg::WriteProfile() {
  const std::optional<ProfileInputs> in = ProfileInputsOf(m_Setup, kind_.profile);
  if (!in) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return 0;
  }
  const ReferenceProfile profile = BuildReferenceProfile(*in);
  const ProfileFault fault = CheckReferenceProfile(profile);
  if (fault.text) {
    faulty_segment_ = fault.segment;
    m_strError = fault.text;
    TestFailed(1);
    return 0;
  }
  for (const auto& [name, value] : ProfileProgramInputs(profile)) {
    if (!WriteInput(name.c_str(), value)) return 0;
  }
  figures_ = {};
  UpdatePrediction();
  return 1;
}

void CTuningTestDlg::BeginTest() {
  ReadRunFlags();
  m_bStopRequested = 0;
  m_nPhaseCount = online_ ? 2 : 3;
  m_bTestRunning = 1;
  m_nTestResult = -1;
  m_nPhase = 0;
  m_bRunUntilStop = 0;
  faulty_segment_ = -1;
  paused_ = false;
  live_display_ = false;
  ShowPhaseText();
  SetRunTools({Program(), &coff_, &logger_, &logger_graph_, kTuningRunMask});
  if (!WriteLimitInputs() || !WriteProfile()) return;
  m_bRunUntilStop = multi_ ? 1 : 0;
  if (!WriteInput("MultiC", multi_ ? 1.0 : 0.0) || !WriteClosingInputs()) return;
  CZel_Logger* logger = &logger_;
  if (online_) {
    logger = scope_.Logger();
    if (scope_.Present()) {
      online_view_.ClearSweeps();
      if (!scope_.Custom()) ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
    }
    AttachOnlineGraph();
  }
  if (!ExecuteCode(Program(), &coff_, logger)) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (multi_) SetInfoText(kTuningStatusTexts[kStatusRunningUntilStop]);
  else ShowPhaseText();
  const unsigned period = online_ && scope_.Present() ? kStreamPeriod_ms : kRunTimerPeriod_ms;
  if (!SetTimer(kRunTimer, period)) {
    m_strError = CZel_Comm::GetLastErrorText();
    TestFailed(1);
    return;
  }
  (online_ ? online_graph_ : logger_graph_).RefreshGraph();
}

void CTuningTestDlg::OnTimer(unsigned id) {
  if (id != kRunTimer || !m_bTestRunning) {
    CMyTestDlg::OnTimer(id);
    return;
  }
  if (!online_ && !multi_) {
    // The single run of the base: watch, then upload with the checks below.
    CMyTestDlg::OnTimer(id);
    return;
  }
  KillTimer(kRunTimer);
  if (m_nPhase == 1) m_nPhase = kPhaseProgramRuns;
  if (m_nPhase == kPhaseUpload) {
    CMyTestDlg::OnTimer(id);
    return;
  }
  if (m_nPhase != kPhaseProgramRuns) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (!online_) WatchMultipleCycles();
  else if (scope_.Present()) StreamScope();
  else ShowLiveValues();
}

bool CTuningTestDlg::DriveAndFlagPass(bool fail_test) {
  const int fail = fail_test ? 1 : 0;
  return CheckDriveErrors(fail, kTuningRunMask) && CheckTestFlag(fail);
}

// Failures found before the upload are reported once the data have been shown.
bool CTuningTestDlg::CheckRunEnded() {
  if (!DriveAndFlagPass(false)) {
    m_bRunUntilStop = 1;
    m_bStopRequested = 0;
  } else {
    m_bRunUntilStop = 0;
  }
  return true;
}

bool CTuningTestDlg::CheckAfterUpload() {
  if (!DriveAndFlagPass(true)) return false;
  FinishFigures();
  return true;
}

void CTuningTestDlg::WatchMultipleCycles() {
  if (m_bStopRequested) {
    // Stop: the program ends, then what the log holds is uploaded.
    CZel_Comm::StopProgram();
    CheckRunEnded();
    m_bRunUntilStop = 1;
    m_bStopRequested = 0;
    if (!logger_.BeginUploadData()) {
      m_strError = msc_pszErrInternal;
      TestFailed(1);
      return;
    }
    UpdateData(0);
    m_nPhase = kPhaseUpload;
    ShowPhaseText();
    SetTimer(kRunTimer, kStreamPeriod_ms);
    return;
  }
  if (!DriveAndFlagPass(false)) m_bStopRequested = 1;
  SetTimer(kRunTimer, kRunTimerPeriod_ms);
}

void CTuningTestDlg::FinishOnline() {
  if (scope_.Present()) scope_.Logger()->EndUploadData();
  online_graph_.DoZoomOut();
  m_bStopRequested = 0;
  m_bRunUntilStop = 0;
  if (!DriveAndFlagPass(true)) return;
  FinishFigures();
  if (!MeetsTargets()) {
    TestFailed(1);
    return;
  }
  TestSucceeded(1);
}

void CTuningTestDlg::StreamScope() {
  const TuningScope::Tick tick = scope_.Poll(m_bStopRequested != 0);
  if (tick == TuningScope::Tick::Ended) {
    FinishOnline();
    return;
  }
  bool failed = tick == TuningScope::Tick::Lost;
  if (failed) m_strError = msc_pszErrInternal;
  // Without frames, the drive is asked whether the run still goes on.
  if (tick == TuningScope::Tick::NoFrames) failed = !DriveAndFlagPass(false);
  if (failed) {
    scope_.Logger()->EndUploadData();
    TestFailed(1);
    return;
  }
  SetTimer(kRunTimer, kStreamPeriod_ms);
}

void CTuningTestDlg::ShowLiveValues() {
  const std::vector<std::string> names = LoggedVariables();
  CZel_Variable* reference = m_Setup.FindVariable(names[0], 0);
  CZel_Variable* load = m_Setup.FindVariable(names[1], 0);
  if (!reference || !load) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (!live_display_) {
    live_display_ = true;
    paused_ = false;
    load->ChangeUnitType(reference->GetSelectedUnit().GetName().c_str());
    RefreshState();
  }
  if (m_bStopRequested) {
    m_bStopRequested = 0;
    m_bRunUntilStop = 0;
    live_display_ = false;
    if (!MeetsTargets()) {
      TestFailed(1);
      return;
    }
    TestSucceeded(1);
    return;
  }
  if (!paused_) {
    if (!reference->ReadFromChip() || !load->ReadFromChip()) {
      m_strError = msc_pszErrInternal;
      TestFailed(1);
      return;
    }
    online_view_.AddLivePoint(CZel_Comm::DriveTime(),
                              {reference->GetValueInInternalUnit(), load->GetValueInInternalUnit()},
                              online_graph_);
    for (auto [id, v] : {std::pair{kind_.live_reference, reference},
                         std::pair{kind_.live_load, load}}) {
      const CZel_Unit& unit = v->GetSelectedUnit();
      const double shown = unit.FromBase(v->GetValueInBaseUnit());
      SetChildText(id, LiveValueText(shown, unit.GetName()));
    }
  }
  if (!DriveAndFlagPass(true)) return;
  SetTimer(kRunTimer, kRunTimerPeriod_ms);
}

int CTuningTestDlg::OnUnsolicitedMessage(const std::uint8_t* message, std::size_t bytes) {
  if (!scope_.TakeFrame(message, bytes)) return 0;
  const std::size_t before = online_view_.Sweeps().size();
  online_view_.TakeScopePoints(*scope_.Logger(), online_graph_);
  if (online_view_.Sweeps().size() != before) AddSweepFigures();
  return 1;
}

void CTuningTestDlg::AddSweepFigures() {
  dcservo::AddSweepFigures(online_view_.Sweeps(), figures_);
  SetChildText(kFiguresText, FiguresText(figures_));
}

void CTuningTestDlg::FinishFigures() {
  if (online_) {
    AddSweepFigures();
    return;
  }
  const std::optional<CycleFigures> cycle = UploadedCycleFigures(logger_, kind_.loop, figures_);
  if (!cycle) return;
  figures_.cycles = {*cycle};
  IdentifyFromLog(m_Setup, logger_, kind_.loop, friction_, figures_);
  // For the filters dialog, which may open after this test has closed.
  if (kind_.loop == TunedLoop::Speed)
    RememberMeasuredSpectrum(m_Setup, figures_.current_spectrum, figures_.resonance);
  prediction_overlay_.Draw(logger_, logger_graph_, m_Setup, kind_.loop, figures_.prediction);
  SetChildText(kFiguresText, FiguresText(figures_));
}

void CTuningTestDlg::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  // The scaled gains first, then the chip registers they become, each once.
  std::vector<const char*> names;
  for (const GainChipRow& row : GainRows()) names.push_back(row.scaled);
  for (const GainChipRow& row : GainRows()) {
    for (const char* chip : row.chip) {
      if (std::find_if(names.begin(), names.end(), [chip](const char* n) {
            return zel::NamesEqual(n, chip);
          }) == names.end())
        names.push_back(chip);
    }
  }
  ZelQuietErrors quiet;  // a drive without feedforward has no such gains
  for (const char* name : names) {
    if (const CZel_Parameter* p = m_Setup.FindParameter(name))
      report.gains.push_back({name, p->GetValueInBaseUnit()});
  }
  if (friction_) report.identified = FrictionValues(*friction_);
  if (const TestTargets* targets = Targets()) {
    if (const auto ripple = CheckRippleTarget(*targets, figures_); ripple && !ripple->met)
      report.warnings.push_back(ripple->figure + " " + ripple->measured + ", target " +
                                ripple->target + ": the speed sensor's counts limit the pass band");
  }
}

void CTuningTestDlg::OnRunAbandoned() {
  if (scope_.Present()) scope_.Logger()->EndUploadData();
  live_display_ = false;
}

// ---- the speed test ------------------------------------------------------------------------

CTestSpeedTuning::CTestSpeedTuning(CZel_Setup& setup, CZel_Dialog* parent)
    : CTuningTestDlg(setup, kSpeedTuningKind, parent) {}

std::vector<std::string> CTestSpeedTuning::LoggedVariables() const {
  return {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"};
}

std::span<const GainChipRow> CTestSpeedTuning::GainRows() const {
  static const GainChipRow rows[] = {
      GainRow(Gain::Kp_S),
      GainRow(Gain::Ki_S),
      {"IPSatS", {"IMAXS"}, false},
      SpeedFeedforwardRow(),
      AccelerationFeedforwardRow(),
  };
  return rows;
}

int CTestSpeedTuning::WriteLimitInputs() {
  return WriteInput("IlimPS_Test", DriveInternalValue(m_Setup, "TestLimitCurrent")) &&
         WriteInput("Imax_Prot_Test", DriveInternalValue(m_Setup, "TestProtectionCurrent"));
}

void CTestSpeedTuning::RefreshOwnState() {
  static const int kGroup[] = {kFeedforwardBox, kKffsLabel, kKffsEdit,  kKffsSpin,
                               kKffsSlider,     kKffsSpin2, kKffaLabel, kKffaEdit,
                               kKffaSpin,       kKffaSlider, kKffaSpin2};
  static const int kSpeedRow[] = {kKffsLabel, kKffsEdit, kKffsSpin, kKffsSlider, kKffsSpin2};
  if (HasParameter("SpeedForward")) {
    EnableChildren(kGroup, QuietInt("ControlMode") == ControlMode::Speed &&
                               QuietInt("PosSpd_in_FastLoop") == 0);
  } else {
    EnableChildren(kSpeedRow, 0);
  }
}

void CTestSpeedTuning::SetChannelScales(ScopeChannels which) {
  if (CZel_ScopeLogger* scope = GetScopeLogger()) ScaleSpeedTestChannels(*scope, m_Setup, which);
}

ScopeTriggerSettings CTestSpeedTuning::TriggerSettings() const {
  return SpeedScopeTrigger(m_Setup, QuietInt("MultiCycleS") == 1);
}

// ---- the position test ---------------------------------------------------------------------

CTestPositionTuning::CTestPositionTuning(CZel_Setup& setup, CZel_Dialog* parent)
    : CTuningTestDlg(setup, kPositionTuningKind, parent) {
  BindSlider("Kd_P_scl", kKdSlider, kKdEdit, 0, kKdSpin, kKdSpin2);
  AddParameterControls("filter_D", kKdFilterEdit, 0);
  if (OverSpeedLoop()) AddParameterControls("Limit_Speed", kSpeedLimitEdit, kSpeedLimitUnit);
}

bool CTestPositionTuning::OverSpeedLoop() const {
  return QuietInt("PositionControlType") == PositionControlType::OverSpeedLoop;
}

const char* CTestPositionTuning::Program() const {
  return OverSpeedLoop() ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                         : "Position_Controller_Tuning_Test_without_SpdCtrl";
}

std::vector<std::string> CTestPositionTuning::LoggedVariables() const {
  if (OverSpeedLoop()) return {"Target_Position", "Load_Position", "Speed_Reference", "Load_Speed"};
  return {"Target_Position", "Load_Position", "Current_Reference", "Motor_Current"};
}

std::span<const GainChipRow> CTestPositionTuning::GainRows() const {
  static const GainChipRow rows[] = {
      GainRow(Gain::Kp_P),
      GainRow(Gain::Ki_P),
      GainRow(Gain::Kd_P),
      {"filter_D", {"KDFP"}, false},
      {"IPSatP", {"IMAXP"}, false},
      SpeedFeedforwardRow(),
      AccelerationFeedforwardRow(),
  };
  return rows;
}

int CTestPositionTuning::WriteLimitInputs() {
  if (OverSpeedLoop()) {
    m_Setup.SetParameterValueInBaseUnit("IlimPS", ZelQuietBaseValue(m_Setup, "TestLimitCurrent"));
    for (const char* chip : {"IMAXS", "SATS", "SATP"}) DeriveChip(chip);
    return WriteInput("LimitSpeed", std::trunc(DriveInternalValue(m_Setup, "Limit_Speed")));
  }
  // IlimPS takes the test's limit as the drive counts it.
  m_Setup.SetParameterValueInBaseUnit("IlimPS", ZelQuietBaseValue(m_Setup, "TestLimitCurrent"));
  return WriteInput("IlimPS_Test", DriveInternalValue(m_Setup, "TestLimitCurrent"));
}

int CTestPositionTuning::WriteClosingInputs() {
  return WriteInput("Imax_Prot_Test",
                    std::trunc(DriveInternalValue(m_Setup, "TestProtectionCurrent")));
}

void CTestPositionTuning::RefreshOwnState() {
  static const int kSpeedLimit[] = {kSpeedLimitBox, kSpeedLimitLabel, kSpeedLimitEdit,
                                    kSpeedLimitUnit};
  static const int kSpeedRow[] = {kKffsLabel, kKffsEdit, kKffsSpin, kKffsSlider, kKffsSpin2};
  static const int kAccelerationRow[] = {kKffaLabel, kKffaEdit, kKffaSpin, kKffaSlider,
                                         kKffaSpin2};
  const int cm = QuietInt("ControlMode");
  const int pct = QuietInt("PositionControlType");
  const int fl = QuietInt("PosSpd_in_FastLoop");
  const bool position_mode = cm == ControlMode::Position;
  EnableChildren(kSpeedLimit, position_mode && pct == PositionControlType::OverSpeedLoop);
  if (HasParameter("SpeedForward")) {
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
  return PositionScopeTrigger(m_Setup, QuietInt("MultiCycleP") == 1);
}

namespace {
const ZelDialogRegistration kSpeedRegistration(dialog_names::kSpeedTest,
                                               ZelFactoryOf<CTestSpeedTuning>());
const ZelDialogRegistration kPositionRegistration(dialog_names::kPositionTest,
                                                  ZelFactoryOf<CTestPositionTuning>());
}  // namespace

}  // namespace dcservo
