#include "host/zel_dialog.h"

#include <algorithm>

#include "host/zel_errors.h"

std::size_t ZelTextLength(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;  // continuation bytes do not count
  return n;
}

namespace {

const ZelControlState& EmptyState() {
  static const ZelControlState empty;
  return empty;
}

ZelDialogTemplate TemplateById(unsigned id) {
  if (const ZelDialogTemplate* tmpl = ZelFindTemplate(id)) return *tmpl;
  ZelReportError("dialog template " + std::to_string(id) + " is not registered");
  ZelDialogTemplate empty;
  empty.id = id;
  empty.caption = "Dialog " + std::to_string(id);
  return empty;
}

}  // namespace

CZel_Dialog::CZel_Dialog(const ZelDialogTemplate& tmpl, CZel_Dialog* parent)
    : template_(tmpl), parent_(parent), caption_(tmpl.caption) {
  for (const std::string& problem : ZelCheckTemplate(template_))
    ZelReportError("dialog template " + std::to_string(template_.id) + ": " + problem);
  BuildStates();
}

CZel_Dialog::CZel_Dialog(unsigned template_id, CZel_Dialog* parent)
    : CZel_Dialog(TemplateById(template_id), parent) {}

CZel_Dialog::~CZel_Dialog() { KillAllTimers(); }

void CZel_Dialog::BuildStates() {
  states_.clear();
  index_.clear();
  tab_pages_.clear();
  for (const ZelControlDef& c : template_.controls) {
    ZelControlState s;
    s.text = c.caption;
    s.enabled = !(c.style & kStyleDisabled);
    s.shown = !(c.style & kStyleHidden);
    s.image = c.image;
    if (c.kind == ZelControlKind::DropDown) {
      for (std::size_t i = 0; i < c.items.size(); ++i)
        s.items.push_back({c.items[i], static_cast<long long>(i)});
    }
    if (c.id > 0) index_.emplace(c.id, states_.size());
    states_.push_back(std::move(s));
  }
}

void CZel_Dialog::SetWindowText(const std::string& caption) {
  caption_ = caption;
  if (view_) view_->CaptionChanged();
}

const ZelControlDef* CZel_Dialog::GetControlDef(int id) const {
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : &template_.controls[it->second];
}

const ZelControlState& CZel_Dialog::GetControlState(int id) const {
  auto it = index_.find(id);
  return it == index_.end() ? EmptyState() : states_[it->second];
}

std::vector<int> CZel_Dialog::GetControlIds() const {
  std::vector<int> ids;
  for (const ZelControlDef& c : template_.controls) {
    if (c.id > 0) ids.push_back(c.id);
  }
  return ids;
}

ZelControlState* CZel_Dialog::MutableState(int id) {
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : &states_[it->second];
}

void CZel_Dialog::Changed(int id) {
  if (view_) view_->ControlChanged(id);
}

// --- control operations --------------------------------------------------------------------

void CZel_Dialog::EnableChild(int id, int enable, int blank) {
  ZelControlState* s = MutableState(id);
  if (!s) return;
  const bool on = enable != 0;
  const bool hide_content = !on && blank != 0;
  if (s->enabled == on && s->blank == hide_content) return;
  s->enabled = on;
  s->blank = hide_content;
  Changed(id);
}

void CZel_Dialog::EnableChildren(std::span<const int> ids, int enable, int blank) {
  for (int id : ids) EnableChild(id, enable, blank);
}

void CZel_Dialog::ShowChild(int id, int show) {
  ZelControlState* s = MutableState(id);
  if (!s || s->shown == (show != 0)) return;
  s->shown = show != 0;
  Changed(id);
}

void CZel_Dialog::ShowChildren(std::span<const int> ids, int show) {
  for (int id : ids) ShowChild(id, show);
}

void CZel_Dialog::SetChildText(int id, const std::string& text) {
  ZelControlState* s = MutableState(id);
  if (!s || s->text == text) return;
  s->text = text;
  Changed(id);
}

