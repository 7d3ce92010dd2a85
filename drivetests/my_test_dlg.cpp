#include "drivetests/my_test_dlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "derive/display_step.h"
#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_errors.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"
#include "host/zel_quiet_upload.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/scales.h"

namespace dcservo {

namespace {

// In the order in which they are looked at: the first set bit decides.
struct DriveCondition {
  unsigned bit;
  const char* text;
};
constexpr DriveCondition kDriveConditions[] = {
    {zel_mer::kShortCircuit, "Drive / Motor shortcircuit protection triggered."},
    {zel_mer::kControlError, "Drive / Motor control error protection triggered."},
    {zel_mer::kPositiveLimit,
     "Drive / Motor stopped due to positive limit switch input triggered."},
    {zel_mer::kNegativeLimit,
     "Drive / Motor stopped due to negative limit switch input triggered."},
    {zel_mer::kDisabled, "Drive / Motor ENABLE input is in DISABLED state."},
};

}  // namespace

const char* DriveErrorText(unsigned mer_bits) {
  for (const DriveCondition& c : kDriveConditions) {
    if (mer_bits & c.bit) return c.text;
  }
  return "";
}

std::string FormatValue(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

CMyTestDlg::CMyTestDlg(CZel_Setup& setup, unsigned template_id, int flags, CZel_Dialog* parent)
    : CZel_TestDlg(setup, template_id, flags, parent) {}

CMyTestDlg::CMyTestDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags,
                       CZel_Dialog* parent)
    : CZel_TestDlg(setup, tmpl, flags, parent) {}

CMyTestDlg::~CMyTestDlg() = default;

int CMyTestDlg::CheckDriveErrors(int failTest, unsigned mask) {
  CZel_Variable* mer = nullptr;
  {
    // A drive without MER is the internal failure below: no report.
    mer = m_Setup.FindVariable(var::MER, 0);
  }
  const char* text = msc_pszErrInternal;
  if (mer && mer->ReadFromChip()) {
    const auto bits =
        static_cast<unsigned>(static_cast<long long>(mer->GetValueInBaseUnit())) & 0xFFFFu;
    text = DriveErrorText(bits & mask);
    if (!*text) return 1;
  }
  m_strError = text;
  if (failTest == 1) TestFailed(1);
  return 0;
}

int CMyTestDlg::CheckTestFlag(int failTest) {
  double flag = 0.0;
  if (!GetUserVariableValue(run_.coff, program::test_flag, flag, m_strError)) {
    // the host has said why
  } else if (flag == kUnsetValue) {
    m_strError = msc_pszErrInternal;
  } else if (flag <= 0.0) {
    m_strError = kTuningStatusTexts[kStatusCurrentProtection];
  } else {
    return 1;
  }
  if (failTest == 1) TestFailed(1);
  return 0;
}

namespace {

// Truncated towards zero and kept within the variable's bits, as the program holds it.
double InternalTruncated(CZel_Setup& setup, const char* name, double lo, double hi) {
  const CZel_Parameter* p = setup.FindParameter(name);
  if (!p) return 0.0;
  const double internal =
      p->GetValueInBaseUnit() / ScaleFactor(setup, p->GetUnitName(), name) -
      ScaleOffset(setup, p->GetUnitName());
  const double truncated = std::trunc(std::clamp(internal, lo, hi));
  return std::isfinite(truncated) ? truncated : 0.0;
}

}  // namespace

double CMyTestDlg::InternalInt16(const char* name) const {
  return InternalTruncated(m_Setup, name, -32768.0, 32767.0);
}

double CMyTestDlg::InternalInt32(const char* name) const {
  return InternalTruncated(m_Setup, name, -2147483648.0, 2147483647.0);
}

bool CMyTestDlg::HasResultsToSave() const {
  return !m_bTestRunning && run_.graph && run_.graph->HasDrawnPoints();
}

void CMyTestDlg::OnCancel() {
  if (HasResultsToSave() &&
      MessageBox(kDiscardRunQuestion, {}, kMbYesNo | kMbIconQuestion) != kIdYes)
    return;
  CZel_TestDlg::OnCancel();
}

void CMyTestDlg::CloseOfferingToKeep(const char* label, const char* parameter,
                                     const char* format, double old_value, double new_value) {
  const std::string old_text = FormatValue(format, old_value);
  const std::string new_text = FormatValue(format, new_value);
  if (old_text == new_text || m_nTestResult != 1) {
    CZel_TestDlg::OnCancel();
    return;
  }
  const std::string question =
      "A different value than specified has been detected for the following parameter(s):"
      "\r\n\r\n" + std::string(label) + ":\tOld = " + old_text + "\tNew = " + new_text +
      "\r\n\r\nDo you want to save the new value(s)? (Recommended)";
  switch (MessageBox(question, {}, kMbYesNoCancel | kMbIconQuestion)) {
    case kIdYes: EndDialog(kIdOk); break;
    case kIdNo:
      // Not kept means not kept: the setup gets its old value back.
      m_Setup.SetParameterValueInBaseUnit(parameter, old_value);
      CZel_TestDlg::OnCancel();
      break;
    default: break;  // back to the dialog, the new value still shown
  }
}

void CMyTestDlg::LoadProgram(CZel_CoffFormat& coff, const char* program) {
  coff.SetPathName(GetOutPathName(program));
  coff.ReadCoff();
}

double CMyTestDlg::DisplayStep(CZel_Parameter& p) { return dcservo::DisplayStep(m_Setup, p); }

void CMyTestDlg::DescribeRun(TestRunReport& report) const {
  for (const TestInput& input : last_inputs_) report.inputs.push_back({input.name, input.value});
  report.targets = targets_;
}

// The record of a failed run only adds to what is known: a channel whose scale rests on a
// parameter the setup lacks is a poorer record, not an error.
int CMyTestDlg::UploadWhatWasLogged() {
  CZel_SingleAxisLogger* logger = run_.logger;
  if (!logger || !run_.graph || logger->UploadInProgress() || logger->UploadedWhole()) return 0;
  if (!ZelUploadQuietly(*logger)) return 0;
  run_.graph->RefreshGraph();
  run_.graph->DoZoomOut();
  return logger->GetPointsRead() > 0 ? 1 : 0;
}

bool CMyTestDlg::MeetsTargets() {
  const TestTargets* row = Targets();
  if (!row) return true;
  targets_ = CheckRunTargets(*row);
  const std::string missed = MissedTargetText(*row, targets_);
  if (missed.empty()) return true;
  m_strError = missed;
  return false;
}

void CMyTestDlg::ShowPhaseText() {
  const std::span<const char* const> texts = StatusTexts();
  if (m_nPhase >= 0 && m_nPhase < static_cast<int>(texts.size())) SetInfoText(texts[m_nPhase]);
}

int CMyTestDlg::StartRun(std::span<const TestInput> inputs) {
  m_bTestRunning = 1;
  m_nTestResult = -1;
  m_nPhase = 0;
  ShowPhaseText();
  last_inputs_.assign(inputs.begin(), inputs.end());
  for (const TestInput& input : inputs) {
    if (!SetUserVariableValue(run_.coff, input.name, input.value, m_strError)) {
      TestFailed(1);
      return 0;
    }
  }
  if (!ExecuteCode(run_.program, run_.coff, run_.logger)) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return 0;
  }
  ShowPhaseText();
  if (!SetTimer(kRunTimer, kRunTimerPeriod_ms)) {
    m_strError = CZel_Comm::GetLastErrorText();
    TestFailed(1);
    return 0;
  }
  return 1;
}

