#include "drivetests/tuning_test_dlg.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "derive/gains.h"
#include "derive/pipelines.h"
#include "design/biquad_designer.h"
#include "design/tune.h"
#include "design/dialog_names.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
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

// One receiver of frames per test class.
CTuningTestDlg* g_frame_receiver[2] = {nullptr, nullptr};

int ReceiverIndex(const TuningTestKind& kind) { return kind.loop == TunedLoop::Position ? 1 : 0; }

template <int index>
int FrameHandler(const std::uint8_t* message, std::size_t bytes) {
  CTuningTestDlg* dlg = g_frame_receiver[index];
  return dlg ? dlg->OnUnsolicitedMessage(message, bytes) : 0;
}
constexpr ZelUnsolicitedMsgHandler kFrameHandlers[] = {&FrameHandler<0>, &FrameHandler<1>};

double QuietBase(const CZel_Setup& setup, const char* name) {
  ZelQuietErrors quiet;
  const CZel_Parameter* p = setup.FindParameter(name);
  return p ? p->GetValueInBaseUnit() : 0.0;
}

// A position run is shown and judged from where the shaft stood when it started: an earlier
// run, or a hand, leaves it anywhere, while the profile and its prediction start from zero.
double RunOrigin(const TuningTestKind& kind, const CZel_SingleAxisLogger& logger) {
  if (kind.loop != TunedLoop::Position || logger.GetPointsRead() == 0) return 0.0;
  return logger.GetValue(std::size_t{0}, 2);
}

}  // namespace

// ---- building ------------------------------------------------------------------------------

CTuningTestDlg::CTuningTestDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent)
    : CMyTestDlg(setup, kind.template_id, 1, parent), kind_(kind), logger_(setup, nullptr) {
  if (std::atoi(setup.GetOptionNoError("hasOscilloscope").c_str()) != 0)
    scope_ = std::make_unique<CZel_ScopeLogger>(setup, &coff_);
  BindParameters();
  change_handlers_ = ChangeHandlers();
  m_nPhaseCount = QuietInt(kind_.online_plot) == 1 ? 2 : 3;
}

CTuningTestDlg::~CTuningTestDlg() {
  const int index = ReceiverIndex(kind_);
  if (handler_installed_) CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(previous_handler_);
  if (g_frame_receiver[index] == this) g_frame_receiver[index] = nullptr;
}

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

  const double jt = QuietBase(m_Setup, "Jt");
  const double jm = QuietBase(m_Setup, "Jm");
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
  logger_.ChangeSettings(2000, 1, 1);
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
  if (!scope_) {
    AttachOnlineGraph();
    return;
  }
  SetChildText(kOnlinePlot, "Scope");
  SetUpScopeLogger();
  const int index = ReceiverIndex(kind_);
  g_frame_receiver[index] = this;
  previous_handler_ = CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(kFrameHandlers[index]);
  handler_installed_ = true;
}

void CTuningTestDlg::SetUpScopeLogger() {
  custom_scope_ = scope_->LoadSettingsFromSetupOption(kind_.scope_option) != 0;
  if (!custom_scope_) {
    for (const std::string& name : LoggedVariables()) scope_->AddVariable(name.c_str(), 1);
    SetScopeSettings();
  }
  AttachOnlineGraph();
}