void CZel_Dialog::SetChildTooltip(int id, const std::string& text) {
  ZelControlState* s = MutableState(id);
  if (!s || s->tooltip == text) return;
  s->tooltip = text;
  Changed(id);
}

void CZel_Dialog::SetChildTextColour(int id, unsigned rgb) {
  ZelControlState* s = MutableState(id);
  if (!s || s->text_colour == rgb) return;
  s->text_colour = rgb;
  Changed(id);
}

void CZel_Dialog::LimitText(int id, int characters) {
  ZelControlState* s = MutableState(id);
  if (!s || s->text_limit == characters) return;
  s->text_limit = characters < 0 ? 0 : characters;
  Changed(id);
}

std::string CZel_Dialog::GetChildText(int id) const { return GetControlState(id).text; }

void CZel_Dialog::CheckDlgButton(int id, int check) {
  ZelControlState* s = MutableState(id);
  if (!s || s->checked == check) return;
  s->checked = check;
  Changed(id);
}

int CZel_Dialog::IsDlgButtonChecked(int id) const { return GetControlState(id).checked; }

void CZel_Dialog::CheckRadioButton(int first, int last, int check_id) {
  for (const ZelControlDef& c : template_.controls) {
    if (c.kind == ZelControlKind::Radio && c.id >= first && c.id <= last)
      CheckDlgButton(c.id, c.id == check_id ? 1 : 0);
  }
}

int CZel_Dialog::ListAddString(int id, const std::string& text) {
  ZelControlState* s = MutableState(id);
  if (!s) return -1;
  s->items.push_back({text, static_cast<long long>(s->items.size())});
  Changed(id);
  return static_cast<int>(s->items.size()) - 1;
}

int CZel_Dialog::ListSetItemData(int id, int index, long long data) {
  ZelControlState* s = MutableState(id);
  if (!s || index < 0 || index >= static_cast<int>(s->items.size())) return 0;
  s->items[static_cast<std::size_t>(index)].data = data;
  Changed(id);
  return 1;
}

long long CZel_Dialog::ListGetItemData(int id, int index) const {
  const ZelControlState& s = GetControlState(id);
  if (index < 0 || index >= static_cast<int>(s.items.size())) return -1;
  return s.items[static_cast<std::size_t>(index)].data;
}

int CZel_Dialog::ListGetCount(int id) const {
  return static_cast<int>(GetControlState(id).items.size());
}

std::string CZel_Dialog::ListGetText(int id, int index) const {
  const ZelControlState& s = GetControlState(id);
  if (index < 0 || index >= static_cast<int>(s.items.size())) return {};
  return s.items[static_cast<std::size_t>(index)].text;
}

int CZel_Dialog::ListFindItemData(int id, long long data) const {
  const ZelControlState& s = GetControlState(id);
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    if (s.items[i].data == data) return static_cast<int>(i);
  }
  return -1;
}

void CZel_Dialog::ListResetContent(int id) {
  ZelControlState* s = MutableState(id);
  if (!s) return;
  s->items.clear();
  s->selection = -1;
  Changed(id);
}

int CZel_Dialog::ListSetCurSel(int id, int index) {
  ZelControlState* s = MutableState(id);
  if (!s) return -1;
  if (index < -1 || index >= static_cast<int>(s->items.size())) index = -1;
  if (s->selection != index) {
    s->selection = index;
    Changed(id);
  }
  return index;
}

int CZel_Dialog::ListGetCurSel(int id) const { return GetControlState(id).selection; }

void CZel_Dialog::SliderSetRange(int id, int lo, int hi) {
  ZelControlState* s = MutableState(id);
  if (!s) return;
  if (hi < lo) std::swap(lo, hi);
  s->range_min = lo;
  s->range_max = hi;
  s->position = std::clamp(s->position, lo, hi);
  Changed(id);
}

