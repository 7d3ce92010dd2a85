#include "host/zel_dialog_script_verbs.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "host/zel_dialog_setup.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_headless.h"
#include "host/zel_names.h"
#include "host/zel_setup_file.h"

using nlohmann::json;

namespace {

// --- acting --------------------------------------------------------------------------------

using Role = CZel_EditSetupDlg::Role;

bool RoleFromName(const std::string& name, Role& role) {
  static const std::pair<const char*, Role> kRoles[] = {
      {"edit", Role::Edit},   {"unit", Role::Unit},     {"check", Role::Check},
      {"radio", Role::Radio}, {"list", Role::List},     {"slider", Role::Slider},
      {"spin", Role::Spin}};
  for (const auto& [n, r] : kRoles) {
    if (zel::NamesEqual(name, n)) {
      role = r;
      return true;
    }
  }
  return false;
}

const char* RoleName(Role role) {
  switch (role) {
    case Role::Edit: return "edit";
    case Role::Unit: return "unit";
    case Role::Check: return "check";
    case Role::Radio: return "radio";
    case Role::List: return "list";
    case Role::Slider: return "slider";
    case Role::Spin: return "spin";
    case Role::None: break;
  }
  return "";
}

// The control a step names; 0 with `error` set when there is none.
int Resolve(const CZel_Dialog& top, const ZelScriptAction& a, std::initializer_list<Role> defaults,
            std::string& error) {
  if (a.id) {
    if (!top.HasControl(a.id)) error = "\"" + top.GetCaption() + "\" has no control " + std::to_string(a.id);
    return top.HasControl(a.id) ? a.id : 0;
  }
  if (!a.param.empty()) {
    const auto* setup_dlg = dynamic_cast<const CZel_EditSetupDlg*>(&top);
    if (!setup_dlg) {
      error = "\"" + top.GetCaption() + "\" binds no parameters";
      return 0;
    }
    std::vector<Role> roles(defaults);
    if (!a.role.empty()) {
      Role r;
      if (!RoleFromName(a.role, r)) {
        error = "unknown role \"" + a.role + "\"";
        return 0;
      }
      roles = {r};
    }
    for (Role r : roles) {
      const int index = r == Role::Radio ? a.index.value_or(0) : r == Role::Spin ? a.index.value_or(0) : 0;
      if (int id = setup_dlg->FindBoundControl(a.param, r, index)) return id;
    }
    std::string wanted;
    for (Role r : roles) wanted += std::string(wanted.empty() ? "" : " or ") + RoleName(r);
    error = "no " + wanted + " control is bound to \"" + a.param + "\"";
    return 0;
  }
  if (!a.caption.empty()) {
    for (int id : top.GetControlIds()) {
      const std::string& now = top.GetControlState(id).text;
      const std::string& first = top.GetControlDef(id)->caption;
      if (now == a.caption || first == a.caption || ZelStripMnemonic(now) == a.caption ||
          ZelStripMnemonic(first) == a.caption)
        return id;
    }
    error = "\"" + top.GetCaption() + "\" has no control with the caption \"" + a.caption + "\"";
    return 0;
  }
  error = "the step names no control (\"id\", \"param\" or \"caption\")";
  return 0;
}

// "#rrggbb", as dumps name text colours.
std::string ZelColourName(unsigned rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", rgb & 0xFFFFFFu);
  return text;
}

std::string Refused(const CZel_Dialog& top) { return "refused: " + top.LastRefusal(); }

int ItemIndex(const CZel_Dialog& top, int id, const ZelScriptAction& a, std::string& error) {
  const ZelControlState& s = top.GetControlState(id);
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    const bool match = a.index ? static_cast<int>(i) == *a.index
                       : a.text ? (s.items[i].text == *a.text ||
                                   zel::NamesEqual(ZelStripMnemonic(s.items[i].text), *a.text))
                                : s.items[i].data == *a.data;
    if (match) return static_cast<int>(i);
  }
  error = "control " + std::to_string(id) + " has no such entry";
  return -1;
}

int KeyCode(const std::string& key) {
  if (key.size() == 1) return static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(key[0])));
  static const std::pair<const char*, int> kNames[] = {
      {"enter", '\r'}, {"return", '\r'}, {"escape", 27}, {"tab", '\t'}, {"space", ' '},
      {"f1", 0x70}};
  for (const auto& [n, code] : kNames) {
    if (zel::NamesEqual(key, n)) return code;
  }
  return 0;
}