void CMyTestDlg::RestartRunTimer() { SetTimer(kRunTimer, kRunTimerPeriod_ms); }

void CMyTestDlg::OnTimer(unsigned id) {
  if (id != kRunTimer || !m_bTestRunning) {
    CZel_TestDlg::OnTimer(id);
    return;
  }
  KillTimer(kRunTimer);
  // The program was launched when the timer was armed: from the first tick it runs.
  if (m_nPhase == 1) m_nPhase = kPhaseProgramRuns;
  switch (m_nPhase) {
    case kPhaseProgramRuns: WatchProgram(); break;
    case kPhaseUpload: UploadResults(); break;
    default:
      m_strError = msc_pszErrInternal;
      TestFailed(1);
      CZel_TestDlg::OnTimer(id);
  }
}

bool CMyTestDlg::TickOfRunningProgram(unsigned id) {
  if (id != kRunTimer || !m_bTestRunning) return false;
  KillTimer(kRunTimer);
  if (m_nPhase == 1) m_nPhase = kPhaseProgramRuns;
  if (m_nPhase == kPhaseProgramRuns) return true;
  TestFailed(1);
  return false;
}

CZel_Variable* CMyTestDlg::ReadLiveVariable(const char* name) {
  CZel_Variable* v = nullptr;
  {
    // A setup without it is the internal failure below: no report.
    v = m_Setup.FindVariable(name, 0);
  }
  if (!v) {
    m_strError = msc_pszErrInternal;
  } else if (!v->ReadFromChip()) {
    m_strError = CZel_Comm::GetLastErrorText();
  } else {
    return v;
  }
  TestFailed(1);
  return nullptr;
}