void CZel_Dialog::SliderSetPos(int id, int position) {
  ZelControlState* s = MutableState(id);
  if (!s) return;
  position = std::clamp(position, s->range_min, s->range_max);
  if (s->position == position) return;
  s->position = position;
  Changed(id);
}

int CZel_Dialog::SliderGetPos(int id) const { return GetControlState(id).position; }

void CZel_Dialog::SetImage(int id, const std::string& image_name) {
  ZelControlState* s = MutableState(id);
  if (!s || s->image == image_name) return;
  s->image = image_name;
  Changed(id);
}

void CZel_Dialog::SetIndicator(int id, const ZelIndicatorState& state) {
  ZelControlState* s = MutableState(id);
  if (!s) return;
  s->indicator = state;
  Changed(id);
}

// --- tabs ----------------------------------------------------------------------------------

int CZel_Dialog::AddTabPage(int tab_id, const std::string& title, std::span<const int> ids) {
  ZelControlState* s = MutableState(tab_id);
  if (!s) return -1;
  s->items.push_back({title, static_cast<long long>(s->items.size())});
  tab_pages_[tab_id].emplace_back(ids.begin(), ids.end());
  const int page = static_cast<int>(s->items.size()) - 1;
  if (s->selection < 0) {
    s->selection = page;
    ShowPage(tab_id, page);
  } else {
    ShowPage(tab_id, s->selection);
  }
  Changed(tab_id);
  return page;
}

int CZel_Dialog::GetTabSelection(int tab_id) const { return GetControlState(tab_id).selection; }

void CZel_Dialog::SelectTabPage(int tab_id, int page) {
  ZelControlState* s = MutableState(tab_id);
  if (!s || page < 0 || page >= static_cast<int>(s->items.size())) return;
  if (s->selection != page) {
    s->selection = page;
    Changed(tab_id);
  }
  ShowPage(tab_id, page);
}

void CZel_Dialog::ShowPage(int tab_id, int page) {
  auto it = tab_pages_.find(tab_id);
  if (it == tab_pages_.end()) return;
  // Hide first, so that a control listed on two pages ends up shown.
  for (std::size_t p = 0; p < it->second.size(); ++p) {
    if (static_cast<int>(p) != page)
      for (int id : it->second[p]) ShowChild(id, 0);
  }
  if (page >= 0 && page < static_cast<int>(it->second.size()))
    for (int id : it->second[static_cast<std::size_t>(page)]) ShowChild(id, 1);
}

// --- modal life ----------------------------------------------------------------------------

int CZel_Dialog::DoModal() {
  if (running_) return -1;
  if (ran_before_) BuildStates();
  ran_before_ = true;
  running_ = true;
  ended_ = false;
  result_ = kIdCancel;
  backend_ = &ZelUi();
  backend_->RunModal(*this);
  KillAllTimers();
  running_ = false;
  backend_ = nullptr;
  return result_;
}

void CZel_Dialog::EndDialog(int result) {
  result_ = result;
  if (ended_) return;
  ended_ = true;
  if (running_ && backend_) backend_->EndModal(*this);
}

void CZel_Dialog::ModalInit() {
  OnInitDialog();
  OnInitDone();
}

void CZel_Dialog::ModalShown() { OnShowWindow(true); }

int CZel_Dialog::UpdateData(int save_and_validate) {
  ZelDataExchange dx(save_and_validate != 0);
  DoDataExchange(&dx);
  if (!dx.Failed()) return 1;
  if (!dx.Why().empty()) MessageBox(dx.Why(), {}, kMbOk | kMbIconWarning);
  return 0;
}

void CZel_Dialog::DoDataExchange(ZelDataExchange* /*pDX*/) {}

int CZel_Dialog::OnInitDialog() {
  UpdateData(0);
  return 1;
}

void CZel_Dialog::OnOK() {
  if (!UpdateData(1)) return;
  EndDialog(kIdOk);
}

void CZel_Dialog::OnCancel() { EndDialog(kIdCancel); }