void CTuningTestDlg::AttachOnlineGraph() {
  // The graph lets go of the old document before a new one replaces it.
  online_graph_.Detach();
  std::vector<std::string> names, units;
  if (scope_) {
    for (int c = 1; c <= scope_->GetChannelCount(); ++c) names.push_back(scope_->GetChannelName(c));
  } else {
    const std::vector<std::string> logged = LoggedVariables();
    names.assign(logged.begin(), logged.begin() + 2);
  }
  std::vector<double> shown_per_base;
  for (const std::string& name : names) {
    const CZel_Variable* v = m_Setup.FindVariable(name, 0);
    // The scope delivers base units, shown in the user's; the live display draws internal ones.
    units.push_back(v && scope_ ? v->GetSelectedUnit().GetName() : "");
    shown_per_base.push_back(v ? v->GetSelectedUnit().FromBase(1.0) : 1.0);
  }
  online_view_.Reset(names, units, shown_per_base, scope_ ? scope_->GetPointsNo() : kLivePoints);
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
  if (!scope_ || custom_scope_) return;
  SetChannelScales(ScopeChannels::FinalValue);
  SetChannelScales(ScopeChannels::Current);
  SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*scope_, TriggerSettings());
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
  const bool online = running ? online_ : QuietInt(kind_.online_plot) == 1;

  EnableChild(kIdOk, !running);
  EnableChild(kind_.identify, !running && ZelIsDialogRegistered(dialog_names::kInertiaTest));
  EnableChild(kDataLogger, !running);
  EnableChild(kOnlinePlot, multi || scope_);
  ShowChildren(std::initializer_list<int>{kPause, kContinue}, !scope_);
  if (!scope_) {
    EnableChild(kPause, running && live_display_ && !paused_);
    EnableChild(kContinue, running && live_display_ && paused_);
  }
  EnableChildren(kGainControls, !running || online);
  EnableChild(kSavePlots, on_test && !running && (!online || scope_));
  ShowChild(kLoggerGraph, on_test && !online);
  ShowChild(kOnlineGraph, on_test && online);
  const bool live = on_test && running && online && !scope_;
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
  if (QuietBase(m_Setup, "TestLimitCurrent") > QuietBase(m_Setup, "TestProtectionCurrent")) {
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
  if (QuietBase(m_Setup, "Jm") == 0.0) return;
  ComputeJload_over_J(m_Setup);
  RefreshParameterControls("Jload_over_J");
}

void CTuningTestDlg::OnRatioChanged(const std::string&) {
  if (!MotorInertiaKnown()) return;
  const double jm = QuietBase(m_Setup, "Jm");
  m_Setup.SetParameterValueInBaseUnit("Jt", (QuietBase(m_Setup, "Jload_over_J") + 1.0) * jm);
  RefreshParameterControls("Jt");
}

void CTuningTestDlg::OnFinalValueChanged(const std::string& name) {
  SnapFinalValue(m_Setup, kind_.profile);
  RefreshParameterControls(name);
  if (!scope_ || custom_scope_) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*scope_, TriggerSettings());
}

void CTuningTestDlg::OnLimitCurrentChanged(const std::string&) {
  if (scope_ && !custom_scope_) SetChannelScales(ScopeChannels::Current);
}

void CTuningTestDlg::OnTimingChanged(const std::string& name) {
  if (!scope_ || custom_scope_) return;
  if (zel::NamesEqual(name, kind_.profile.first_ramp) ||
      zel::NamesEqual(name, kind_.profile.second_ramp))
    SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*scope_, TriggerSettings());
}

void CTuningTestDlg::OnMultiCycleChanged(const std::string&) {
  // On-line plot without the scope needs multiple cycles.
  if (!scope_ && QuietInt(kind_.multi_cycle) == 0) {
    m_Setup.SetParameterValueInBaseUnit(kind_.online_plot, 0.0);
    RefreshAllParameters(0);
  }
  if (scope_ && !custom_scope_) ApplyScopeTrigger(*scope_, TriggerSettings());
}

void CTuningTestDlg::OnReferenceTypeChanged(const std::string&) {
  ShowProfilePicture();
  if (!scope_ || custom_scope_) return;
  SetChannelScales(ScopeChannels::FinalValue);
  ApplyScopeTrigger(*scope_, TriggerSettings());
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
  if (scope_ && !custom_scope_) {
    if (zel::NamesEqual(name, kind_.profile.final_value))
      SetChannelScales(ScopeChannels::FinalValue);
    else if (zel::NamesEqual(name, "TestLimitCurrent"))
      SetChannelScales(ScopeChannels::Current);
  }
  CMyTestDlg::OnChangedParameterUnit(name);
}

