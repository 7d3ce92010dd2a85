#pragma once
// Dialog scripts (docs/dialog-scripts.md): a JSON list of user steps that the headless
// backend plays into a dialog: set a field, click, select, switch a unit, answer the next
// message box, let virtual time pass, check and dump the state of the controls and the values
// of the parameters.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CZel_Dialog;
class ZelHeadlessBackend;

struct ZelScriptAction {
  std::string verb;   // "do": one of the verbs of docs/dialog-scripts.md
  int step = 0;       // 1-based place in the script
  // The control: by id, by bound parameter (and role), or by caption.
  int id = 0;
  std::string param;
  std::string role;
  std::string caption;
  // What to do or expect.
  std::optional<std::string> text;
  std::optional<double> value;
  std::optional<int> index;
  std::optional<long long> data;
  std::string unit;
  std::optional<int> position;
  std::optional<int> steps;
  double ms = 0.0;
  std::string button;  // answer
  std::string path;    // file answer; dump file
  std::optional<int> command;
  std::string key;
  unsigned modifiers = 0;
  std::optional<bool> enabled, shown;
  std::optional<int> checked, selection;
  std::optional<std::vector<std::string>> items;
  std::optional<double> tolerance;
  std::string message;            // expect: text the last message box contains
  std::string dialog;             // caption that the acting dialog must have
  std::string parameters = "bound";  // dump: "bound", "all", "none" or a list
  std::vector<std::string> parameter_list;
  bool pump = false;
};

// The question of the front end that a step answers in its turn (a message box, a file
// dialog, a menu), or None for a step that is played into the dialog in front.
enum class ZelScriptAnswer { None, Box, File, Menu };
ZelScriptAnswer ZelScriptAnswerOf(std::string_view verb);

struct ZelDialogScript {
  std::string origin;  // file name, for messages
  std::vector<ZelScriptAction> actions;
};

struct ZelScriptParse {
  bool ok = false;
  std::string error;  // "origin: step N: what is wrong"
  ZelDialogScript script;
};

// What one script may ask, so that a small file cannot make a run without end or without
// bound: its steps, one wait's virtual time, and the dumps that its report keeps.
inline constexpr std::size_t kZelMaxScriptSteps = 10000;
inline constexpr int kZelMaxWaitMs = 3600 * 1000;
inline constexpr std::size_t kZelMaxDumpBytes = 16u << 20;

ZelScriptParse ZelParseDialogScript(std::string_view text, const std::string& origin);
ZelScriptParse ZelLoadDialogScript(const std::string& path);

// Plays one step into the dialog; empty on success, else what went wrong.
std::string ZelPerformScriptAction(ZelHeadlessBackend& ui, CZel_Dialog& top,
                                   const ZelScriptAction& action);

// The state of every control of the dialog and the values of parameters ("bound", "all",
// "none", or the names listed), as one JSON object.
std::string ZelDumpDialog(const CZel_Dialog& dialog, const std::string& parameters = "bound",
                          const std::vector<std::string>& names = {}, double time_ms = 0.0);

struct ZelScriptResult {
  int modal_result = 0;
  std::vector<std::string> errors;
  std::vector<std::string> notes;
  std::vector<std::string> dumps;  // JSON objects
  std::string report;              // everything above and the message boxes, as JSON
  bool ok() const { return errors.empty(); }
};

// Runs the dialog modally under a headless backend that plays the script; the installed
// backend is restored afterwards.
ZelScriptResult ZelRunDialogScript(CZel_Dialog& dialog, const ZelDialogScript& script);
// For callers that open the dialog themselves (the EditSetup export): `run` is called with a
// headless backend installed that plays the script, and returns the modal result.
// `prepare` may set the backend up before the run (its hooks).
ZelScriptResult ZelRunWithScript(const ZelDialogScript& script, const std::function<int()>& run,
                                 const std::function<void(ZelHeadlessBackend&)>& prepare = {});
// The report of a finished headless run.
std::string ZelScriptReport(const ZelHeadlessBackend& ui, int modal_result);
