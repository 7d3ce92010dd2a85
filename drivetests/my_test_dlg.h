#pragma once
// The base of every test of the drive: the drive status check, the test flag check and the
// run that the tests share. A run writes the test's inputs into its program, starts it, and
// window timer 1 watches it every 20 ms: while the program has not started, the drive's
// protections; once it has, the axis; when the axis goes off, the verdict checks, and then
// the logged points are uploaded into the plot while the dialog stays live, so that Stop
// and Cancel still work during a long upload.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "design/step_response.h"
#include "drivetests/identification.h"
#include "drivetests/drive_test_targets.h"
#include "host/zel_comm.h"
#include "host/zel_mer.h"
#include "host/zel_test_dlg.h"

class CGraphWindow;
class CZel_CoffFormat;
class CZel_SingleAxisLogger;

namespace dcservo {

// Window timer 1 watches a run every 20 ms, in the phases the program runs on the drive and
// its log is uploaded.
inline constexpr unsigned kRunTimer = 1;
inline constexpr unsigned kRunTimerPeriod_ms = 20;
inline constexpr int kPhaseProgramRuns = 2;
inline constexpr int kPhaseUpload = 3;

// A test-program variable that holds this has no result yet.
inline constexpr double kUnsetValue = kZelNoResultYet;

// The masks of the drive conditions (bits of MER) that the tests check.
inline constexpr unsigned kCheckShortCircuit = zel_mer::kShortCircuit;
inline constexpr unsigned kCheckShortCircuitAndEnable = zel_mer::kShortCircuit | zel_mer::kDisabled;
inline constexpr unsigned kCheckAllConditions = 0xFFFF;

// The status texts of the tuning tests; each test adds its own instructions as entry 5.
enum TuningStatus : int {
  kStatusLaunching = 0,
  kStatusRunning = 1,
  kStatusUploading = 2,
  kStatusRunningUntilStop = 3,
  kStatusCurrentProtection = 4,
  kStatusInstructions = 5,
};
inline constexpr const char* kTuningStatusTexts[] = {
    "Launching the application for test",
    "Running test",
    "Uploading results",
    "Test running. Press \"Stop\" to end the test",
    "Test failed!\nCurrent protection triggered during test!",
};

// Asked when a test with the plot of an ended run on show is cancelled.
inline constexpr char kDiscardRunQuestion[] =
    "Close the test and discard the results of its last run? Save Plots keeps them.";

// The text CheckDriveErrors gives for a set of MER bits; empty when none of them is known.
const char* DriveErrorText(unsigned mer_bits);

// The value as printf's `format` (one conversion of a double) writes it.
std::string FormatValue(const char* format, double value);

// A value that a run writes into its program before it starts.
struct TestInput {
  const char* name;
  double value;
};

// What a run gives a script: the last run's inputs, the gains it ran with (scaled and chip
// values by name), what it measured or detected (base units, by name), its step figures
// when the test measures a step, the motor data its log identified, and its warnings.
struct TestRunReport {
  struct Value {
    std::string name;
    double value;
    std::string unit = {};  // of a result; a gain's is its parameter's
    // A measured result's resolution in its unit (what one count of what was measured moves
    // it by); 0 where the drive holds the value as a parameter, whose resolution it has.
    double step = 0.0;
  };
  std::vector<Value> inputs, gains, results;
  std::optional<StepFigures> measured, predicted;
  std::vector<IdentifiedValue> identified;
  std::vector<std::string> warnings;
  std::vector<TargetCheck> targets;  // the run's figures against their targets
};

class CMyTestDlg : public CZel_TestDlg {
 public:
  CMyTestDlg(CZel_Setup& setup, unsigned template_id, int flags = 1,
             CZel_Dialog* parent = nullptr);
  CMyTestDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags = 1,
             CZel_Dialog* parent = nullptr);
  ~CMyTestDlg() override;

  // 1 when none of the conditions that `mask` selects is present in the drive; else 0 with
  // the reason in m_strError, and with failTest = 1 the run has failed with it.
  int CheckDriveErrors(int failTest, unsigned mask);
  // 1 when the program's test_flag is positive; else 0 with the reason in m_strError, and
  // with failTest = 1 the run has failed with it.
  int CheckTestFlag(int failTest);

  // --- for scripts and the command line ---
  // The button that tunes the test's controller; 0 for a test without.
  virtual int GetTuneButton() const { return 0; }
  // The last run: its inputs, and what the test adds.
  virtual void DescribeRun(TestRunReport& report) const;
  // A value no longer than the drive can tell apart, as in the setup dialogs: an 8 A limit
  // kept in converter counts shows as 8, not 8.00006.
  double DisplayStep(CZel_Parameter& p) override;
  // The plot of the run: the one on screen, or the record of a run that the test watches
  // without one; null for a test with neither.
  virtual CGraphWindow* GetRunGraph() const { return run_.graph; }
  // After a run that ended before its upload (a protection tripped, the drive refused a
  // check): takes into the plot what the drive logged until then, so that a record of the
  // failure shows how the run ended. The run's verdict stays as it is. 1 when points were
  // read; 0 for a test without a log, a run already uploaded, or a drive that gives nothing.
  int UploadWhatWasLogged();
  // Whether an ended run left a plot on show that closing the dialog would lose: Save Plots
  // has something to save, and Cancel (Escape, the close box) asks first.
  virtual bool HasResultsToSave() const;
  void OnCancel() override;

