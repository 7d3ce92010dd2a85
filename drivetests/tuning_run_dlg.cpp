#include "drivetests/tuning_run_dlg.h"

#include "derive/pipelines.h"
#include "drivetests/tuning_prediction.h"
#include "host/zel_comm.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "names/program_names.h"

namespace dcservo {

namespace {

// With the scope, frames are taken every millisecond.
constexpr unsigned kStreamPeriod_ms = 1;

// The scope's frames go to one test of each kind.
int FrameSlot(const TuningTestKind& kind) { return kind.loop == TunedLoop::Position ? 1 : 0; }

}  // namespace

CTuningRunDlg::CTuningRunDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent)
    : CMyTestDlg(setup, kind.template_id, 1, parent),
      kind_(kind),
      graphs_(setup),
      scope_(setup, &coff_) {
  m_nPhaseCount = QuietInt(kind_.online_plot) == 1 ? 2 : 3;
}

CTuningRunDlg::~CTuningRunDlg() = default;

void CTuningRunDlg::SetUpRun() {
  coff_.SetPathName(GetOutPathName(Program()));
  coff_.ReadCoff();
  graphs_.SetUpLogger(LoggedVariables(), this, kind_.caption);
  SetRunTools({Program(), &coff_, &graphs_.Logger(), &graphs_.LoggerGraph(), kTuningRunMask});
  SetUpOnlineView();
}