bool CMyTestDlg::CheckRunEnded() {
  return CheckDriveErrors(1, run_.drive_mask) && CheckTestFlag(1);
}

void CMyTestDlg::WatchProgram() {
  double started = 0.0;
  if (!GetUserVariableValue(run_.coff, program::STARTED, started, m_strError)) {
    TestFailed(1);
    return;
  }
  OnLook();
  if (started == 0.0 || started == kUnsetValue) {
    if (CheckDriveErrors(1, run_.drive_mask)) RestartRunTimer();
    return;
  }
  int axis_on = 0;
  if (!GetAxisOn(axis_on)) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (axis_on) {
    if (run_.logger) ShowLoggingProgress(kStatusRunning);
    RestartRunTimer();
    return;
  }
  if (!CheckRunEnded()) return;
  if (!run_.logger) {  // nothing logged: the results are the program's variables
    OnProgramEnded();
    return;
  }
  if (!run_.logger->BeginUploadData()) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (run_.graph) run_.graph->Invalidate();
  ShowPhaseText();
  m_nPhase = kPhaseUpload;
  UploadResults();
}

bool CMyTestDlg::KeepDialogLive() {
  // Once per point: a front end whose queue never empties (repaints of the growing plot)
  // must not keep the upload from going on.
  ZelPumpMessages();
  return m_bTestRunning || m_bRunUntilStop;
}

void CMyTestDlg::ShowPointCount(TuningStatus status, std::size_t read, std::size_t total,
                                const char* what) {
  if (total == 0) return;
  SetInfoText(std::string(kTuningStatusTexts[status]) + ": " + std::to_string(read) + " of " +
              std::to_string(total) + " points" + what + " (" +
              std::to_string(100 * std::min(read, total) / total) + " %)");
}

void CMyTestDlg::ShowUploadProgress(std::size_t read, std::size_t total) {
  ShowPointCount(kStatusUploading, read, total, "");
}

void CMyTestDlg::ShowLoggingProgress(TuningStatus status) {
  // Where the drive can tell, the plot grows with the run instead of staying empty until the
  // upload (over a link, the upload is then mostly done when the run ends).
  CGraphWindow* graph = run_.graph;
  std::size_t recorded = 0, asked = 0;
  if (run_.logger && run_.logger->TakeLoggedPoints(recorded, asked, [graph] {
        if (graph) graph->UpdateLastPoint();
      }))
    ShowPointCount(status, recorded, asked, " logged");
}

void CMyTestDlg::UploadResults() {
  CGraphWindow* graph = run_.graph;
  auto zoom_out = [graph] {
    if (graph) graph->DoZoomOut();
  };
  zoom_out();
  if (!run_.logger) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  const std::size_t total = run_.logger->GetPointsUploaded();
  int percent_shown = -1;
  bool stopped = false;
  while (run_.logger->ReadPoint(nullptr)) {
    if (graph) graph->UpdateLastPoint();
    const std::size_t read = run_.logger->GetPointsRead();
    if (const int percent = static_cast<int>(100 * read / total); percent != percent_shown) {
      percent_shown = percent;
      ShowUploadProgress(read, total);
    }
    const bool live = KeepDialogLive();
    stopped = m_bRunUntilStop && m_bStopRequested;
    if (stopped) break;
    if (!live) {
      // Abandoned by Stop or Cancel: no verdict.
      run_.logger->EndUploadData();
      zoom_out();
      return;
    }
  }
  run_.logger->EndUploadData();
  zoom_out();
  if (!stopped && run_.logger->GetPointsRead() < total) {  // a block of the log did not come
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  if (!CheckAfterUpload()) return;
  OnResultsUploaded();
  // The test's own look at the results may have found nothing to judge and failed the run.
  if (!m_bTestRunning) return;
  if (!MeetsTargets()) {
    TestFailed(1);
    return;
  }
  TestSucceeded(1);
}

}  // namespace dcservo
