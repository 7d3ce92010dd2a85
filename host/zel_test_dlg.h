#pragma once
// The test dialog base, dialog side: the Start/Stop button, the status and result boxes,
// "&Details", the run fields that every test shares, and the two-page tab protocol of the
// tuning tests ("Test Parameters", then "Test"). What a run does on the drive is the test's
// own (BeginTest and its timer); this base only keeps the dialog consistent around it.

#include <cstdint>
#include <string>

#include "host/zel_dialog_setup.h"

class CZel_CoffFormat;
class CZel_Logger;

// Ids that a test template gives these controls.
inline constexpr int kIdcTestStartStop = 10000;  // "Start" / "Stop"
inline constexpr int kIdcTestStatus = 10001;     // status text of the run
inline constexpr int kIdcTestResult = 10002;     // outcome of the last run
inline constexpr int kIdcTestDetails = 10003;    // "&Details": the failure text
inline constexpr int kIdcTestHelp = 10024;       // "Help"

// Pages of the tuning tests' tab control.
inline constexpr int kTestParametersPage = 0;
inline constexpr int kTestPage = 1;

class CZel_TestDlg : public CZel_EditSetupDlg {
 public:
  static const char* const msc_pszErrInternal;

  CZel_TestDlg(CZel_Setup& setup, unsigned template_id, int flags = 1,
               CZel_Dialog* parent = nullptr);
  CZel_TestDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags = 1,
               CZel_Dialog* parent = nullptr);

  // Starts a run: called on Start. A test sets m_bTestRunning and arms its timer.
  virtual void BeginTest() {}

  // Start when idle, Stop during a run. Stop sets m_bStopRequested; a run that does not
  // last until Stop is abandoned at once (m_bTestRunning becomes 0).
  void OnBtnStartStop();
  void SetInfoText(const std::string& text);
  // Show the outcome; with end = 1 they also end the run.
  void TestSucceeded(int end);
  void TestFailed(int end);
  void OnDetails();
  void OnHelp();

  // --- the drive, as a run reaches it ---
  // Where the compiled program of that name is found.
  static std::string GetOutPathName(const char* program);
  // Downloads the setup's chip parameters, starts the program with the values written into
  // `coff` and arms the logger. On success the phase moves to 1: the program is launched.
  // 0 on failure, with the reason in CZel_Comm::GetLastErrorText().
  int ExecuteCode(const char* program, CZel_CoffFormat* coff, CZel_Logger* logger,
                  void* callback = nullptr, void* argument = nullptr);
  // A program variable: before the run the program's image, during and after it the drive.
  // 0 on failure, with the host's text in `error`.
  int SetUserVariableValue(CZel_CoffFormat* coff, const char* name, double value,
                           std::string& error);
  int GetUserVariableValue(CZel_CoffFormat* coff, const char* name, double& value,
                           std::string& error);
  // 0 when the drive cannot be asked.
  int GetAxisOn(int& flag);

  // The tab control whose pages follow the test protocol; 0 when the test has none.
  void SetTestTabControl(int tab_id) { test_tab_ = tab_id; }
  int GetTestTabControl() const { return test_tab_; }

  int OnInitDialog() override;
  void OnShowWindow(bool show) override;
  void OnOK() override;
  void OnCancel() override;
  bool OnTabSelChanging(int tab_id, int from, int to) override;
  void OnTabSelChanged(int tab_id, int page) override;
  const ZelMessageMap* GetMessageMap() const override;

  int m_bTestRunning = 0;
  int m_nTestResult = -1;
  int m_bRunUntilStop = 0;
  int m_bStopRequested = 0;
  std::string m_strError;
  std::int16_t m_nPhaseCount = 2;
  std::int16_t m_nPhase = 0;

 protected:
  // The test's own check before the "Test" page opens; it shows its own message on failure.
  virtual bool CheckTestParameters() { return true; }
  // A run was abandoned by Stop or by closing the dialog.
  virtual void OnRunAbandoned() {}

 private:
  void EndRun();
  void AbandonRun();
  // A run that ends while its program still runs on the drive (a failed check, Stop) must
  // not leave the motor powered.
  void StopProgramOfRun();
  void ShowOutcomeControls(bool with_details);

  int test_tab_ = 0;
  bool program_started_ = false;
  // The link's failures counted before this run began.
  std::uint64_t link_faults_before_ = 0;
};