void CTuningRunDlg::SetUpOnlineView() {
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

void CTuningRunDlg::AttachOnlineGraph() {
  graphs_.AttachOnline(m_Setup, scope_.Logger(), LoggedVariables(), this, kind_.caption);
}

void CTuningRunDlg::SetScopeSettings() {
  if (!scope_.FollowsProfile()) return;
  SetChannelScales(ScopeChannels::FinalValue);
  SetChannelScales(ScopeChannels::Current);
  SetChannelScales(ScopeChannels::Speed);
  ApplyScopeTrigger(*scope_.Logger(), TriggerSettings());
}

void CTuningRunDlg::DeriveChip(const char* name) {
  RunStep(m_Setup, name, Direction::ToChip);
}

int CTuningRunDlg::WriteInput(const char* name, double value) {
  if (SetUserVariableValue(&coff_, name, value, m_strError)) {
    written_inputs_.push_back({name, value});
    return 1;
  }
  TestFailed(1);
  return 0;
}

void CTuningRunDlg::ReadRunFlags() {
  online_ = QuietInt(kind_.online_plot) == 1;
  multi_ = QuietInt(kind_.multi_cycle) == 1;
}

int CTuningRunDlg::WriteProfile() {
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
  results_.Start(m_Setup, kind_.loop, kind_.profile);
  return 1;
}

void CTuningRunDlg::BeginTest() {
  ReadRunFlags();
  m_bStopRequested = 0;
  m_nPhaseCount = online_ ? 2 : 3;
  m_bTestRunning = 1;
  m_nTestResult = -1;
  m_nPhase = 0;
  m_bRunUntilStop = 0;
  faulty_segment_ = -1;
  written_inputs_.clear();
  paused_ = false;
  live_display_ = false;
  ShowPhaseText();
  SetRunTools({Program(), &coff_, &graphs_.Logger(), &graphs_.LoggerGraph(), kTuningRunMask});
  // A run stopped just before may still be bringing the shaft to rest: this run's profile,
  // its trigger and its plots start from where the shaft comes to rest.
  if (!CZel_Comm::LetRunningProgramEnd()) {
    m_strError = CZel_Comm::GetLastErrorText();
    TestFailed(1);
    return;
  }
  if (!WriteLimitInputs() || !WriteProfile()) return;
  m_bRunUntilStop = multi_ ? 1 : 0;
  if (!WriteInput(program::MultiC, multi_ ? 1.0 : 0.0) || !WriteClosingInputs()) return;
  CZel_Logger* logger = &graphs_.Logger();
  if (online_) {
    logger = scope_.Logger();
    if (scope_.Present()) {
      graphs_.Online().ClearSweeps();
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
  graphs_.Shown(online_).RefreshGraph();
}

void CTuningRunDlg::OnTimer(unsigned id) {
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

bool CTuningRunDlg::DriveAndFlagPass(bool fail_test) {
  const int fail = fail_test ? 1 : 0;
  return CheckDriveErrors(fail, kTuningRunMask) && CheckTestFlag(fail);
}

// Failures found before the upload are reported once the data have been shown.
bool CTuningRunDlg::CheckRunEnded() {
  if (!DriveAndFlagPass(false)) {
    m_bRunUntilStop = 1;
    m_bStopRequested = 0;
  } else {
    m_bRunUntilStop = 0;
  }
  return true;
}

bool CTuningRunDlg::CheckAfterUpload() {
  if (!DriveAndFlagPass(true)) return false;
  FinishFigures();
  return true;
}

void CTuningRunDlg::WatchMultipleCycles() {
  if (m_bStopRequested) {
    // Stop: the program ends, then what the log holds is uploaded.
    CZel_Comm::StopProgram();
    CheckRunEnded();
    m_bRunUntilStop = 1;
    m_bStopRequested = 0;
    if (!graphs_.Logger().BeginUploadData()) {
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
  else ShowLoggingProgress(kStatusRunningUntilStop);
  SetTimer(kRunTimer, kRunTimerPeriod_ms);
}

void CTuningRunDlg::FinishOnline() {
  if (scope_.Present()) {
    scope_.Logger()->EndUploadData();
    // A single run whose program ended before its sweep filled the ring (the drive's period,
    // rounded up, gives the ring more time than the profile) is still the whole run.
    if (scope_.Logger()->GetMode() == CZel_ScopeLogger::kSingle)
      graphs_.Online().CloseOpenSweep(graphs_.OnlineGraph());
  }
  graphs_.OnlineGraph().DoZoomOut();
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

void CTuningRunDlg::StreamScope() {
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

void CTuningRunDlg::ShowLiveValues() {
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
    graphs_.Online().AddLivePoint(
        CZel_Comm::DriveTime(),
        {reference->GetValueInInternalUnit(), load->GetValueInInternalUnit()},
        graphs_.OnlineGraph());
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

int CTuningRunDlg::OnUnsolicitedMessage(const std::uint8_t* message, std::size_t bytes) {
  if (!scope_.TakeFrame(message, bytes)) return 0;
  if (graphs_.TakeScopePoints(*scope_.Logger())) AddSweepFigures();
  return 1;
}

void CTuningRunDlg::AddSweepFigures() {
  results_.AddSweeps(graphs_.Online().Sweeps());
  SetChildText(kFiguresText, FiguresText(results_.Figures()));
}

void CTuningRunDlg::FinishFigures() {
  if (online_) {
    AddSweepFigures();
    return;
  }
  if (results_.TakeUpload(m_Setup, graphs_.Logger(), graphs_.LoggerGraph(), kind_.loop))
    SetChildText(kFiguresText, FiguresText(results_.Figures()));
}

void CTuningRunDlg::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  report.inputs.insert(report.inputs.end(), written_inputs_.begin(), written_inputs_.end());
  results_.Describe(m_Setup, kind_.loop, Targets(), report);
}

void CTuningRunDlg::OnRunAbandoned() {
  if (scope_.Present()) scope_.Logger()->EndUploadData();
  live_display_ = false;
}

void CTuningRunDlg::OnPause() {
  paused_ = true;
  RefreshState();
}

void CTuningRunDlg::OnContinue() {
  paused_ = false;
  RefreshState();
}

void CTuningRunDlg::OnStartStop() {
  // An on-line run ends in its own timer tick, with the figures of what it showed.
  if (Running() && online_) {
    m_bStopRequested = 1;
    return;
  }
  OnBtnStartStop();
}

bool CTuningRunDlg::ShowsOnline() const {
  return Running() ? online_ : QuietInt(kind_.online_plot) == 1;
}

bool CTuningRunDlg::Repeats() const {
  return Running() ? multi_ : QuietInt(kind_.multi_cycle) == 1;
}

}  // namespace dcservo
