#pragma once
// The run of a tuning test, the layer between the test base and the tuning dialog: the program's
// inputs (the limits, the profile, whether it repeats), the timer by mode (the base's single
// run and upload, the repeating run uploaded at Stop, the scope's stream, the live display
// without a scope) and the figures that the run leaves. The dialog on top of it holds the
// controls; the speed and the position test fill the hooks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drivetests/my_test_dlg.h"
#include "drivetests/online_view.h"
#include "drivetests/tuning_graphs.h"
#include "drivetests/tuning_results.h"
#include "drivetests/tuning_scope.h"
#include "drivetests/tuning_template.h"
#include "host/zel_coff.h"

namespace dcservo {

// Mask of the drive conditions while the program is under way and at its end.
inline constexpr unsigned kTuningRunMask = 0xFFDF;

class CTuningRunDlg : public CMyTestDlg {
 public:
  CTuningRunDlg(CZel_Setup& setup, const TuningTestKind& kind, CZel_Dialog* parent);
  ~CTuningRunDlg() override;

  const TuningTestKind& Kind() const { return kind_; }
  bool HasScopeLogger() const { return scope_.Present(); }
  CZel_ScopeLogger* GetScopeLogger() const { return scope_.Logger(); }
  CZel_SingleAxisLogger& GetDataLogger() { return graphs_.Logger(); }
  CGraphWindow& GetLoggerGraph() { return graphs_.LoggerGraph(); }
  CGraphWindow& GetOnlineGraph() { return graphs_.OnlineGraph(); }
  bool IsPaused() const { return paused_; }
  bool HasCustomScopeSettings() const { return scope_.Custom(); }
  // The last run's figures, per completed cycle, and the prediction they are set against.
  const TuningRunFigures& GetFigures() const { return results_.Figures(); }
  // The friction that the last uploaded run shows; nothing for a run that held
  // no constant speed, and for the position test.
  const std::optional<FrictionFit>& GetFriction() const { return results_.Friction(); }
  void DescribeRun(TestRunReport& report) const override;
  // The segment of the profile that ended the last run before its program started; -1 if none.
  int GetFaultySegment() const { return faulty_segment_; }
  // The program this test runs for the setup's control structure.
  virtual const char* Program() const = 0;
  // The four logged variables, in channel order.
  virtual std::vector<std::string> LoggedVariables() const = 0;

  // The frame handler's entry: a whole unsolicited message.
  int OnUnsolicitedMessage(const std::uint8_t* message, std::size_t bytes);

  void BeginTest() override;

 protected:
  // Writes the limit that the program works against; 0 when the run failed.
  virtual int WriteLimitInputs() = 0;
  // What the program takes after MultiC; 0 when the run failed.
  virtual int WriteClosingInputs() { return 1; }
  // The current unit of the channels of the final value; what the trigger looks at.
  virtual void SetChannelScales(ScopeChannels which) = 0;
  virtual ScopeTriggerSettings TriggerSettings() const = 0;
  // The dialog's enabling rules, once the live display has started.
  virtual void RefreshState() = 0;

  void OnTimer(unsigned id) override;
  bool CheckRunEnded() override;
  bool CheckAfterUpload() override;
  void OnRunAbandoned() override;
  std::vector<TargetCheck> CheckRunTargets(const TestTargets& targets) const override {
    return CheckTrackingTargets(targets, results_.Figures());
  }

  // The program, the data logger and the on-line plot, as the dialog opens.
  void SetUpRun();
  bool Running() const { return m_bTestRunning != 0; }
  // The on-line view is on show: during a run as it runs, else as the user chose.
  bool ShowsOnline() const;
  // The run repeats until Stop: during a run as it runs, else as the user chose.
  bool Repeats() const;
  CGraphWindow& ShownGraph() { return graphs_.Shown(ShowsOnline()); }
  const CGraphWindow& ShownGraph() const { return graphs_.Shown(ShowsOnline()); }
  // The live display without a scope reads the drive.
  bool LiveDisplay() const { return live_display_; }
  int WriteInput(const char* name, double value);
  void DeriveChip(const char* name);
  void SetScopeSettings();
  void AttachOnlineGraph();
  TuningScope& Scope() { return scope_; }
  TuningGraphs& Graphs() { return graphs_; }
  const TuningGraphs& Graphs() const { return graphs_; }
  TuningRunResults& Results() { return results_; }

  // --- the run's buttons ---
  void OnStartStop();
  void OnPause();
  void OnContinue();

 private:
  void SetUpOnlineView();
  int WriteProfile();
  void ReadRunFlags();
  bool DriveAndFlagPass(bool fail_test);
  void WatchMultipleCycles();
  void StreamScope();
  void ShowLiveValues();
  void FinishOnline();
  void AddSweepFigures();
  void FinishFigures();

  CZel_CoffFormat coff_;
  const TuningTestKind& kind_;
  TuningGraphs graphs_;
  TuningScope scope_;
  bool online_ = false;
  bool multi_ = false;
  bool paused_ = false;
  bool live_display_ = false;
  int faulty_segment_ = -1;
  // What the last run wrote into its program, in order, each value as written.
  std::vector<TestRunReport::Value> written_inputs_;
  TuningRunResults results_;
};

}  // namespace dcservo
