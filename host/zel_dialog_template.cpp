#include "host/zel_dialog_template.h"

#include <map>

#include "host/zel_errors.h"
#include "host/zel_names.h"

namespace {

struct KindName {
  ZelControlKind kind;
  const char* name;
};

constexpr KindName kKindNames[] = {
    {ZelControlKind::Group, "group"},
    {ZelControlKind::Label, "label"},
    {ZelControlKind::Edit, "edit"},
    {ZelControlKind::Text, "text"},
    {ZelControlKind::Button, "button"},
    {ZelControlKind::BitmapButton, "bitmap-button"},
    {ZelControlKind::Check, "check"},
    {ZelControlKind::Radio, "radio"},
    {ZelControlKind::DropDown, "drop-down"},
    {ZelControlKind::Slider, "slider"},
    {ZelControlKind::Spin, "spin"},
    {ZelControlKind::Tab, "tab"},
    {ZelControlKind::Picture, "picture"},
    {ZelControlKind::Graph, "graph"},
    {ZelControlKind::EncoderDiagram, "encoder-diagram"},
    {ZelControlKind::BarGraph, "bar-graph"},
};

// A template is checked when it is first looked up, not when it registers: every start
// registers every template, and most commands build no dialog.
struct RegisteredTemplate {
  const ZelDialogTemplate* tmpl;
  enum class Verdict { Unchecked, Sound, Refused } verdict = Verdict::Unchecked;
  ZelTemplateSource source = nullptr;  // builds tmpl at the first look-up, when tmpl is null
  unsigned id = 0;                     // the id it was registered under
};

std::map<unsigned, RegisteredTemplate>& TemplateRegistry() {
  static std::map<unsigned, RegisteredTemplate> registry;
  return registry;
}

std::string Who(const ZelDialogTemplate& tmpl) {
  return "template " + std::to_string(tmpl.id) + " (\"" + tmpl.caption + "\")";
}

// The template, or null (reported once) when it has problems.
const ZelDialogTemplate* SoundTemplate(RegisteredTemplate& entry) {
  using Verdict = RegisteredTemplate::Verdict;
  if (entry.verdict == Verdict::Unchecked) {
    if (!entry.tmpl) entry.tmpl = &entry.source();
    std::vector<std::string> problems = ZelCheckTemplate(*entry.tmpl);
    if (entry.tmpl->id != entry.id)
      problems.insert(problems.begin(), "it was registered as " + std::to_string(entry.id));
    entry.verdict = problems.empty() ? Verdict::Sound : Verdict::Refused;
    if (!problems.empty()) ZelReportError(Who(*entry.tmpl) + " is refused: " + problems.front());
  }
  return entry.verdict == Verdict::Sound ? entry.tmpl : nullptr;
}

}  // namespace

const char* ZelKindName(ZelControlKind kind) {
  for (const KindName& k : kKindNames) {
    if (k.kind == kind) return k.name;
  }
  return "?";
}

bool ZelKindFromName(std::string_view name, ZelControlKind& kind) {
  for (const KindName& k : kKindNames) {
    if (zel::NamesEqual(name, k.name)) {
      kind = k.kind;
      return true;
    }
  }
  return false;
}

std::vector<std::string> ZelCheckTemplate(const ZelDialogTemplate& tmpl) {
  std::vector<std::string> problems;
  std::map<int, ZelControlKind> kinds;
  for (const ZelControlDef& c : tmpl.controls) {
    if (c.id <= 0) continue;
    if (!kinds.emplace(c.id, c.kind).second)
      problems.push_back("control " + std::to_string(c.id) + " appears twice");
  }
  std::map<int, int> box_of;
  for (const ZelControlDef& c : tmpl.controls) {
    if (c.group == 0) continue;
    // Every program start registers every template: the texts are made only for a problem.
    auto who = [&c] { return "control " + std::to_string(c.id) + " (\"" + c.caption + "\")"; };
    auto box = kinds.find(c.group);
    if (box == kinds.end()) {
      problems.push_back(who() + " sits in box " + std::to_string(c.group) + ", which is not there");
    } else if (box->second != ZelControlKind::Group) {
      problems.push_back(who() + " sits in control " + std::to_string(c.group) +
                         ", which is not a group");
    }
    if (c.id > 0) box_of[c.id] = c.group;
  }
  for (const ZelControlDef& c : tmpl.controls) {
    const bool button = c.kind == ZelControlKind::Button || c.kind == ZelControlKind::BitmapButton;
    if (button && c.caption.empty() && c.image.empty())
      problems.push_back("button " + std::to_string(c.id) + " has neither caption nor image");
  }
  // A box inside itself, directly or through other boxes, cannot be laid out. A chain of
  // boxes longer than there are boxed controls has come round to one of them again.
  for (const auto& [id, first_box] : box_of) {
    std::size_t steps = 0;
    for (int box = first_box; box != 0; ++steps) {
      if (box == id || steps > box_of.size()) {
        problems.push_back("control " + std::to_string(id) + " is inside a circle of boxes");
        break;
      }
      auto up = box_of.find(box);
      box = up == box_of.end() ? 0 : up->second;
    }
  }
  return problems;
}

bool ZelRegisterTemplate(const ZelDialogTemplate* tmpl) {
  if (!tmpl) return false;
  if (!TemplateRegistry().emplace(tmpl->id, RegisteredTemplate{tmpl, {}, nullptr, tmpl->id})
           .second) {
    ZelReportError(Who(*tmpl) + " is refused: its id is taken");
    return false;
  }
  return true;
}

bool ZelRegisterTemplate(unsigned id, ZelTemplateSource source) {
  if (!source) return false;
  if (!TemplateRegistry().emplace(id, RegisteredTemplate{nullptr, {}, source, id}).second) {
    // Built here only to name it in the report.
    ZelReportError(Who(source()) + " is refused: its id is taken");
    return false;
  }
  return true;
}

std::vector<const ZelDialogTemplate*> ZelRegisteredTemplates() {
  std::vector<const ZelDialogTemplate*> all;
  for (auto& [id, entry] : TemplateRegistry()) {
    if (const ZelDialogTemplate* tmpl = SoundTemplate(entry)) all.push_back(tmpl);
  }
  return all;
}

const ZelDialogTemplate* ZelFindTemplate(unsigned id) {
  auto it = TemplateRegistry().find(id);
  return it == TemplateRegistry().end() ? nullptr : SoundTemplate(it->second);
}

std::string ZelStripMnemonic(std::string_view caption) {
  std::string out;
  out.reserve(caption.size());
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}