std::string Expect(const CZel_Dialog& top, const ZelHeadlessBackend& ui, const ZelScriptAction& a) {
  std::vector<std::string> misses;
  if (!a.message.empty()) {
    const auto& boxes = ui.Messages();
    if (boxes.empty()) {
      misses.push_back("no message box was shown");
    } else if (boxes.back().text.find(a.message) == std::string::npos) {
      misses.push_back("the last message box says \"" + boxes.back().text + "\"");
    }
  }
  const bool control_check = a.text || a.enabled || a.shown || a.checked || a.selection ||
                             a.position || a.items;
  if (!a.param.empty() && a.value) {
    const auto* dlg = dynamic_cast<const CZel_EditSetupDlg*>(&top);
    CZel_Parameter* p = nullptr;
    if (dlg) {
      ZelQuietErrors quiet;
      p = dlg->GetSetup().FindParameter(a.param);
    }
    if (!p) return "the setup has no parameter \"" + a.param + "\"";
    double have = p->GetValueInBaseUnit();
    if (!a.unit.empty()) {
      const CZel_Unit* u = ZelUnitTable().FindUnitOfType(a.unit, p->GetUnitType());
      if (!u) return "\"" + a.unit + "\" is not a unit of \"" + a.param + "\"";
      have = u->FromBase(have);
    }
    const double tol = a.tolerance.value_or(1e-9 * std::max(1.0, std::fabs(*a.value)));
    if (!(std::fabs(have - *a.value) <= tol))
      misses.push_back("\"" + a.param + "\" is " + ZelFormatValue(have) + ", not " + ZelFormatValue(*a.value));
  }
  if (control_check) {
    std::string error;
    const int id = Resolve(top, a, {Role::Edit, Role::Check, Role::List, Role::Slider}, error);
    if (!id) return error;
    const ZelControlState& s = top.GetControlState(id);
    const std::string who = "control " + std::to_string(id);
    if (a.text && s.text != *a.text) misses.push_back(who + " shows \"" + s.text + "\"");
    if (a.enabled && s.enabled != *a.enabled) misses.push_back(who + (s.enabled ? " is enabled" : " is disabled"));
    if (a.shown && s.shown != *a.shown) misses.push_back(who + (s.shown ? " is shown" : " is hidden"));
    if (a.checked && s.checked != *a.checked) misses.push_back(who + " has checked = " + std::to_string(s.checked));
    if (a.selection && s.selection != *a.selection) misses.push_back(who + " has entry " + std::to_string(s.selection) + " selected");
    if (a.position && s.position != *a.position) misses.push_back(who + " is at " + std::to_string(s.position));
    if (a.items) {
      std::vector<std::string> have;
      for (const ZelListItem& item : s.items) have.push_back(item.text);
      if (have != *a.items) misses.push_back(who + " lists other entries");
    }
  }
  std::string out;
  for (const std::string& m : misses) out += (out.empty() ? "expected otherwise: " : "; ") + m;
  return out;
}

json ParameterJson(const CZel_Parameter& p) {
  json j;
  const double base = p.GetValueInBaseUnit();
  j["value"] = base;
  j["unit"] = p.GetUnitName();
  j["shown"] = p.GetSelectedUnit().FromBase(base);
  j["shown_unit"] = p.GetSelectedUnit().GetName();
  j["min"] = std::isfinite(p.GetMinInBaseUnit()) ? json(p.GetMinInBaseUnit()) : json(nullptr);
  j["max"] = std::isfinite(p.GetMaxInBaseUnit()) ? json(p.GetMaxInBaseUnit()) : json(nullptr);
  return j;
}


// --- the verbs: one row each -----------------------------------------------------------------

using Perform = std::string (*)(ZelHeadlessBackend& ui, CZel_Dialog& top, const ZelScriptAction& a);

std::string Done() { return {}; }
std::string Played(const CZel_Dialog& top, bool accepted) { return accepted ? Done() : Refused(top); }

// A dialog without the button still takes what the button would do.
std::string PressDialogButton(CZel_Dialog& top, int id) {
  if (top.HasControl(id)) return Played(top, top.UserClick(id));
  if (id == kIdOk) top.OnOK(); else top.OnCancel();
  return Done();
}

