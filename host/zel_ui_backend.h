#pragma once
// The one seam between dialog logic and a toolkit. Dialogs never talk to a window system:
// modal loops, window timers, message boxes, the message pump, help, file dialogs and context
// menus all go through the installed UiBackend. The headless backend (zel_headless.h) runs
// dialogs from a script on a virtual clock; the Qt backend (app/qt/) shows them on screen.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CZel_Dialog;
class CZel_Setup;
class CGraphWindow;
struct ZelReportDocument;

// Message box styles and answers keep the numbers that the dialog code was written against,
// so a style can be stored or compared as a plain number.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbAbortRetryIgnore = 0x2;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbRetryCancel = 0x5;
inline constexpr unsigned kMbButtonsMask = 0x0F;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbIconMask = 0xF0;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The answers a style offers, in the order shown; the first is the default button.
std::vector<int> ZelMessageBoxButtons(unsigned style);
// "ok", "cancel", "abort", "retry", "ignore", "yes", "no"; empty for anything else.
const char* ZelAnswerName(int answer);
// The answer of that name (any case), 0 when none.
int ZelAnswerFromName(std::string_view name);
// "none", "error", "question", "warning", "information".
const char* ZelIconName(unsigned style);

// What a message box asks the user to do to the machine before confirming it, so that a
// stand-in for the drive does it when the user confirms: a field, not the box's wording.
enum class ZelAskedAction { None, BlockShaft, FreeShaft };

struct ZelMessageBoxRequest {
  std::string owner;  // caption of the dialog that shows the box; empty without one
  std::string text;
  std::string caption;
  unsigned style = kMbOk;
  ZelAskedAction asks = ZelAskedAction::None;
};

struct ZelFileDialogRequest {
  bool save = false;
  std::string title;
  std::string filter;   // Qt style: "Pictures (*.png);;All files (*)"
  std::string initial;  // proposed path or name
};

// A context menu entry; command 0 is a separator.
struct ZelMenuItem {
  int command = 0;
  std::string text;
  bool enabled = true;
  bool checked = false;
};

// Keys that the dialogs give a meaning to, as front ends pass them.
inline constexpr int kKeyEscape = 27;

// Modifier bits of a key press.
inline constexpr unsigned kKeyShift = 0x1;
inline constexpr unsigned kKeyCtrl = 0x2;
inline constexpr unsigned kKeyAlt = 0x4;

class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // Shows the dialog and runs its loop until it has ended. Calls the dialog's ModalInit()
  // once its controls exist and ModalShown() once it is visible. Loops nest: a dialog
  // opened from a handler runs its own loop inside the caller's.
  virtual void RunModal(CZel_Dialog& dialog) = 0;
  // The dialog has ended: its loop returns as soon as control is back in it.
  virtual void EndModal(CZel_Dialog& dialog) = 0;

  // A window timer of the dialog: OnTimer(id) every period until killed. Setting an id that
  // runs restarts it with the new period.
  virtual bool SetTimer(CZel_Dialog& dialog, unsigned id, unsigned period_ms) = 0;
  virtual bool KillTimer(CZel_Dialog& dialog, unsigned id) = 0;

  // Returns the chosen answer (kIdOk, ...).
  virtual int MessageBox(const ZelMessageBoxRequest& request) = 0;
  // Dispatches what is pending for the user interface (a long loop calls this so that the
  // user can still press Stop); true when something was dispatched.
  virtual bool PumpMessages() = 0;
  // Opens the help at a topic: `help_path` is the host's help location (GetGUIDirectory()
  // followed by GetHelpFileOfGUI()), the topic is a page named by its context number.
  virtual void ShowHelp(const std::string& help_path, unsigned context) = 0;
  // The chosen path, empty when the user cancelled.
  virtual std::string FileDialog(const ZelFileDialogRequest& request) = 0;
  // The chosen command, 0 when the menu was dismissed.
  virtual int ContextMenu(CZel_Dialog& dialog, const std::vector<ZelMenuItem>& items) = 0;

  // Milliseconds on the user-interface clock: virtual in headless runs, wall clock on screen.
  virtual double NowMs() const = 0;
  // Opens a document that the program wrote (a report) in the viewer the desktop has for
  // it; by default nothing is opened.
  virtual void OpenDocument(const std::string& /*path*/) {}
  virtual unsigned KeyboardModifiers() const { return 0; }

  // Writes the graph's picture as PNG through the atomic writer; empty on success, else
  // why not. The default draws it with the host's own raster; a toolkit may draw it as it
  // shows it.
  virtual std::string SaveGraphPicture(const CGraphWindow& graph, const std::string& png_path);
  // Draws a report as an A4 PDF, its plots as lines and text: empty with the bytes in `pdf`,
  // else why not. The host has no toolkit to draw one with; a toolkit's backend may.
  virtual std::string PrintReportPdf(const ZelReportDocument& report, std::string& pdf);

  // Whatever moves with user-interface time (the simulated drive) listens to the clock; it
  // is told the new time before any timer due at that time fires.
  int AddClockListener(std::function<void(double now_ms)> listener);
  void RemoveClockListener(int token);

 protected:
  void NotifyClock(double now_ms);

 private:
  struct Listener {
    int token;
    std::function<void(double)> fn;
  };
  std::vector<Listener> listeners_;
  int next_token_ = 1;
};