// --- backend services ----------------------------------------------------------------------

bool CZel_Dialog::SetTimer(unsigned id, unsigned period_ms) {
  if (!running_ || !backend_) return false;
  if (!backend_->SetTimer(*this, id, period_ms)) return false;
  timers_.insert(id);
  return true;
}

bool CZel_Dialog::KillTimer(unsigned id) {
  if (!timers_.erase(id) || !backend_) return false;
  return backend_->KillTimer(*this, id);
}

void CZel_Dialog::KillAllTimers() {
  const std::set<unsigned> ids = timers_;
  for (unsigned id : ids) KillTimer(id);
  timers_.clear();
}

int CZel_Dialog::MessageBox(const std::string& text, const std::string& caption,
                            unsigned style, ZelAskedAction asks) {
  return ZelAskMessageBox({caption_, text, caption.empty() ? caption_ : caption, style, asks});
}

int CZel_Dialog::TrackContextMenu(const std::vector<ZelMenuItem>& items) {
  return ZelUi().ContextMenu(*this, items);
}

std::string CZel_Dialog::FileDialog(const ZelFileDialogRequest& request) {
  return ZelUi().FileDialog(request);
}

// --- commands ------------------------------------------------------------------------------

const ZelMessageMap* CZel_Dialog::GetMessageMap() const {
  static const ZelMessageMap map{
      nullptr,
      {ZelOnClicked(kIdcOk, &CZel_Dialog::OnOK), ZelOnClicked(kIdcCancel, &CZel_Dialog::OnCancel)}};
  return &map;
}

bool CZel_Dialog::OnCommand(int id, ZelNotify code) {
  for (const ZelMessageMap* map = GetMessageMap(); map; map = map->base) {
    for (const ZelMessageEntry& e : map->entries) {
      if (e.code == code && id >= e.first_id && id <= e.last_id) {
        e.handler(*this, id);
        return true;
      }
    }
  }
  return false;
}

// --- user actions --------------------------------------------------------------------------

bool CZel_Dialog::Usable(int id, std::initializer_list<ZelControlKind> kinds) {
  const ZelControlDef* def = GetControlDef(id);
  if (!def) {
    refusal_ = "the dialog has no control " + std::to_string(id);
    return false;
  }
  const std::string who = "control " + std::to_string(id) + " (" + ZelKindName(def->kind) +
                          (def->caption.empty() ? "" : " \"" + def->caption + "\"") + ")";
  if (std::find(kinds.begin(), kinds.end(), def->kind) == kinds.end()) {
    refusal_ = who + " does not take this action";
    return false;
  }
  const ZelControlState& s = GetControlState(id);
  if (!s.shown) {
    refusal_ = who + " is hidden";
    return false;
  }
  if (!s.enabled) {
    refusal_ = who + " is disabled";
    return false;
  }
  refusal_.clear();
  return true;
}

bool CZel_Dialog::OnControlAction(int /*id*/, ZelNotify /*code*/, int /*detail*/) { return true; }

std::vector<int> CZel_Dialog::RadioGroupOf(int id) const {
  const ZelControlDef* def = GetControlDef(id);
  if (!def) return {};
  auto key = [](const ZelControlDef& c) { return c.radio_group ? c.radio_group : -c.group - 1; };
  std::vector<int> group;
  for (const ZelControlDef& c : template_.controls) {
    if (c.kind == ZelControlKind::Radio && c.id > 0 && key(c) == key(*def)) group.push_back(c.id);
  }
  return group;
}

bool CZel_Dialog::UserEdit(int id, const std::string& text) {
  if (!Usable(id, {ZelControlKind::Edit})) return false;
  if (GetControlDef(id)->style & kStyleReadOnly) {
    refusal_ = "control " + std::to_string(id) + " is read-only";
    return false;
  }
  ZelControlState* s = MutableState(id);
  if (s->text_limit > 0 && ZelTextLength(text) > static_cast<std::size_t>(s->text_limit)) {
    refusal_ = "control " + std::to_string(id) + " takes at most " +
               std::to_string(s->text_limit) + " characters";
    return false;
  }
  // Leaving a field without changing it is no edit.
  if (s->text == text) return true;
  s->text = text;
  Changed(id);
  if (OnControlAction(id, ZelNotify::EditCommit, 0)) OnCommand(id, ZelNotify::EditCommit);
  return true;
}