std::string PerformWait(ZelHeadlessBackend& ui, CZel_Dialog&, const ZelScriptAction& a) {
  ui.Advance(a.ms);
  return Done();
}
std::string PerformOk(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction&) {
  return PressDialogButton(top, kIdOk);
}
std::string PerformCancel(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction&) {
  return PressDialogButton(top, kIdCancel);
}
std::string PerformClose(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction&) {
  top.UserClose();
  return Done();
}
std::string PerformDump(ZelHeadlessBackend& ui, CZel_Dialog& top, const ZelScriptAction& a) {
  const std::string text = ZelDumpDialog(top, a.parameters, a.parameter_list, ui.NowMs());
  if (ui.DumpBytes() + text.size() > kZelMaxDumpBytes)
    return "the dumps would pass " + std::to_string(kZelMaxDumpBytes >> 20) +
           " MiB, the most one run keeps for its report; dump fewer parameters or less often";
  ui.AddDump(text);
  if (a.path.empty()) return Done();
  return ZelWriteFileAtomically(a.path, text + "\n");
}
std::string PerformExpect(ZelHeadlessBackend& ui, CZel_Dialog& top, const ZelScriptAction& a) {
  return Expect(top, ui, a);
}
std::string PerformKey(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  const int code = KeyCode(a.key);
  if (!code) return "unknown key \"" + a.key + "\"";
  top.UserKey(code, a.modifiers);
  return Done();
}
std::string PerformSet(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::Edit}, error);
  if (!id) return error;
  return Played(top, top.UserEdit(id, a.text ? *a.text : ZelFormatValue(*a.value)));
}
std::string PerformClick(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::Check, Role::Radio}, error);
  if (!id) return error;
  return Played(top, top.UserClick(id));
}
std::string PerformSelect(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::List, Role::Radio}, error);
  if (!id) return error;
  if (top.GetControlDef(id)->kind == ZelControlKind::Radio) return Played(top, top.UserClick(id));
  const int index = ItemIndex(top, id, a, error);
  if (index < 0) return error;
  return Played(top, top.UserSelect(id, index));
}
std::string PerformUnit(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  ZelScriptAction by_unit = a;
  by_unit.role = "unit";
  const int id = Resolve(top, by_unit, {Role::Unit}, error);
  if (!id) return error;
  by_unit.text = a.unit;
  by_unit.index.reset();
  const int index = ItemIndex(top, id, by_unit, error);
  if (index < 0) return "\"" + a.unit + "\" is not offered by control " + std::to_string(id);
  return Played(top, top.UserSelect(id, index));
}
std::string PerformSlide(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::Slider}, error);
  if (!id) return error;
  return Played(top, top.UserSlide(id, *a.position));
}
std::string PerformSpin(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::Spin}, error);
  if (!id) return error;
  return Played(top, top.UserSpin(id, a.steps.value_or(1)));
}
std::string PerformContextMenu(ZelHeadlessBackend&, CZel_Dialog& top, const ZelScriptAction& a) {
  std::string error;
  const int id = Resolve(top, a, {Role::Edit}, error);
  if (!id) return error;
  return Played(top, top.UserContextMenu(id));
}

using Complete = bool (*)(const ZelScriptAction& a);

// Each verb: what it answers (the front end's questions are answered in their turn by the
// headless backend, not played into the dialog), how it is played, and what it cannot do
// without.
struct VerbRow {
  const char* verb;
  ZelScriptAnswer answer;
  Perform perform;      // null for an answer
  Complete complete;    // null: nothing more is needed
  const char* refusal;  // when `complete` says no
};

const VerbRow kVerbs[] = {
    {"set", ZelScriptAnswer::None, PerformSet, [](const ZelScriptAction& a) { return a.text || a.value; },
     "\"set\" needs \"text\" or \"value\""},
    {"click", ZelScriptAnswer::None, PerformClick, nullptr, nullptr},
    {"select", ZelScriptAnswer::None, PerformSelect,
     [](const ZelScriptAction& a) { return a.index || a.text || a.data; },
     "\"select\" needs \"index\", \"text\" or \"data\""},
    {"unit", ZelScriptAnswer::None, PerformUnit, [](const ZelScriptAction& a) { return !a.unit.empty(); },
     "\"unit\" needs \"unit\""},
    {"slide", ZelScriptAnswer::None, PerformSlide,
     [](const ZelScriptAction& a) { return a.position.has_value(); }, "\"slide\" needs \"position\""},
    {"spin", ZelScriptAnswer::None, PerformSpin, nullptr, nullptr},
    {"key", ZelScriptAnswer::None, PerformKey, [](const ZelScriptAction& a) { return !a.key.empty(); },
     "\"key\" needs \"key\""},
    {"context-menu", ZelScriptAnswer::None, PerformContextMenu, nullptr, nullptr},
    {"answer", ZelScriptAnswer::Box, nullptr,
     [](const ZelScriptAction& a) { return ZelAnswerFromName(a.button) != 0; },
     "\"button\" must be ok, cancel, yes, no, abort, retry or ignore"},
    {"file", ZelScriptAnswer::File, nullptr, nullptr, nullptr},
    {"menu", ZelScriptAnswer::Menu, nullptr,
     [](const ZelScriptAction& a) { return a.command || a.text; },
     "\"menu\" needs \"command\" or \"text\""},
    {"wait", ZelScriptAnswer::None, PerformWait, nullptr, nullptr},
    {"ok", ZelScriptAnswer::None, PerformOk, nullptr, nullptr},
    {"cancel", ZelScriptAnswer::None, PerformCancel, nullptr, nullptr},
    {"close", ZelScriptAnswer::None, PerformClose, nullptr, nullptr},
    {"dump", ZelScriptAnswer::None, PerformDump, nullptr, nullptr},
    {"expect", ZelScriptAnswer::None, PerformExpect, nullptr, nullptr},
};

