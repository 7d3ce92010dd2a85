#include "host/zel_dialog_script.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "host/zel_dialog_script_verbs.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_headless.h"
#include "host/zel_json_parse.h"

using nlohmann::json;

namespace {

const std::set<std::string>& Keys() {
  static const std::set<std::string> keys{
      "do",      "id",      "param",  "role",      "caption", "text",     "value",
      "index",   "data",    "unit",   "position",  "steps",   "ms",       "button",
      "path",    "command", "key",    "ctrl",      "shift",   "alt",      "enabled",
      "shown",   "checked", "selection", "items",  "tolerance", "message", "dialog",
      "parameters", "pump", "file",   "comment"};
  return keys;
}

struct ParseError {
  std::string what;
};

template <class T>
T Get(const json& o, const char* key, const char* type) {
  try {
    return o.at(key).get<T>();
  } catch (const json::exception&) {
    throw ParseError{std::string("\"") + key + "\" must be " + type};
  }
}

// A whole number of T's range; a fraction or a number beyond the range is refused rather
// than cut to fit.
template <class T>
T Whole(const json& o, const char* key, const char* type = "a whole number") {
  const json& v = o.at(key);
  const std::string refusal = std::string("\"") + key + "\" must be " + type;
  if (v.is_number_integer()) {
    if (v.is_number_unsigned() ? v.get<std::uint64_t>() > static_cast<std::uint64_t>(
                                                            std::numeric_limits<T>::max())
                               : v.get<std::int64_t>() < std::numeric_limits<T>::min() ||
                                     v.get<std::int64_t>() > std::numeric_limits<T>::max())
      throw ParseError{refusal};
    return static_cast<T>(v.get<std::int64_t>());
  }
  if (!v.is_number_float()) throw ParseError{refusal};
  const double d = v.get<double>();
  // Both bounds as doubles: the upper one of a 64-bit type is rounded up, hence "<".
  if (d != std::floor(d) || !(d >= static_cast<double>(std::numeric_limits<T>::min())) ||
      !(d < static_cast<double>(std::numeric_limits<T>::max()) + 1.0))
    throw ParseError{refusal};
  return static_cast<T>(d);
}

ZelScriptAction ParseAction(const json& o, int step) {
  if (!o.is_object()) throw ParseError{"a step is an object with a \"do\" field"};
  for (const auto& [key, value] : o.items()) {
    if (!Keys().count(key)) throw ParseError{"unknown field \"" + key + "\""};
  }
  if (!o.contains("do")) throw ParseError{"the step has no \"do\" field"};
  ZelScriptAction a;
  a.step = step;
  a.verb = Get<std::string>(o, "do", "a text");
  if (!ZelIsScriptVerb(a.verb)) throw ParseError{"unknown step \"" + a.verb + "\""};
  if (o.contains("id")) a.id = Whole<int>(o, "id");
  if (o.contains("param")) a.param = Get<std::string>(o, "param", "a text");
  if (o.contains("role")) a.role = Get<std::string>(o, "role", "a text");
  if (o.contains("caption")) a.caption = Get<std::string>(o, "caption", "a text");
  if (o.contains("text")) a.text = Get<std::string>(o, "text", "a text");
  if (o.contains("value")) a.value = Get<double>(o, "value", "a number");
  if (o.contains("index")) a.index = Whole<int>(o, "index");
  if (o.contains("data")) a.data = Whole<long long>(o, "data");
  if (o.contains("unit")) a.unit = Get<std::string>(o, "unit", "a text");
  if (o.contains("position")) a.position = Whole<int>(o, "position");
  if (o.contains("steps")) a.steps = Whole<int>(o, "steps");
  if (o.contains("ms")) {
    a.ms = Get<double>(o, "ms", "a number");
    if (!(a.ms >= 0 && a.ms <= kZelMaxWaitMs))
      throw ParseError{"\"ms\" must be from 0 to " + std::to_string(kZelMaxWaitMs) +
                       " (an hour)"};
  }
  if (o.contains("button")) a.button = Get<std::string>(o, "button", "a text");
  if (o.contains("path")) a.path = Get<std::string>(o, "path", "a text");
  if (o.contains("file")) a.path = Get<std::string>(o, "file", "a text");
  if (o.contains("command")) a.command = Whole<int>(o, "command");
  if (o.contains("key")) a.key = Get<std::string>(o, "key", "a text");
  if (o.contains("ctrl") && Get<bool>(o, "ctrl", "true or false")) a.modifiers |= kKeyCtrl;
  if (o.contains("shift") && Get<bool>(o, "shift", "true or false")) a.modifiers |= kKeyShift;
  if (o.contains("alt") && Get<bool>(o, "alt", "true or false")) a.modifiers |= kKeyAlt;
  if (o.contains("enabled")) a.enabled = Get<bool>(o, "enabled", "true or false");
  if (o.contains("shown")) a.shown = Get<bool>(o, "shown", "true or false");
  if (o.contains("checked")) a.checked = Whole<int>(o, "checked", "0 or 1");
  if (o.contains("selection")) a.selection = Whole<int>(o, "selection");
  if (o.contains("items")) a.items = Get<std::vector<std::string>>(o, "items", "a list of texts");
  if (o.contains("tolerance")) a.tolerance = Get<double>(o, "tolerance", "a number");
  if (o.contains("message")) a.message = Get<std::string>(o, "message", "a text");
  if (o.contains("dialog")) a.dialog = Get<std::string>(o, "dialog", "a text");
  if (o.contains("parameters")) {
    const json& p = o.at("parameters");
    if (p.is_array()) {
      a.parameters = "list";
      a.parameter_list = Get<std::vector<std::string>>(o, "parameters", "a list of names");
    } else {
      a.parameters = Get<std::string>(o, "parameters", "\"bound\", \"all\", \"none\" or a list");
      if (a.parameters != "bound" && a.parameters != "all" && a.parameters != "none")
        throw ParseError{"\"parameters\" must be \"bound\", \"all\", \"none\" or a list"};
    }
  }
  if (o.contains("pump")) a.pump = Get<bool>(o, "pump", "true or false");

  if (std::string refusal = ZelScriptStepRefusal(a); !refusal.empty()) throw ParseError{refusal};
  return a;
}

}  // namespace