void CTuningTestDlg::OnRefreshParameterValue(const std::string& name) {
  if (zel::NamesEqual(name, "Jt")) {
    if (QuietBase(m_Setup, "Jm") > QuietBase(m_Setup, "Jt") && MotorInertiaKnown()) {
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
    for (const char* chip : TunedChipWriteOrder(kind_.loop)) {
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

CGraphWindow& CTuningTestDlg::ShownGraph() { return online_ ? online_graph_ : logger_graph_; }

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
  if (id != kOnlineGraph || !scope_ || Running()) return;
  const std::vector<ZelMenuItem> items = {
      {kCmdAutoScale, "Automatic scaling"},
      {kCmdDefaultScope, "Default settings", custom_scope_},
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
  if (!scope_ || Running()) return;
  switch (command) {
    case kCmdAutoScale:
      // The scales that the profile asks for, kept from now on as the user's.
      custom_scope_ = false;
      SetScopeSettings();
      custom_scope_ = true;
      break;
    case kCmdDefaultScope:
      if (!custom_scope_) return;
      custom_scope_ = false;
      scope_->ResetToDefaults();
      scope_->RemoveAllVariables();
      for (const std::string& name : LoggedVariables()) scope_->AddVariable(name.c_str(), 1);
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
  if (!scope_ || !scope_->ChangeChannelScale(channel, steps)) return 0;
  custom_scope_ = true;
  online_graph_.RefreshGraph();
  return 1;
}

void CTuningTestDlg::OnOK() {
  CMyTestDlg::OnOK();
  if (custom_scope_ && scope_) scope_->SaveSettingsToSetupOption(kind_.scope_option);
  else m_Setup.SetOption(kind_.scope_option, "");
  m_Setup.SetParameterValueInBaseUnit("Imax_Prot", QuietBase(m_Setup, "TestProtectionCurrent"));
  m_Setup.SetParameterValueInBaseUnit("IlimPS", QuietBase(m_Setup, "TestLimitCurrent"));
}

// ---- the run -------------------------------------------------------------------------------

void CTuningTestDlg::ReadRunFlags() {
  online_ = QuietInt(kind_.online_plot) == 1;
  multi_ = QuietInt(kind_.multi_cycle) == 1;
}

double CTuningTestDlg::FinalLevel() const {
  const double f = QuietBase(m_Setup, kind_.profile.final_value);
  return ProfileReferenceType(m_Setup, kind_.profile) == ReferenceType::Negative ? -f : f;
}

void CTuningTestDlg::UpdatePrediction() {
  figures_.final_value = FinalLevel();
  const CZel_Parameter* f = m_Setup.FindParameter(kind_.profile.final_value);
  figures_.unit = f ? f->GetUnitName() : "";
  const double scale = ProfileScale(m_Setup, kind_.profile);
  figures_.quantum = scale != 0.0 ? std::fabs(1.0 / scale) : 0.0;
  figures_.predicted.reset();
  figures_.prediction = {};
  if (auto trace = PredictedTrace(m_Setup, kind_.loop, kind_.profile)) {
    figures_.prediction = *trace;
    figures_.predicted = FiguresOfCycle(*trace, figures_.final_value, figures_.quantum);
    const auto saturated = std::count(trace->current_saturated.begin(),
                                      trace->current_saturated.end(), true);
    if (trace->time.size() > 1)
      figures_.predicted_saturation_s =
          static_cast<double>(saturated) * (trace->time[1] - trace->time[0]);
  }
}

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
  for (int i = 0; i < static_cast<int>(profile.size()); ++i) {
    const ProfileSegment& s = profile[static_cast<std::size_t>(i)];
    const std::string a = "a" + std::to_string(i), b = "b" + std::to_string(i);
    if (!WriteInput(a.c_str(), static_cast<double>(s.count)) ||
        !WriteInput(b.c_str(), s.slope_q16 / kQ16One))
      return 0;
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
    logger = scope_.get();
    if (scope_) {
      online_view_.ClearSweeps();
      if (!custom_scope_) ApplyScopeTrigger(*scope_, TriggerSettings());
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
  const unsigned period = online_ && scope_ ? kStreamPeriod_ms : kRunTimerPeriod_ms;
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
  else if (scope_) StreamScope();
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
  if (scope_) scope_->EndUploadData();
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
  if (m_bStopRequested) {
    CZel_Comm::CheckForUnrequestedMessages();
    FinishOnline();
    return;
  }
  frame_received_ = false;
  if (scope_->DoGracefulStop()) {
    FinishOnline();
    return;
  }
  CZel_Comm::CheckForUnrequestedMessages();
  bool failed = !scope_->UploadInProgress();
  if (failed) m_strError = msc_pszErrInternal;
  if (!failed && !frame_received_) failed = !DriveAndFlagPass(false);
  if (failed) {
    scope_->EndUploadData();
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
  zel_msg::View view;
  if (!scope_ || !zel_msg::Parse(message, bytes, view) || view.code != zel_msg::kLoggerFrame)
    return 0;
  if (scope_->OnFrameReceive(view.data_bytes, view.data) <= 0) return 0;
  frame_received_ = true;
  const std::size_t before = online_view_.Sweeps().size();
  online_view_.TakeScopePoints(*scope_, online_graph_);
  if (online_view_.Sweeps().size() != before) AddSweepFigures();
  return 1;
}

void CTuningTestDlg::AddSweepFigures() {
  const auto& sweeps = online_view_.Sweeps();
  for (std::size_t k = figures_.cycles.size(); k < sweeps.size(); ++k) {
    CycleTrace trace{sweeps[k].time, sweeps[k].reference, sweeps[k].response, {}};
    CycleFigures f = FiguresOfCycle(trace, figures_.final_value, figures_.quantum);
    f.cycle = static_cast<int>(k) + 1;
    figures_.cycles.push_back(f);
  }
  SetChildText(kFiguresText, FiguresText(figures_));
}

void CTuningTestDlg::FinishFigures() {
  if (online_) {
    AddSweepFigures();
    return;
  }
  CycleTrace trace;
  for (std::size_t i = 0; i < logger_.GetPointsRead(); ++i) {
    trace.time.push_back(logger_.GetValue(i, 0));
    trace.reference.push_back(logger_.GetValue(i, 1));
    trace.response.push_back(logger_.GetValue(i, 2));
  }
  if (trace.time.empty()) return;
  const double origin = RunOrigin(kind_, logger_);
  for (auto* values : {&trace.reference, &trace.response}) {
    for (double& v : *values) v -= origin;
  }
  CycleFigures f = FiguresOfCycle(trace, figures_.final_value, figures_.quantum);
  f.cycle = 1;
  f.deviation_rms = DeviationFromPrediction(trace, figures_.prediction);
  figures_.cycles = {f};
  IdentifyFromLog();
  DrawPrediction();
  SetChildText(kFiguresText, FiguresText(figures_));
}

// The predicted response over the measured one, as one more channel of the upload's plot,
// all from the run's origin.
void CTuningTestDlg::DrawPrediction() {
  if (figures_.prediction.time.empty()) return;
  CGraphDocument& doc = logger_.GetGraphDocument();
  const double origin = RunOrigin(kind_, logger_);
  if (predicted_channel_ == 0) {
    predicted_channel_ = doc.AddChannel("Predicted " + logger_.GetChannelName(2),
                                        doc.GetChannelUnit(2));
    logger_.GetGraphFilter()->AddCurve(doc.GetChannelName(predicted_channel_), 0,
                                       predicted_channel_, 1, 1, RGB16(4));
  }
  const CZel_Variable* load = m_Setup.FindVariable(logger_.GetChannelName(2), 0);
  if (!load) return;
  std::vector<double> values(static_cast<std::size_t>(doc.GetChannelCount()));
  for (int i = 0; i < doc.GetPointCount(); ++i) {
    for (int c = 0; c < doc.GetChannelCount(); ++c)
      values[static_cast<std::size_t>(c)] = doc.GetValue(c, i);
    // The reference and the response share the response's unit.
    if (origin != 0.0) {
      for (int c : {1, 2}) {
        values[static_cast<std::size_t>(c)] = load->GetSelectedUnit().FromBase(
            load->GetSelectedUnit().ToBase(values[static_cast<std::size_t>(c)]) - origin);
      }
    }
    const double t = logger_.GetValue(static_cast<std::size_t>(i), 0);
    values[static_cast<std::size_t>(predicted_channel_)] =
        load->GetSelectedUnit().FromBase(PredictedAt(figures_.prediction, t));
    doc.SetPoint(i, values);
  }
  logger_graph_.RefreshGraph();
}

// The speed test's log at the motor shaft (the reference it tracked, the speed, the current
// that turned the shaft and whether that sat at the test's limit): the friction and the
// current's ripple at constant speed.
void CTuningTestDlg::IdentifyFromLog() {
  friction_.reset();
  figures_.ripple.reset();
  if (kind_.loop != TunedLoop::Speed || logger_.GetPointsRead() == 0) return;
  ZelQuietErrors quiet;  // a setup without the motor's data identifies nothing
  const double to_motor = LoadSpeedScale(m_Setup) / MotorSpeedScale(m_Setup);
  const double limit = QuietBase(m_Setup, "TestLimitCurrent");
  const double k = QuietBase(m_Setup, "K");
  if (!std::isfinite(to_motor) || !(k > 0.0)) return;
  MotionLog log;
  for (std::size_t i = 0; i < logger_.GetPointsRead(); ++i) {
    log.time_s.push_back(logger_.GetValue(i, 0));
    log.reference_rad_s.push_back(to_motor * logger_.GetValue(i, 1));
    log.speed_rad_s.push_back(to_motor * logger_.GetValue(i, 2));
    // The reference rather than the measured current: the current loop follows it within a
    // sample, and a burst to the limit stays on the samples that are flagged for it.
    log.current_A.push_back(logger_.GetValue(i, 3));
    // The reference at its limit, less the converter's rounding.
    log.saturated.push_back(limit > 0.0 && std::abs(logger_.GetValue(i, 3)) >= 0.98 * limit);
  }
  friction_ = dcservo::IdentifyFriction(log, k);
  figures_.ripple = RippleAtConstantSpeed(log);
  figures_.rated_A = QuietBase(m_Setup, "In");
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
  if (scope_) scope_->EndUploadData();
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
      {"Kp_S_scl", {"SFTKPS", "KPS"}, false},
      {"Ki_S_scl", {"SFTKIS", "KIS"}, false},
      {"IPSatS", {"IMAXS"}, false},
      {"KFFS_scl", {"SFTSFFW", "KFFS", "KFFA"}, false},
      {"KFFA_scl", {"SFTAFFW", "SFTKFF", "KFFA"}, true},
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
  CZel_ScopeLogger* scope = GetScopeLogger();
  if (!scope) return;
  if (which == ScopeChannels::FinalValue) {
    const double v = ValueInSelectedUnit(m_Setup, "TestSpeed");
    RescaleScopePair(*scope, "Speed_Reference", "Load_Speed", std::fabs(0.25 * v),
                     SelectedUnitName(m_Setup, "TestSpeed"),
                     QuietBase(m_Setup, "TestSpeed") >= 0.0 ? 0.0 : -4.0);
  } else if (which == ScopeChannels::Current) {
    RescaleCurrentPair(*scope, m_Setup);
  }
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
      {"Kp_P_scl", {"SFTKPP", "KPP"}, false},
      {"Ki_P_scl", {"SFTKIP", "KIP"}, false},
      {"Kd_P_scl", {"SFTKDP", "KDP"}, false},
      {"filter_D", {"KDFP"}, false},
      {"IPSatP", {"IMAXP"}, false},
      {"KFFS_scl", {"SFTSFFW", "KFFS", "KFFA"}, false},
      {"KFFA_scl", {"SFTAFFW", "SFTKFF", "KFFA"}, true},
  };
  return rows;
}

int CTestPositionTuning::WriteLimitInputs() {
  if (OverSpeedLoop()) {
    m_Setup.SetParameterValueInBaseUnit("IlimPS", QuietBase(m_Setup, "TestLimitCurrent"));
    for (const char* chip : {"IMAXS", "SATS", "SATP"}) DeriveChip(chip);
    return WriteInput("LimitSpeed", std::trunc(DriveInternalValue(m_Setup, "Limit_Speed")));
  }
  // IlimPS takes the test's limit as the drive counts it.
  m_Setup.SetParameterValueInBaseUnit("IlimPS", QuietBase(m_Setup, "TestLimitCurrent"));
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
  CZel_ScopeLogger* scope = GetScopeLogger();
  if (!scope) return;
  const double p = QuietBase(m_Setup, "TestPosition");
  if (which == ScopeChannels::FinalValue) {
    RescaleScopePair(*scope, "Target_Position", "Load_Position",
                     std::fabs(0.25 * ValueInSelectedUnit(m_Setup, "TestPosition")),
                     SelectedUnitName(m_Setup, "TestPosition"), p >= 0.0 ? 0.0 : -4.0);
  } else if (which == ScopeChannels::Speed && OverSpeedLoop()) {
    const double ramp = std::min(QuietBase(m_Setup, "TaPP"), QuietBase(m_Setup, "TaNP"));
    if (!(ramp > 0.0)) return;
    const double peak_base = p / ramp;
    ZelQuietErrors quiet;
    const CZel_Parameter* speed = m_Setup.FindParameter("TestSpeed");
    const double peak = speed ? speed->GetSelectedUnit().FromBase(peak_base) : peak_base;
    RescaleScopePair(*scope, "Speed_Reference", "Load_Speed", std::fabs(0.5 * peak),
                     SelectedUnitName(m_Setup, "TestSpeed"), 2.0);
  } else if (which == ScopeChannels::Current && !OverSpeedLoop()) {
    RescaleCurrentPair(*scope, m_Setup);
  }
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
