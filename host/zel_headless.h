#pragma once
// The headless backend: dialogs run without a screen, driven by a queue of user steps (a
// script, or C++ steps in tests) on a virtual clock. Every message box, help request, file
// dialog, context menu and graph update is recorded, so a run can be checked afterwards.
//
// Steps are taken in order by the innermost open dialog's loop; a step acts on that dialog.
// An answer step answers the next message box (file dialog, context menu) and therefore
// follows the step that makes the box appear. A box with no answer waiting takes its default
// (first) button. When the steps run out, each open dialog is closed as the user closes a
// window (OnCancel). The clock moves only when a step waits; timers fire in due order.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/zel_dialog.h"
#include "host/zel_dialog_script.h"
#include "host/zel_ui_backend.h"

struct ZelMessageRecord {
  std::string owner;
  std::string caption;
  std::string text;
  unsigned style = kMbOk;
  int answer = kIdOk;
  bool scripted = false;  // answered by a step, not by default
  double time_ms = 0.0;
};

struct ZelHelpRecord {
  std::string help_path;
  unsigned context = 0;
  std::string page;  // the page that would open; empty when there is none
};

struct ZelGraphRecord {
  // The dialog's caption, kept by the backend that recorded it (valid while it lives): an
  // upload records a change per point, and a copy of the caption for each cost more than
  // drawing it.
  std::string_view dialog;
  int id = 0;
  ZelGraphEvent event = ZelGraphEvent::Refresh;
  int point = -1;
};

class ZelHeadlessBackend : public UiBackend {
 public:
  using Step = std::function<void(CZel_Dialog& top)>;

  ZelHeadlessBackend() = default;
  explicit ZelHeadlessBackend(const ZelDialogScript& script) { AddScript(script); }

  // --- steps ---
  void AddScript(const ZelDialogScript& script);
  // A user action in C++. With `during_pump` a long loop's message pump may take it too, as a
  // click that arrives while the loop runs.
  void Then(Step step, bool during_pump = false);
  void ThenAnswer(int answer);
  void ThenFile(std::string path);
  void ThenMenu(int command);
  void ThenWait(double ms);
  bool HasPendingSteps() const { return !steps_.empty(); }

  // --- clock ---
  double NowMs() const override { return now_ms_; }
  // Moves the clock on, firing every timer that falls due, each at its own time.
  void Advance(double ms);
  unsigned KeyboardModifiers() const override { return modifiers_; }
  void SetKeyboardModifiers(unsigned modifiers) { modifiers_ = modifiers; }

  // --- what happened ---
  const std::vector<ZelMessageRecord>& Messages() const { return messages_; }
  const std::vector<ZelHelpRecord>& HelpRequests() const { return help_; }
  const std::vector<ZelGraphRecord>& GraphEvents() const { return graph_events_; }
  const std::vector<ZelFileDialogRequest>& FileRequests() const { return file_requests_; }
  const std::vector<std::string>& OpenedDocuments() const { return documents_; }
  // Problems of the steps (a control missing or disabled, an answer nobody asked for, an
  // expectation not met). The first one stops the remaining steps.
  const std::vector<std::string>& Errors() const { return errors_; }
  void Fail(const std::string& error);
  // Things worth knowing that are not errors (the steps ran out with a dialog open).
  const std::vector<std::string>& Notes() const { return notes_; }
  const std::vector<std::string>& Dumps() const { return dumps_; }
  void AddDump(std::string json) {
    dump_bytes_ += json.size();
    dumps_.push_back(std::move(json));
  }
  std::size_t DumpBytes() const { return dump_bytes_; }
  // After the outermost dialog has closed: steps still waiting were never played; a note says
  // which, and they are dropped.
  void NoteUnplayedSteps();
  // Called as each dialog's loop ends, before the dialog closes its window: the state that
  // the steps left it in (a picture of the run is taken here).
  std::function<void(CZel_Dialog& dialog)> on_loop_end;
  // Told of every change of a control of an open dialog (a run's status line, for a
  // terminal that shows its progress).
  std::function<void(CZel_Dialog& dialog, int id)> on_control_changed;
  // Open dialogs, outermost first.
  const std::vector<CZel_Dialog*>& OpenDialogs() const { return stack_; }
  CZel_Dialog* Top() const { return stack_.empty() ? nullptr : stack_.back(); }

  // --- UiBackend ---
  void RunModal(CZel_Dialog& dialog) override;
  void EndModal(CZel_Dialog& dialog) override;
  bool SetTimer(CZel_Dialog& dialog, unsigned id, unsigned period_ms) override;
  bool KillTimer(CZel_Dialog& dialog, unsigned id) override;
  int MessageBox(const ZelMessageBoxRequest& request) override;
  bool PumpMessages() override;
  void ShowHelp(const std::string& help_path, unsigned context) override;
  void OpenDocument(const std::string& path) override { documents_.push_back(path); }
  std::string FileDialog(const ZelFileDialogRequest& request) override;
  int ContextMenu(CZel_Dialog& dialog, const std::vector<ZelMenuItem>& items) override;

  void RecordGraph(const CZel_Dialog& dialog, int id, ZelGraphEvent event, int point);

 private:
  enum class StepKind { Action, Answer, File, Menu };
  struct PendingStep {
    StepKind kind = StepKind::Action;
    Step fn;
    std::optional<ZelScriptAction> action;
    int answer = 0;
    std::string text;  // file path; expected text of a box; menu entry
    int command = 0;
    bool pump = false;
    std::string where;  // how errors name the step
  };
  struct Timer {
    double due;
    unsigned period;
    long long seq;
  };

  void RunStep(PendingStep& step, CZel_Dialog& top);
  bool FireNextTimer(double until);

  std::deque<PendingStep> steps_;
  std::vector<CZel_Dialog*> stack_;
  std::map<std::pair<CZel_Dialog*, unsigned>, Timer> timers_;
  long long timer_seq_ = 0;
  double now_ms_ = 0.0;
  unsigned modifiers_ = 0;
  std::vector<ZelMessageRecord> messages_;
  std::vector<ZelHelpRecord> help_;
  std::vector<std::string> documents_;
  std::vector<ZelGraphRecord> graph_events_;
  std::deque<std::string> graph_captions_;  // what graph_events_ name their dialogs by
  std::vector<ZelFileDialogRequest> file_requests_;
  std::vector<std::string> errors_;
  std::vector<std::string> notes_;
  std::size_t dump_bytes_ = 0;
  std::vector<std::string> dumps_;
};