bool CZel_Dialog::UserClick(int id) {
  if (!Usable(id, {ZelControlKind::Button, ZelControlKind::BitmapButton, ZelControlKind::Check,
                   ZelControlKind::Radio}))
    return false;
  const ZelControlDef& def = *GetControlDef(id);
  if (def.kind == ZelControlKind::Check) {
    CheckDlgButton(id, IsDlgButtonChecked(id) ? 0 : 1);
  } else if (def.kind == ZelControlKind::Radio) {
    for (int other : RadioGroupOf(id)) CheckDlgButton(other, other == id ? 1 : 0);
  }
  if (OnControlAction(id, ZelNotify::Clicked, 0)) OnCommand(id, ZelNotify::Clicked);
  return true;
}

bool CZel_Dialog::UserSelect(int id, int index) {
  if (!Usable(id, {ZelControlKind::DropDown, ZelControlKind::Tab})) return false;
  ZelControlState* s = MutableState(id);
  if (index < 0 || index >= static_cast<int>(s->items.size())) {
    refusal_ = "control " + std::to_string(id) + " has no entry " + std::to_string(index);
    return false;
  }
  if (GetControlDef(id)->kind == ZelControlKind::Tab) {
    const int from = s->selection;
    if (from == index) return true;
    if (!OnTabSelChanging(id, from, index)) {
      Changed(id);  // a front end that moved already goes back
      return true;
    }
    SelectTabPage(id, index);
    OnTabSelChanged(id, index);
    OnCommand(id, ZelNotify::SelChange);
    return true;
  }
  s->selection = index;
  Changed(id);
  if (OnControlAction(id, ZelNotify::SelChange, 0)) OnCommand(id, ZelNotify::SelChange);
  return true;
}

bool CZel_Dialog::UserSlide(int id, int position) {
  if (!Usable(id, {ZelControlKind::Slider})) return false;
  ZelControlState* s = MutableState(id);
  s->position = std::clamp(position, s->range_min, s->range_max);
  Changed(id);
  if (OnControlAction(id, ZelNotify::Scroll, 0)) OnCommand(id, ZelNotify::Scroll);
  return true;
}

bool CZel_Dialog::UserSpin(int id, int steps) {
  if (!Usable(id, {ZelControlKind::Spin})) return false;
  if (OnControlAction(id, ZelNotify::Spin, steps)) OnCommand(id, ZelNotify::Spin);
  return true;
}

bool CZel_Dialog::UserKey(int key, unsigned modifiers) {
  if (OnKey(key, modifiers)) return true;
  if (key != kKeyEscape || modifiers != 0) return false;
  UserClose();
  return true;
}

bool CZel_Dialog::UserContextMenu(int id) {
  if (!HasControl(id)) {
    refusal_ = "the dialog has no control " + std::to_string(id);
    return false;
  }
  OnContextMenu(id);
  return true;
}

void CZel_Dialog::UserClose() { OnCancel(); }

// --- graphs --------------------------------------------------------------------------------

void CZel_Dialog::AttachGraph(int id, CGraphWindow* graph) { graphs_[id] = graph; }

void CZel_Dialog::DetachGraph(int id) { graphs_.erase(id); }

CGraphWindow* CZel_Dialog::GetGraph(int id) const {
  auto it = graphs_.find(id);
  return it == graphs_.end() ? nullptr : it->second;
}

void CZel_Dialog::NotifyGraph(int id, ZelGraphEvent event, int point) {
  if (view_) view_->GraphChanged(id, event, point);
}
