#include "host/zel_ui_backend.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_names.h"

namespace {

struct AnswerName {
  int answer;
  const char* name;
};

constexpr AnswerName kAnswers[] = {
    {kIdOk, "ok"},         {kIdCancel, "cancel"}, {kIdAbort, "abort"}, {kIdRetry, "retry"},
    {kIdIgnore, "ignore"}, {kIdYes, "yes"},       {kIdNo, "no"},
};

UiBackend*& Installed() {
  static UiBackend* backend = nullptr;
  return backend;
}

ZelHeadlessBackend& BuiltIn() {
  static ZelHeadlessBackend backend;
  return backend;
}

struct HelpSettings {
  bool gui_dir_set = false;
  std::string gui_dir;
  std::string help_file = "help";
};

HelpSettings& Help() {
  static HelpSettings settings;
  return settings;
}

}  // namespace

std::vector<int> ZelMessageBoxButtons(unsigned style) {
  switch (style & kMbButtonsMask) {
    case kMbOkCancel: return {kIdOk, kIdCancel};
    case kMbAbortRetryIgnore: return {kIdAbort, kIdRetry, kIdIgnore};
    case kMbYesNoCancel: return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo: return {kIdYes, kIdNo};
    case kMbRetryCancel: return {kIdRetry, kIdCancel};
    default: return {kIdOk};
  }
}

const char* ZelAnswerName(int answer) {
  for (const AnswerName& a : kAnswers) {
    if (a.answer == answer) return a.name;
  }
  return "";
}

int ZelAnswerFromName(std::string_view name) {
  for (const AnswerName& a : kAnswers) {
    if (zel::NamesEqual(name, a.name)) return a.answer;
  }
  return 0;
}

const char* ZelIconName(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconError: return "error";
    case kMbIconQuestion: return "question";
    case kMbIconWarning: return "warning";
    case kMbIconInformation: return "information";
    default: return "none";
  }
}

std::string UiBackend::SaveGraphPicture(const CGraphWindow& graph, const std::string& png_path) {
  return ZelWriteGraphPng(graph, png_path);
}

std::string UiBackend::PrintReportPdf(const ZelReportDocument&, std::string&) {
  return "this front end has nothing to draw a PDF with";
}

int UiBackend::AddClockListener(std::function<void(double now_ms)> listener) {
  listeners_.push_back({next_token_, std::move(listener)});
  return next_token_++;
}

void UiBackend::RemoveClockListener(int token) {
  std::erase_if(listeners_, [token](const Listener& l) { return l.token == token; });
}

void UiBackend::NotifyClock(double now_ms) {
  // A listener may remove itself while being told.
  const std::vector<Listener> snapshot = listeners_;
  for (const Listener& l : snapshot) l.fn(now_ms);
}

UiBackend& ZelUi() {
  UiBackend* installed = Installed();
  return installed ? *installed : BuiltIn();
}

UiBackend* ZelSetUiBackend(UiBackend* backend) {
  UiBackend* previous = Installed();
  Installed() = backend;
  return previous;
}

namespace {

struct AnswerListeners {
  std::vector<std::pair<int, ZelAnswerListener>> list;
  int next = 1;
};
AnswerListeners& Answers() {
  static AnswerListeners listeners;
  return listeners;
}

}  // namespace

int ZelAddAnswerListener(ZelAnswerListener listener) {
  Answers().list.emplace_back(Answers().next, std::move(listener));
  return Answers().next++;
}

void ZelRemoveAnswerListener(int token) {
  std::erase_if(Answers().list, [token](const auto& l) { return l.first == token; });
}

int ZelAskMessageBox(const ZelMessageBoxRequest& request) {
  const int answer = ZelUi().MessageBox(request);
  const auto snapshot = Answers().list;
  for (const auto& l : snapshot) l.second(request, answer);
  return answer;
}

namespace {

struct ActionEndListeners {
  std::vector<std::pair<int, ZelActionEndListener>> list;
  int next = 1;
};
ActionEndListeners& ActionEnds() {
  static ActionEndListeners listeners;
  return listeners;
}

}  // namespace

int ZelAddActionEndListener(ZelActionEndListener listener) {
  ActionEnds().list.emplace_back(ActionEnds().next, std::move(listener));
  return ActionEnds().next++;
}

void ZelRemoveActionEndListener(int token) {
  std::erase_if(ActionEnds().list, [token](const auto& l) { return l.first == token; });
}

void ZelEndAskedAction(ZelAskedAction action) {
  const auto snapshot = ActionEnds().list;
  for (const auto& l : snapshot) l.second(action);
}

int ZelMessageBox(const std::string& text, const std::string& caption, unsigned style,
                  ZelAskedAction asks) {
  return ZelAskMessageBox({"", text, caption, style, asks});
}

bool ZelPumpMessages() { return ZelUi().PumpMessages(); }

std::string GetGUIDirectory() {
  std::string dir;
  if (Help().gui_dir_set) {
    dir = Help().gui_dir;
  } else if (const char* env = std::getenv("DCSERVO_GUI_DIR")) {
    dir = env;
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

void ZelSetGUIDirectory(std::string folder) {
  Help().gui_dir_set = true;
  Help().gui_dir = std::move(folder);
}

std::string GetHelpFileOfGUI(CZel_Setup* /*setup*/) { return Help().help_file; }

void ZelSetHelpFileOfGUI(std::string name) { Help().help_file = std::move(name); }

void ZelHtmlHelp(const std::string& help_path, unsigned command, unsigned context) {
  if (command != kHhHelpContext) return;
  ZelUi().ShowHelp(help_path, context);
}

std::string ZelHelpPage(const std::string& help_path, unsigned context) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path folder(help_path);
  const fs::path page = folder / (std::to_string(context) + ".html");
  if (fs::is_regular_file(page, ec)) return page.string();
  const fs::path index = folder / "index.html";
  if (fs::is_regular_file(index, ec)) return index.string();
  return {};
}