const VerbRow* FindVerb(std::string_view verb) {
  for (const VerbRow& row : kVerbs) {
    if (verb == row.verb) return &row;
  }
  return nullptr;
}

}  // namespace

bool ZelIsScriptVerb(std::string_view verb) { return FindVerb(verb) != nullptr; }

std::string ZelScriptStepRefusal(const ZelScriptAction& a) {
  const VerbRow* row = FindVerb(a.verb);
  if (!row || !row->complete || row->complete(a)) return {};
  return row->refusal;
}

std::string ZelPerformScriptAction(ZelHeadlessBackend& ui, CZel_Dialog& top,
                                   const ZelScriptAction& a) {
  if (!a.dialog.empty() && a.dialog != top.GetCaption())
    return "the dialog in front is \"" + top.GetCaption() + "\", not \"" + a.dialog + "\"";
  const VerbRow* row = FindVerb(a.verb);
  if (!row || !row->perform) return "\"" + a.verb + "\" cannot be played here";
  return row->perform(ui, top, a);
}

ZelScriptAnswer ZelScriptAnswerOf(std::string_view verb) {
  const VerbRow* row = FindVerb(verb);
  return row ? row->answer : ZelScriptAnswer::None;
}

std::string ZelDumpDialog(const CZel_Dialog& dialog, const std::string& parameters,
                          const std::vector<std::string>& names, double time_ms) {
  json out;
  out["dialog"] = dialog.GetCaption();
  out["template"] = dialog.Template().id;
  out["time_ms"] = time_ms;
  const auto* setup_dlg = dynamic_cast<const CZel_EditSetupDlg*>(&dialog);
  json controls = json::array();
  for (int id : dialog.GetControlIds()) {
    const ZelControlDef& def = *dialog.GetControlDef(id);
    const ZelControlState& s = dialog.GetControlState(id);
    json c;
    c["id"] = id;
    c["kind"] = ZelKindName(def.kind);
    c["text"] = s.text;
    c["enabled"] = s.enabled;
    c["shown"] = s.shown;
    if (s.blank) c["blank"] = true;
    switch (def.kind) {
      case ZelControlKind::Check:
      case ZelControlKind::Radio:
        c["checked"] = s.checked;
        break;
      case ZelControlKind::DropDown:
      case ZelControlKind::Tab: {
        json items = json::array();
        for (const ZelListItem& item : s.items) items.push_back({{"text", item.text}, {"data", item.data}});
        c["items"] = items;
        c["selection"] = s.selection;
        break;
      }
      case ZelControlKind::Slider:
        c["range"] = {s.range_min, s.range_max};
        c["position"] = s.position;
        break;
      case ZelControlKind::EncoderDiagram:
        c["angle_rad"] = s.indicator.angle_rad;
        break;
      case ZelControlKind::BarGraph:
        c["range"] = {s.indicator.lo, s.indicator.hi};
        c["value"] = s.indicator.value;
        c["reference"] = s.indicator.reference;
        break;
      default:
        break;
    }
    if (!s.image.empty()) c["image"] = s.image;
    if (s.text_colour != kZelTextDefault) c["colour"] = ZelColourName(s.text_colour);
    if (s.text_limit > 0) c["text_limit"] = s.text_limit;
    if (setup_dlg) {
      const auto bound = setup_dlg->GetControlBinding(id);
      if (!bound.parameter.empty()) c["bound"] = {{"parameter", bound.parameter}, {"role", RoleName(bound.role)}};
    }
    controls.push_back(c);
  }
  out["controls"] = controls;
  if (setup_dlg && parameters != "none") {
    json params = json::object();
    std::vector<std::string> list;
    if (parameters == "all") {
      const CZel_Parameters& all = setup_dlg->GetSetup().GetParameters();
      for (int i = 0; i < all.GetParametersCount(); ++i) list.push_back(all[i]->GetName());
    } else if (parameters == "list") {
      list = names;
    } else {
      list = setup_dlg->GetBoundParameters();
    }
    ZelQuietErrors quiet;
    for (const std::string& name : list) {
      if (const CZel_Parameter* p = setup_dlg->GetSetup().FindParameter(name))
        params[p->GetName()] = ParameterJson(*p);
      else
        params[name] = nullptr;
    }
    out["parameters"] = params;
  }
  return out.dump(2);
}
