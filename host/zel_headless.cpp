#include "host/zel_headless.h"

#include <algorithm>
#include <limits>

#include "host/zel_names.h"

namespace {

// Records graph updates while a dialog is open; the headless backend has nothing to draw.
class RecordingView : public ZelDialogView {
 public:
  RecordingView(ZelHeadlessBackend& ui, CZel_Dialog& dialog) : ui_(ui), dialog_(dialog) {}
  void ControlChanged(int id) override {
    if (ui_.on_control_changed) ui_.on_control_changed(dialog_, id);
  }
  void GraphChanged(int id, ZelGraphEvent event, int point) override {
    ui_.RecordGraph(dialog_, id, event, point);
  }

 private:
  ZelHeadlessBackend& ui_;
  CZel_Dialog& dialog_;
};

std::string StepName(const ZelScriptAction& a) {
  return "step " + std::to_string(a.step) + " (" + a.verb + ")";
}

}  // namespace

// --- steps ---------------------------------------------------------------------------------

void ZelHeadlessBackend::AddScript(const ZelDialogScript& script) {
  for (const ZelScriptAction& a : script.actions) {
    PendingStep s;
    s.where = (script.origin.empty() ? "" : script.origin + ": ") + StepName(a);
    s.pump = a.pump;
    switch (ZelScriptAnswerOf(a.verb)) {
      case ZelScriptAnswer::Box:
        s.kind = StepKind::Answer;
        s.answer = ZelAnswerFromName(a.button);
        s.text = a.message;
        break;
      case ZelScriptAnswer::File:
        s.kind = StepKind::File;
        s.text = a.path;
        break;
      case ZelScriptAnswer::Menu:
        s.kind = StepKind::Menu;
        s.command = a.command.value_or(0);
        s.text = a.text.value_or("");
        break;
      case ZelScriptAnswer::None:
        s.action = a;
        break;
    }
    steps_.push_back(std::move(s));
  }
}

void ZelHeadlessBackend::Then(Step step, bool during_pump) {
  PendingStep s;
  s.fn = std::move(step);
  s.pump = during_pump;
  s.where = "step " + std::to_string(steps_.size() + 1);
  steps_.push_back(std::move(s));
}

void ZelHeadlessBackend::ThenAnswer(int answer) {
  PendingStep s;
  s.kind = StepKind::Answer;
  s.answer = answer;
  s.where = std::string("answer ") + ZelAnswerName(answer);
  steps_.push_back(std::move(s));
}

void ZelHeadlessBackend::ThenFile(std::string path) {
  PendingStep s;
  s.kind = StepKind::File;
  s.text = std::move(path);
  s.where = "file answer";
  steps_.push_back(std::move(s));
}

void ZelHeadlessBackend::ThenMenu(int command) {
  PendingStep s;
  s.kind = StepKind::Menu;
  s.command = command;
  s.where = "menu answer";
  steps_.push_back(std::move(s));
}

void ZelHeadlessBackend::ThenWait(double ms) {
  Then([this, ms](CZel_Dialog&) { Advance(ms); });
}

void ZelHeadlessBackend::Fail(const std::string& error) {
  errors_.push_back(error);
  // Nothing after a failed step can mean what its author meant.
  steps_.clear();
}

void ZelHeadlessBackend::NoteUnplayedSteps() {
  if (steps_.empty()) return;
  const std::size_t after = steps_.size() - 1;
  notes_.push_back(steps_.front().where + ": not played" +
                   (after == 0 ? std::string() : ", nor the " + std::to_string(after) + " after it") +
                   ": the dialog had closed before");
  steps_.clear();
}

void ZelHeadlessBackend::RunStep(PendingStep& step, CZel_Dialog& top) {
  if (step.kind != StepKind::Action) {
    Fail(step.where + ": nothing was waiting for this answer when its turn came");
    return;
  }
  if (step.fn) {
    step.fn(top);
    return;
  }
  const std::string error = ZelPerformScriptAction(*this, top, *step.action);
  if (!error.empty()) Fail(step.where + ": " + error);
}

// --- modal loops ---------------------------------------------------------------------------

void ZelHeadlessBackend::RunModal(CZel_Dialog& dialog) {
  stack_.push_back(&dialog);
  RecordingView view(*this, dialog);
  ZelDialogView* previous_view = dialog.GetView();
  dialog.AttachView(&view);
  dialog.ModalInit();
  if (!dialog.HasEnded()) dialog.ModalShown();
  while (!dialog.HasEnded()) {
    if (steps_.empty()) {
      notes_.push_back("the steps ran out while \"" + dialog.GetCaption() +
                       "\" was open; it was closed");
      dialog.UserClose();
      if (!dialog.HasEnded()) dialog.EndDialog(kIdCancel);
      break;
    }
    PendingStep step = std::move(steps_.front());
    steps_.pop_front();
    RunStep(step, dialog);
  }
  if (on_loop_end) on_loop_end(dialog);
  for (auto it = timers_.begin(); it != timers_.end();) {
    it = it->first.first == &dialog ? timers_.erase(it) : std::next(it);
  }
  dialog.AttachView(previous_view);
  stack_.pop_back();
}