// The installed backend. Without one, a headless backend with no script: every dialog
// closes as cancelled and every message box takes its default answer.
UiBackend& ZelUi();
// Installs a backend (null restores the built-in headless one); returns the previous.
UiBackend* ZelSetUiBackend(UiBackend* backend);

class ZelScopedUiBackend {
 public:
  explicit ZelScopedUiBackend(UiBackend& backend) : previous_(ZelSetUiBackend(&backend)) {}
  ~ZelScopedUiBackend() { ZelSetUiBackend(previous_); }
  ZelScopedUiBackend(const ZelScopedUiBackend&) = delete;
  ZelScopedUiBackend& operator=(const ZelScopedUiBackend&) = delete;

 private:
  UiBackend* previous_;
};

// Whatever must follow what the user confirms (the simulated drive blocks its shaft once the
// user has confirmed the notice that asks for it) hears every message box and its answer,
// whichever backend answered it.
using ZelAnswerListener = std::function<void(const ZelMessageBoxRequest& request, int answer)>;
int ZelAddAnswerListener(ZelAnswerListener listener);
void ZelRemoveAnswerListener(int token);
// Asks the installed backend and tells the listeners; what dialogs and ZelMessageBox use.
int ZelAskMessageBox(const ZelMessageBoxRequest& request);
// A dialog that asked for an action before a test (the shaft blocked) tells, once that test
// has closed, that the action is needed no longer: whatever did it (the simulated drive)
// may undo it. A real shaft stays as the user's hand left it.
using ZelActionEndListener = std::function<void(ZelAskedAction ended)>;
int ZelAddActionEndListener(ZelActionEndListener listener);
void ZelRemoveActionEndListener(int token);
void ZelEndAskedAction(ZelAskedAction action);

// A message box without an owning dialog.
int ZelMessageBox(const std::string& text, const std::string& caption = "dcservo",
                  unsigned style = kMbOk, ZelAskedAction asks = ZelAskedAction::None);
bool ZelPumpMessages();

// --- help ---
// The user-interface folder, with a trailing '/': set by the program at start-up, else the
// environment variable DCSERVO_GUI_DIR, else empty (the working folder).
std::string GetGUIDirectory();
void ZelSetGUIDirectory(std::string folder);
// The help "file" of the user interface: a folder of HTML pages, one per context number.
// Empty means the host has no help, and Help buttons do nothing.
std::string GetHelpFileOfGUI(CZel_Setup* setup);
void ZelSetHelpFileOfGUI(std::string name);
inline constexpr unsigned kHhHelpContext = 15;
// Opens help the way the dialogs ask for it: only the context command is known.
void ZelHtmlHelp(const std::string& help_path, unsigned command, unsigned context);
// The page that shows a context: "<help_path>/<context>.html", or the folder's index.html
// when there is no page for it; empty when neither exists.
std::string ZelHelpPage(const std::string& help_path, unsigned context);
