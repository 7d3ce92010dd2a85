#include "host/zel_test_dlg.h"

#include "host/zel_coff.h"
#include "host/zel_comm.h"

namespace {

constexpr unsigned kRunTimer = 1;

int FirstTab(const CZel_Dialog& dlg) {
  for (int id : dlg.GetControlIds()) {
    if (dlg.GetControlDef(id)->kind == ZelControlKind::Tab) return id;
  }
  return 0;
}

}  // namespace

const char* const CZel_TestDlg::msc_pszErrInternal =
    "Internal error: the test could not be carried out.";

CZel_TestDlg::CZel_TestDlg(CZel_Setup& setup, unsigned template_id, int flags,
                           CZel_Dialog* parent)
    : CZel_EditSetupDlg(setup, template_id, flags, nullptr, parent), test_tab_(FirstTab(*this)) {
  m_bAskBeforeDiscarding = false;
}

CZel_TestDlg::CZel_TestDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags,
                           CZel_Dialog* parent)
    : CZel_EditSetupDlg(setup, tmpl, flags, nullptr, parent), test_tab_(FirstTab(*this)) {
  m_bAskBeforeDiscarding = false;
}

const ZelMessageMap* CZel_TestDlg::GetMessageMap() const {
  static const ZelMessageMap map{CZel_EditSetupDlg::GetMessageMap(),
                                 {ZelOnClicked(kIdcTestStartStop, &CZel_TestDlg::OnBtnStartStop),
                                  ZelOnClicked(kIdcTestDetails, &CZel_TestDlg::OnDetails),
                                  ZelOnClicked(kIdcTestHelp, &CZel_TestDlg::OnHelp)}};
  return &map;
}

int CZel_TestDlg::OnInitDialog() {
  CZel_EditSetupDlg::OnInitDialog();
  SetChildText(kIdcTestStartStop, "Start");
  SetChildText(kIdcTestResult, "");
  ShowChild(kIdcTestDetails, 0);
  return 1;
}

void CZel_TestDlg::OnShowWindow(bool show) {
  CZel_EditSetupDlg::OnShowWindow(show);
  if (!show) return;
  if (test_tab_ && ListGetCount(test_tab_) > 0) SelectTabPage(test_tab_, kTestParametersPage);
  ShowChild(kIdcTestDetails, 0);
}

void CZel_TestDlg::SetInfoText(const std::string& text) { SetChildText(kIdcTestStatus, text); }

void CZel_TestDlg::OnBtnStartStop() {
  if (m_bTestRunning) {
    m_bStopRequested = 1;
    // A run that lasts until Stop ends in the test's own handler, with its verdict.
    if (!m_bRunUntilStop) AbandonRun();
    return;
  }
  m_bStopRequested = 0;
  m_strError.clear();
  const CZel_DriveLink* link = CZel_Comm::GetLink();
  link_faults_before_ = link ? link->FaultCount() : 0;
  SetChildText(kIdcTestResult, "");
  ShowChild(kIdcTestDetails, 0);
  BeginTest();
  if (m_bTestRunning) SetChildText(kIdcTestStartStop, "Stop");
  UpdateData(0);
}

void CZel_TestDlg::ShowOutcomeControls(bool with_details) {
  const bool on_results = test_tab_ == 0 || GetTabSelection(test_tab_) != kTestParametersPage;
  ShowChild(kIdcTestDetails, with_details && on_results);
}

void CZel_TestDlg::TestSucceeded(int end) {
  SetChildText(kIdcTestResult, "Test successful");
  ShowOutcomeControls(false);
  if (!end) return;
  m_nTestResult = 1;
  EndRun();
}

void CZel_TestDlg::TestFailed(int end) {
  // Whatever a test made of a drive that stopped answering, the lost link is why it failed.
  const std::string lost = CZel_Comm::LinkLostText();
  if (!lost.empty()) m_strError = lost;
  // The drive's own words say more than "internal error" when it refused or failed a
  // request of this run.
  const CZel_DriveLink* link = CZel_Comm::GetLink();
  if (lost.empty() && m_strError == msc_pszErrInternal && link &&
      link->FaultCount() > link_faults_before_)
    m_strError = link->LastError();
  SetChildText(kIdcTestResult, "Test failed");
  ShowOutcomeControls(!m_strError.empty());
  if (!end) return;
  EndRun();
}

std::string CZel_TestDlg::GetOutPathName(const char* program) {
  return CZel_Comm::GetOutPathName(program ? program : "");
}

int CZel_TestDlg::ExecuteCode(const char* program, CZel_CoffFormat* coff, CZel_Logger* logger,
                              void* /*callback*/, void* /*argument*/) {
  if (!CZel_Comm::ExecuteCode(&m_Setup, program ? program : "", coff, logger)) return 0;
  program_started_ = true;
  m_nPhase = 1;
  return 1;
}

int CZel_TestDlg::SetUserVariableValue(CZel_CoffFormat* coff, const char* name, double value,
                                       std::string& error) {
  return CZel_Comm::SetUserVariableValue(coff, name ? name : "", value, error);
}

int CZel_TestDlg::GetUserVariableValue(CZel_CoffFormat* coff, const char* name, double& value,
                                       std::string& error) {
  return CZel_Comm::GetUserVariableValue(coff, name ? name : "", value, error);
}

int CZel_TestDlg::GetAxisOn(int& flag) { return CZel_Comm::GetAxisOn(flag); }

void CZel_TestDlg::StopProgramOfRun() {
  if (!program_started_) return;
  program_started_ = false;
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (link && link->ProgramRunning()) CZel_Comm::StopProgram();
}

void CZel_TestDlg::EndRun() {
  KillTimer(kRunTimer);
  StopProgramOfRun();
  m_bTestRunning = 0;
  SetInfoText("Test finished");
  SetChildText(kIdcTestStartStop, "Start");
  UpdateData(0);
}

void CZel_TestDlg::AbandonRun() {
  KillTimer(kRunTimer);
  StopProgramOfRun();
  m_bTestRunning = 0;
  SetInfoText("Test stopped");
  SetChildText(kIdcTestStartStop, "Start");
  OnRunAbandoned();
  UpdateData(0);
}

void CZel_TestDlg::OnDetails() {
  if (!m_strError.empty()) MessageBox(m_strError, "Details", kMbOk | kMbIconWarning);
}

void CZel_TestDlg::OnHelp() {
  if (Template().help_context) ShowHelpTopic(Template().help_context);
}

void CZel_TestDlg::OnOK() {
  if (m_bTestRunning) AbandonRun();
  CZel_EditSetupDlg::OnOK();
}

void CZel_TestDlg::OnCancel() {
  if (m_bTestRunning) AbandonRun();
  CZel_EditSetupDlg::OnCancel();
}

bool CZel_TestDlg::OnTabSelChanging(int tab_id, int from, int to) {
  if (tab_id != test_tab_) return CZel_EditSetupDlg::OnTabSelChanging(tab_id, from, to);
  if (m_bTestRunning && to == kTestParametersPage) return false;
  if (!UpdateData(1)) return false;
  if (to == kTestPage && !CheckTestParameters()) return false;
  return true;
}

void CZel_TestDlg::OnTabSelChanged(int tab_id, int page) {
  CZel_EditSetupDlg::OnTabSelChanged(tab_id, page);
  if (tab_id != test_tab_) return;
  if (page != kTestPage) {
    ShowChild(kIdcTestDetails, 0);
    return;
  }
  if (m_nTestResult == 1)
    TestSucceeded(0);
  else if (!m_strError.empty())
    TestFailed(0);
  else
    ShowChild(kIdcTestDetails, 0);
}