void ZelHeadlessBackend::EndModal(CZel_Dialog& /*dialog*/) {
  // The loop looks at HasEnded() after every step.
}

// --- timers and the clock ------------------------------------------------------------------

bool ZelHeadlessBackend::SetTimer(CZel_Dialog& dialog, unsigned id, unsigned period_ms) {
  // A zero period would fire forever at one instant.
  const unsigned period = std::max(period_ms, 1u);
  timers_[{&dialog, id}] = Timer{now_ms_ + period, period, timer_seq_++};
  return true;
}

bool ZelHeadlessBackend::KillTimer(CZel_Dialog& dialog, unsigned id) {
  return timers_.erase({&dialog, id}) != 0;
}

bool ZelHeadlessBackend::FireNextTimer(double until) {
  auto next = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.due > until) continue;
    if (next == timers_.end() || it->second.due < next->second.due ||
        (it->second.due == next->second.due && it->second.seq < next->second.seq))
      next = it;
  }
  if (next == timers_.end()) return false;
  CZel_Dialog* dialog = next->first.first;
  const unsigned id = next->first.second;
  if (next->second.due > now_ms_) {
    now_ms_ = next->second.due;
    NotifyClock(now_ms_);
  }
  // Rearmed before the handler runs, so that a handler's own Kill or Set has the last word.
  next->second.due = now_ms_ + next->second.period;
  next->second.seq = timer_seq_++;
  dialog->DispatchTimer(id);
  return true;
}

void ZelHeadlessBackend::Advance(double ms) {
  const double target = now_ms_ + std::max(ms, 0.0);
  while (FireNextTimer(target)) {
  }
  if (target > now_ms_) {
    now_ms_ = target;
    NotifyClock(now_ms_);
  }
}

bool ZelHeadlessBackend::PumpMessages() {
  if (!steps_.empty() && steps_.front().pump && steps_.front().kind == StepKind::Action && Top()) {
    PendingStep step = std::move(steps_.front());
    steps_.pop_front();
    RunStep(step, *Top());
    return true;
  }
  return FireNextTimer(now_ms_);
}

// --- boxes and requests --------------------------------------------------------------------

int ZelHeadlessBackend::MessageBox(const ZelMessageBoxRequest& request) {
  ZelMessageRecord record{request.owner, request.caption, request.text, request.style, 0, false,
                          now_ms_};
  const std::vector<int> buttons = ZelMessageBoxButtons(request.style);
  record.answer = buttons.front();
  if (!steps_.empty() && steps_.front().kind == StepKind::Answer) {
    PendingStep step = std::move(steps_.front());
    steps_.pop_front();
    if (std::find(buttons.begin(), buttons.end(), step.answer) == buttons.end()) {
      std::string offered;
      for (int b : buttons) offered += std::string(offered.empty() ? "" : ", ") + ZelAnswerName(b);
      Fail(step.where + ": the box \"" + request.text + "\" offers " + offered);
    } else if (!step.text.empty() && request.text.find(step.text) == std::string::npos) {
      Fail(step.where + ": the box says \"" + request.text + "\", not \"" + step.text + "\"");
    } else {
      record.answer = step.answer;
      record.scripted = true;
    }
  }
  messages_.push_back(record);
  return record.answer;
}

void ZelHeadlessBackend::ShowHelp(const std::string& help_path, unsigned context) {
  help_.push_back({help_path, context, ZelHelpPage(help_path, context)});
}

std::string ZelHeadlessBackend::FileDialog(const ZelFileDialogRequest& request) {
  file_requests_.push_back(request);
  if (steps_.empty() || steps_.front().kind != StepKind::File) return {};
  PendingStep step = std::move(steps_.front());
  steps_.pop_front();
  return step.text;
}

int ZelHeadlessBackend::ContextMenu(CZel_Dialog& /*dialog*/,
                                    const std::vector<ZelMenuItem>& items) {
  if (steps_.empty() || steps_.front().kind != StepKind::Menu) return 0;
  PendingStep step = std::move(steps_.front());
  steps_.pop_front();
  for (const ZelMenuItem& item : items) {
    if (item.command == 0) continue;
    const bool match = step.text.empty()
                           ? item.command == step.command
                           : zel::NamesEqual(ZelStripMnemonic(item.text), ZelStripMnemonic(step.text));
    if (!match) continue;
    if (!item.enabled) {
      Fail(step.where + ": the menu entry \"" + item.text + "\" is disabled");
      return 0;
    }
    return item.command;
  }
  Fail(step.where + ": the menu has no such entry");
  return 0;
}

void ZelHeadlessBackend::RecordGraph(const CZel_Dialog& dialog, int id, ZelGraphEvent event,
                                     int point) {
  const std::string& caption = dialog.GetCaption();
  auto kept = std::find(graph_captions_.rbegin(), graph_captions_.rend(), caption);
  const std::string& name =
      kept != graph_captions_.rend() ? *kept : graph_captions_.emplace_back(caption);
  graph_events_.push_back({name, id, event, point});
}