ZelScriptParse ZelParseDialogScript(std::string_view text, const std::string& origin) {
  ZelScriptParse out;
  out.script.origin = origin;
  json doc;
  std::string duplicate;
  if (std::string why = zel::ZelReadJson(text, doc, &duplicate); !why.empty()) {
    out.error = origin + (duplicate.empty() ? ": not JSON: " : ": ") + why;
    return out;
  }
  const json* steps = &doc;
  if (doc.is_object()) {
    if (!doc.contains("steps") || doc.size() != 1) {
      out.error = origin + ": a script is a list of steps, or an object with only \"steps\"";
      return out;
    }
    steps = &doc["steps"];
  }
  if (!steps->is_array()) {
    out.error = origin + ": the steps must be a list";
    return out;
  }
  if (steps->size() > kZelMaxScriptSteps) {
    out.error = origin + ": a script holds at most " + std::to_string(kZelMaxScriptSteps) +
                " steps, not " + std::to_string(steps->size());
    return out;
  }
  int n = 0;
  for (const json& o : *steps) {
    ++n;
    try {
      out.script.actions.push_back(ParseAction(o, n));
    } catch (const ParseError& e) {
      out.error = origin + ": step " + std::to_string(n) + ": " + e.what;
      out.script.actions.clear();
      return out;
    }
  }
  out.ok = true;
  return out;
}

ZelScriptParse ZelLoadDialogScript(const std::string& path) {
  std::string text;
  std::string error = ZelReadFileLimited(path, kZelMaxInputFileBytes, text);
  if (!error.empty()) {
    ZelScriptParse out;
    out.error = std::move(error);
    return out;
  }
  return ZelParseDialogScript(text, path);
}

std::string ZelScriptReport(const ZelHeadlessBackend& ui, int modal_result) {
  json out;
  out["result"] = modal_result;
  out["ok"] = ui.Errors().empty();
  out["errors"] = ui.Errors();
  out["notes"] = ui.Notes();
  json boxes = json::array();
  for (const ZelMessageRecord& m : ui.Messages()) {
    json buttons = json::array();
    for (int b : ZelMessageBoxButtons(m.style)) buttons.push_back(ZelAnswerName(b));
    boxes.push_back({{"owner", m.owner}, {"caption", m.caption}, {"text", m.text},
                     {"buttons", buttons}, {"icon", ZelIconName(m.style)},
                     {"answer", ZelAnswerName(m.answer)}, {"scripted", m.scripted},
                     {"time_ms", m.time_ms}});
  }
  out["messages"] = boxes;
  json help = json::array();
  for (const ZelHelpRecord& h : ui.HelpRequests())
    help.push_back({{"context", h.context}, {"page", h.page}});
  out["help"] = help;
  json dumps = json::array();
  for (const std::string& d : ui.Dumps()) dumps.push_back(json::parse(d));
  out["dumps"] = dumps;
  return out.dump(2);
}

namespace {

ZelScriptResult Collect(const ZelHeadlessBackend& ui, int modal_result) {
  ZelScriptResult r;
  r.modal_result = modal_result;
  r.errors = ui.Errors();
  r.notes = ui.Notes();
  r.dumps = ui.Dumps();
  r.report = ZelScriptReport(ui, modal_result);
  return r;
}

}  // namespace

ZelScriptResult ZelRunDialogScript(CZel_Dialog& dialog, const ZelDialogScript& script) {
  ZelHeadlessBackend ui(script);
  ZelScopedUiBackend installed(ui);
  const int result = dialog.DoModal();
  ui.NoteUnplayedSteps();
  return Collect(ui, result);
}

ZelScriptResult ZelRunWithScript(const ZelDialogScript& script, const std::function<int()>& run,
                                 const std::function<void(ZelHeadlessBackend&)>& prepare) {
  ZelHeadlessBackend ui(script);
  if (prepare) prepare(ui);
  ZelScopedUiBackend installed(ui);
  const int result = run ? run() : 0;
  ui.NoteUnplayedSteps();
  return Collect(ui, result);
}