 protected:
  // What a run of this test works with: its program, the logger whose points are uploaded
  // after the run (null for a test that reads its results from the program), the plot they
  // go into and the drive conditions that end the run.
  struct RunTools {
    const char* program = nullptr;
    CZel_CoffFormat* coff = nullptr;
    CZel_SingleAxisLogger* logger = nullptr;
    CGraphWindow* graph = nullptr;
    unsigned drive_mask = kCheckShortCircuit;
  };
  void SetRunTools(const RunTools& tools) { run_ = tools; }
  const RunTools& GetRunTools() const { return run_; }

  // The start of every run: the fields, text 0, the inputs written one by one in order, the
  // program launched and timer 1 armed. 0 when the run did not start (it has failed then).
  int StartRun(std::span<const TestInput> inputs);
  // A parameter in the drive's internal unit, through the plug-in's scale, truncated to the
  // signed 16 or 32 bits of a program variable.
  double InternalInt16(const char* name) const;
  double InternalInt32(const char* name) const;
  // The status text at the phase's index.
  void ShowPhaseText();
  // The status texts by phase; the tuning tests' by default.
  virtual std::span<const char* const> StatusTexts() const { return kTuningStatusTexts; }
  // Window timer 1 of a single run whose results are uploaded afterwards.
  void OnTimer(unsigned id) override;
  // For a test with a timer of its own: true when this is a tick of a run whose program
  // runs on the drive (timer 1 is killed then; the test re-arms it with RestartRunTimer).
  // A tick of a run in any other phase fails the run.
  bool TickOfRunningProgram(unsigned id);
  void RestartRunTimer();
  // A live variable read from the drive; null with the reason in m_strError (the run has
  // failed then): internal for a setup without it, the drive's text for a failed read.
  CZel_Variable* ReadLiveVariable(const char* name);
  // Each look at a running program, before its checks: a test that watches its run rather
  // than logs it records what it sees here.
  virtual void OnLook() {}
  // The checks when the program has ended, before the upload.
  virtual bool CheckRunEnded();

  // A run without a logger (nothing to upload): the program has ended and passed the
  // checks; read its results here and give the verdict.
  virtual void OnProgramEnded() { TestSucceeded(1); }
  // "Close" of a test that detects a value and stores it in `parameter` after a successful
  // run: when the value's text under `format` differs from the old one's, ask whether to
  // keep it. Yes ends the dialog with OK; No sets the parameter back and cancels; Cancel
  // stays in the dialog. Without a new value to ask about, the dialog is cancelled.
  void CloseOfferingToKeep(const char* label, const char* parameter, const char* format,
                           double old_value, double new_value);
  // Loads the compiled program for a run; without a drive it loads when the run starts.
  void LoadProgram(CZel_CoffFormat& coff, const char* program);
  // The checks once every point has been uploaded; none by default.
  virtual bool CheckAfterUpload() { return true; }
  // Every point is in the plot and the run is about to succeed: evaluate it here.
  // May end the run with TestFailed(1) when the log holds nothing the test can judge.
  virtual void OnResultsUploaded() {}
  // The row of the target table that judges the run; null for a test without targets.
  virtual const TestTargets* Targets() const { return nullptr; }
  // The run's figures against that row.
  virtual std::vector<TargetCheck> CheckRunTargets(const TestTargets&) const { return {}; }
  // Judges the evaluated run: true when every target was met; else false, with the first
  // missed target as the failure in m_strError.
  bool MeetsTargets();
  // Everything that a run writes before it starts, by name, as written (the last run's).
  std::span<const TestInput> LastInputs() const { return last_inputs_; }
  // While the program runs: the plot takes the points that the drive's log holds so far, and
  // the status (`status` first) counts them of those asked for.
  void ShowLoggingProgress(TuningStatus status);

 private:
  void WatchProgram();
  void UploadResults();
  // The status while the log's points go into the plot: how many of how many, and the share.
  void ShowUploadProgress(std::size_t read, std::size_t total);
  void ShowPointCount(TuningStatus status, std::size_t read, std::size_t total, const char* what);
  // Dispatches what is pending for the user interface; false when the run was abandoned.
  bool KeepDialogLive();

  RunTools run_;
  std::vector<TestInput> last_inputs_;
  std::vector<TargetCheck> targets_;
};

}  // namespace dcservo
