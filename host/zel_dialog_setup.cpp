#include "host/zel_dialog_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <sstream>

#include "host/zel_errors.h"
#include "host/zel_format.h"
#include "host/zel_names.h"
#include "host/zel_setup_file.h"
#include "host/zel_numeric.h"

namespace {

// The CAN bit rates that the drives of this family accept; the choice lives in this option.
constexpr const char* kCanBaudRateOption = "CANBaudRate";
constexpr long long kCanRates[] = {125000, 250000, 500000, 800000, 1000000};
constexpr long long kCanDefaultRate = 500000;

std::vector<std::string> GuidanceList(const char* const* texts) {
  std::vector<std::string> list;
  for (; texts && *texts && **texts; ++texts) list.emplace_back(*texts);
  return list;
}

std::string WithUnit(const std::string& number, const CZel_Unit& unit) {
  return unit.GetName().empty() ? number : number + " " + unit.GetName();
}

std::string RangeText(double min, double max, const CZel_Unit& unit) {
  const bool has_min = std::isfinite(min), has_max = std::isfinite(max);
  const std::string lo = ZelFormatValue(unit.FromBase(min));
  const std::string hi = ZelFormatValue(unit.FromBase(max));
  const std::string u = unit.GetName().empty() ? "" : " " + unit.GetName();
  if (has_min && has_max) return lo + " to " + hi + u;
  if (has_min) return "at least " + lo + u;
  if (has_max) return "at most " + hi + u;
  return "any number";
}

}  // namespace

std::string ZelFormatValue(double value) {
  if (value == 0.0) return "0";
  char buf[64];
  const double magnitude = std::fabs(value);
  if (std::isfinite(value) && magnitude >= 1e6 && magnitude < 1e15 && value == std::round(value))
    std::snprintf(buf, sizeof buf, "%.0f", value);
  else
    std::snprintf(buf, sizeof buf, "%.6g", value);
  return buf;
}

bool ZelParseValue(const std::string& text, double& value) {
  // Decimal points are points whatever the user's locale: setups travel between machines.
  // A lone decimal comma, as half of Europe types it, is taken for the point.
  std::string typed = text;
  if (typed.find('.') == std::string::npos && std::count(typed.begin(), typed.end(), ',') == 1)
    typed[typed.find(',')] = '.';
  std::istringstream in(typed);
  in.imbue(std::locale::classic());
  double v = 0.0;
  in >> v;
  if (in.fail()) return false;
  in >> std::ws;
  if (!in.eof() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

CZel_EditSetupDlg::CZel_EditSetupDlg(CZel_Setup& setup, unsigned template_id, int flags,
                                     const char* const* guidance, CZel_Dialog* parent)
    : CZel_Dialog(template_id, parent),
      m_Setup(setup),
      m_nFlags(flags),
      guidance_(GuidanceList(guidance)) {
  BindTemplateParameters();
}

CZel_EditSetupDlg::CZel_EditSetupDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags,
                                     const char* const* guidance, CZel_Dialog* parent)
    : CZel_Dialog(tmpl, parent),
      m_Setup(setup),
      m_nFlags(flags),
      guidance_(GuidanceList(guidance)) {
  BindTemplateParameters();
}

// --- opening and closing -----------------------------------------------------------------------

namespace {
ZelOkHandler& OutermostOkHandler() {
  static ZelOkHandler handler;
  return handler;
}
}  // namespace

ZelOkHandler ZelSetOutermostOkHandler(ZelOkHandler handler) {
  ZelOkHandler old = std::move(OutermostOkHandler());
  OutermostOkHandler() = std::move(handler);
  return old;
}

void CZel_EditSetupDlg::OnInitDone() {
  if (m_bAskBeforeDiscarding && !GetParent()) setup_when_opened_ = SetupToText(m_Setup);
}

void CZel_EditSetupDlg::OnOK() {
  if (!UpdateData(1)) return;
  if (!GetParent() && OutermostOkHandler() && !OutermostOkHandler()(m_Setup)) return;
  EndDialog(kIdOk);
}

void CZel_EditSetupDlg::OnCancel() {
  const bool changed =
      m_bAskBeforeDiscarding && !GetParent() && SetupToText(m_Setup) != setup_when_opened_;
  if (changed && MessageBox(kDiscardChangesQuestion, {}, kMbYesNo | kMbIconQuestion) != kIdYes)
    return;
  CZel_Dialog::OnCancel();
}

// --- optional parameters ---------------------------------------------------------------------

bool CZel_EditSetupDlg::HasParameter(std::string_view name) const {
  ZelQuietErrors quiet;
  return m_Setup.FindParameter(name) != nullptr;
}

double CZel_EditSetupDlg::QuietValue(std::string_view name) const {
  ZelQuietErrors quiet;
  return m_Setup.GetParameterValueInBaseUnit(name);
}

namespace {
// Codes and flags are small; a value beyond int (or NaN) is no code at all.
int TruncatedCode(double value) {
  if (!(std::fabs(value) < 2147483647.0)) return 0;
  return ZelSaturatingCast<int>(value);
}
}  // namespace

int CZel_EditSetupDlg::QuietInt(std::string_view name) const {
  return TruncatedCode(QuietValue(name));
}

int CZel_EditSetupDlg::QuietInternalInt(std::string_view name) const {
  ZelQuietErrors quiet;
  return TruncatedCode(m_Setup.GetParameterValueInInternalUnit(name));
}

// --- bindings ------------------------------------------------------------------------------

bool CZel_EditSetupDlg::CheckControl(const std::string& name, int id, ZelControlKind kind) const {
  const ZelControlDef* def = GetControlDef(id);
  if (def && def->kind == kind) return true;
  ZelReportError("dialog " + std::to_string(Template().id) + ": \"" + name +
                 "\" cannot be bound to control " + std::to_string(id) + ", which is " +
                 (def ? std::string("a ") + ZelKindName(def->kind) : std::string("missing")) +
                 " (a " + ZelKindName(kind) + " was expected)");
  return false;
}

int CZel_EditSetupDlg::AddBinding(Binding b) {
  const std::size_t index = bindings_.size();
  auto note = [&](int id, Role role, int role_index) {
    if (id) by_control_[id] = {index, ControlBinding{b.name, role, role_index}};
  };
  note(b.edit, Role::Edit, 0);
  note(b.unit, Role::Unit, 0);
  note(b.check, Role::Check, 0);
  note(b.list, Role::List, 0);
  note(b.slider, Role::Slider, 0);
  note(b.spin, Role::Spin, 0);
  note(b.spin2, Role::Spin, 1);
  for (std::size_t i = 0; i < b.radios.size(); ++i)
    note(b.radios[i], Role::Radio, static_cast<int>(i));
  bindings_.push_back(std::move(b));
  Show(bindings_.back());
  return 1;
}

void CZel_EditSetupDlg::BindTemplateParameters() {
  const std::vector<ZelControlDef>& controls = Template().controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ZelControlDef& c = controls[i];
    if (c.parameter.empty()) continue;
    if (c.kind == ZelControlKind::Check) {
      AddCheckParameterControls(c.parameter, c.id);
    } else if (c.kind == ZelControlKind::DropDown) {
      // A unit selector was bound with its edit; any other list is the parameter's switch.
      const bool unit = i > 0 && controls[i - 1].kind == ZelControlKind::Edit &&
                        controls[i - 1].parameter == c.parameter;
      if (!unit) AddSwitchParameterControls(c.parameter, c.id);
    } else if (c.kind == ZelControlKind::Edit) {
      const bool unit = i + 1 < controls.size() &&
                        controls[i + 1].kind == ZelControlKind::DropDown &&
                        controls[i + 1].parameter == c.parameter;
      AddParameterControls(c.parameter, c.id, unit ? controls[i + 1].id : 0);
    }
  }
}

int CZel_EditSetupDlg::AddParameterControls(const std::string& name, int edit_id, int unit_id) {
  if (!m_Setup.FindParameter(name)) return 0;
  if (!CheckControl(name, edit_id, ZelControlKind::Edit)) return 0;
  if (unit_id && !CheckControl(name, unit_id, ZelControlKind::DropDown)) return 0;
  Binding b{name, Kind::Edit};
  b.edit = edit_id;
  b.unit = unit_id;
  return AddBinding(std::move(b));
}

int CZel_EditSetupDlg::AddCheckParameterControls(const std::string& name, int check_id) {
  if (!m_Setup.FindParameter(name)) return 0;
  if (!CheckControl(name, check_id, ZelControlKind::Check)) return 0;
  Binding b{name, Kind::Check};
  b.check = check_id;
  return AddBinding(std::move(b));
}

int CZel_EditSetupDlg::AddSwitchParameterControls(const std::string& name, int first_id,
                                                  int last_id) {
  const ZelControlDef* first = GetControlDef(first_id);
  if (first && first->kind == ZelControlKind::DropDown && (last_id == 0 || last_id == first_id)) {
    if (!m_Setup.FindParameter(name)) return 0;
    Binding b{name, Kind::List};
    b.list = first_id;
    return AddBinding(std::move(b));
  }
  std::vector<int> radios;
  const int last = last_id ? last_id : first_id;
  for (int id : GetControlIds()) {
    if (id >= first_id && id <= last && GetControlDef(id)->kind == ZelControlKind::Radio)
      radios.push_back(id);
  }
  std::sort(radios.begin(), radios.end());
  if (radios.empty() || radios.front() != first_id || radios.back() != last) {
    if (!m_Setup.FindParameter(name)) return 0;
    ZelReportError("dialog " + std::to_string(Template().id) + ": \"" + name +
                   "\" needs radio buttons " + std::to_string(first_id) + " to " +
                   std::to_string(last) + " or one drop-down list");
    return 0;
  }
  return AddSwitchParameterControls(name, radios);
}

int CZel_EditSetupDlg::AddSwitchParameterControls(const std::string& name,
                                                  const std::vector<int>& radio_ids) {
  if (!m_Setup.FindParameter(name)) return 0;
  if (radio_ids.empty()) return 0;
  for (int id : radio_ids) {
    if (!CheckControl(name, id, ZelControlKind::Radio)) return 0;
  }
  Binding b{name, Kind::Radio};
  b.radios = radio_ids;
  return AddBinding(std::move(b));
}

int CZel_EditSetupDlg::AddSliderParameterControls(const std::string& name, int slider_id,
                                                  int edit_id, int unit_id, int spin_id,
                                                  int spin2_id, double min, double max) {
  if (!m_Setup.FindParameter(name)) return 0;
  if (!CheckControl(name, slider_id, ZelControlKind::Slider)) return 0;
  if (edit_id && !CheckControl(name, edit_id, ZelControlKind::Edit)) return 0;
  if (unit_id && !CheckControl(name, unit_id, ZelControlKind::DropDown)) return 0;
  if (spin_id && !CheckControl(name, spin_id, ZelControlKind::Spin)) return 0;
  if (spin2_id && !CheckControl(name, spin2_id, ZelControlKind::Spin)) return 0;
  if (!std::isfinite(min) || !std::isfinite(max)) {
    ZelReportError("\"" + name + "\": a slider needs finite ends");
    return 0;
  }
  Binding b{name, Kind::Slider};
  b.slider = slider_id;
  b.edit = edit_id;
  b.unit = unit_id;
  b.spin = spin_id;
  b.spin2 = spin2_id;
  b.lo = std::min(min, max);
  b.hi = std::max(min, max);
  return AddBinding(std::move(b));
}

CZel_Parameter* CZel_EditSetupDlg::BoundParameter(const Binding& b) const {
  ZelQuietErrors quiet;
  return m_Setup.FindParameter(b.name);
}

// --- showing -------------------------------------------------------------------------------

int CZel_EditSetupDlg::SliderPosition(const Binding& b, double base_value) const {
  if (!(b.hi > b.lo)) return 0;
  const double t = (base_value - b.lo) / (b.hi - b.lo) * kSliderSteps;
  return static_cast<int>(std::clamp(std::round(t), 0.0, static_cast<double>(kSliderSteps)));
}

double CZel_EditSetupDlg::SliderValue(const Binding& b, int position) const {
  return b.lo + (b.hi - b.lo) * position / kSliderSteps;
}

void CZel_EditSetupDlg::ShowUnitList(const Binding& b, const CZel_Parameter& p) {
  const std::vector<const CZel_Unit*> units = ZelUnitTable().UnitsOfType(p.GetUnitType());
  bool same = ListGetCount(b.unit) == static_cast<int>(units.size());
  for (std::size_t i = 0; same && i < units.size(); ++i)
    same = ListGetText(b.unit, static_cast<int>(i)) == units[i]->GetName();
  if (!same) {
    ListResetContent(b.unit);
    for (const CZel_Unit* u : units) ListAddString(b.unit, u->GetName());
  }
  int selected = -1;
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i] == &p.GetSelectedUnit()) selected = static_cast<int>(i);
  }
  ListSetCurSel(b.unit, selected);
}

void CZel_EditSetupDlg::Show(const Binding& b) {
  CZel_Parameter* p = BoundParameter(b);
  if (!p) return;
  const double value = p->GetValueInBaseUnit();
  const auto flag = ZelSaturatingCast<long long>(value);
  switch (b.kind) {
    case Kind::Slider:
      if (GetControlState(b.slider).range_max != kSliderSteps ||
          GetControlState(b.slider).range_min != 0)
        SliderSetRange(b.slider, 0, kSliderSteps);
      SliderSetPos(b.slider, SliderPosition(b, value));
      [[fallthrough]];
    case Kind::Edit:
      if (b.edit) SetChildText(b.edit, DisplayText(*p, value));
      if (b.unit) ShowUnitList(b, *p);
      break;
    case Kind::Check:
      CheckDlgButton(b.check, flag == 1 ? 1 : 0);
      break;
    case Kind::Radio:
      for (std::size_t i = 0; i < b.radios.size(); ++i)
        CheckDlgButton(b.radios[i], flag == static_cast<long long>(i) ? 1 : 0);
      break;
    case Kind::List:
      ListSetCurSel(b.list, ListFindItemData(b.list, flag));
      break;
  }
}

void CZel_EditSetupDlg::RefreshAllParameters(int /*flags*/) {
  for (const Binding& b : bindings_) Show(b);
}

void CZel_EditSetupDlg::RefreshParameterControls(const std::string& name) {
  for (const Binding& b : bindings_) {
    if (zel::NamesEqual(b.name, name)) Show(b);
  }
}

void CZel_EditSetupDlg::OnChangedParameterValue(const std::string& /*name*/) {}
void CZel_EditSetupDlg::OnChangedParameterUnit(const std::string& /*name*/) {}
void CZel_EditSetupDlg::OnRefreshParameterValue(const std::string& /*name*/) {}

// --- user edits ----------------------------------------------------------------------------

std::string CZel_EditSetupDlg::DisplayText(CZel_Parameter& p, double base_value) {
  const CZel_Unit& unit = p.GetSelectedUnit();
  const double step = DisplayStep(p);
  if (!(step > 0.0)) return ZelFormatValue(unit.FromBase(base_value));
  return ZelFormatValue(unit.FromBase(base_value), std::fabs(unit.FromBase(step)));
}

std::string CZel_EditSetupDlg::FieldCaption(const Binding& b) const {
  const int field = b.edit ? b.edit : b.slider;
  const ZelControlDef* def = GetControlDef(field);
  if (!def) return b.name;
  for (const ZelControlDef& c : Template().controls) {
    if (c.kind != ZelControlKind::Label || c.group != def->group || c.place.row != def->place.row ||
        c.place.col + c.place.col_span != def->place.col)
      continue;
    // A label with an id may have been given another text at run time.
    std::string caption = ZelStripMnemonic(c.id > 0 ? GetControlState(c.id).text : c.caption);
    while (!caption.empty() && (caption.back() == ':' || caption.back() == ' ' ||
                                caption.back() == '>' || caption.back() == '<'))
      caption.pop_back();
    if (!caption.empty()) return caption;
  }
  return b.name;
}

std::string CZel_EditSetupDlg::GetFieldCaption(const std::string& name) const {
  for (const Binding& b : bindings_) {
    if (!zel::NamesEqual(b.name, name)) continue;
    // Check boxes, radio buttons and lists show their states ("Off", "Speed"), not a name.
    return b.edit || b.slider ? FieldCaption(b) : b.name;
  }
  return name;
}

bool CZel_EditSetupDlg::StoreUserValue(const Binding& b, double base_value) {
  CZel_Parameter* p = BoundParameter(b);
  if (!p) return false;
  const CZel_Unit& unit = p->GetSelectedUnit();
  const double min = p->GetMinInBaseUnit(), max = p->GetMaxInBaseUnit();
  // A bound can only be typed as it is shown, rounded; that text means the bound itself.
  auto shown = [&](double v) { return DisplayText(*p, v); };
  if (base_value < min && shown(base_value) == shown(min)) base_value = min;
  if (base_value > max && shown(base_value) == shown(max)) base_value = max;
  std::string refusal;
  if (base_value < min || base_value > max) {
    refusal = FieldCaption(b) + ": " + WithUnit(shown(base_value), unit) +
              " is outside the allowed range " + RangeText(min, max, unit) + ".";
  } else {
    refusal = p->SetUserValueInBaseUnit(base_value);
  }
  if (!refusal.empty()) {
    RefreshParameterControls(b.name);
    MessageBox(refusal, {}, kMbOk | kMbIconWarning);
    return false;
  }
  OnChangedParameterValue(b.name);
  OnRefreshParameterValue(b.name);
  RefreshParameterControls(b.name);
  return true;
}

bool CZel_EditSetupDlg::CommitText(const Binding& b, const std::string& text) {
  CZel_Parameter* p = BoundParameter(b);
  if (!p) return false;
  double typed = 0.0;
  if (!ZelParseValue(text, typed)) {
    const CZel_Unit& unit = p->GetSelectedUnit();
    const std::string kept =
        WithUnit(DisplayText(*p, p->GetValueInBaseUnit()), unit);
    RefreshParameterControls(b.name);
    MessageBox("\"" + text + "\" is not a number; " + FieldCaption(b) + " keeps " + kept + ".",
               {}, kMbOk | kMbIconWarning);
    return false;
  }
  return StoreUserValue(b, p->GetSelectedUnit().ToBase(typed));
}

bool CZel_EditSetupDlg::OnControlAction(int id, ZelNotify code, int detail) {
  auto found = by_control_.find(id);
  if (found == by_control_.end()) return CZel_Dialog::OnControlAction(id, code, detail);
  // A copy: a callback may bind more controls and move the bindings.
  const Binding b = bindings_[found->second.first];
  const ControlBinding role = found->second.second;
  CZel_Parameter* p = BoundParameter(b);
  if (!p) return true;
  switch (role.role) {
    case Role::Edit:
      return CommitText(b, GetChildText(id));
    case Role::Unit: {
      const int sel = ListGetCurSel(id);
      if (sel < 0) return true;
      p->ChangeUnitType(ListGetText(id, sel).c_str());
      RefreshParameterControls(b.name);
      OnChangedParameterUnit(b.name);
      return true;
    }
    case Role::Check:
      return StoreUserValue(b, IsDlgButtonChecked(id) ? 1.0 : 0.0);
    case Role::Radio:
      return StoreUserValue(b, role.index);
    case Role::List: {
      const int sel = ListGetCurSel(id);
      if (sel < 0) return true;
      return StoreUserValue(b, static_cast<double>(ListGetItemData(id, sel)));
    }
    case Role::Slider:
      return StoreUserValue(b, SliderValue(b, SliderGetPos(id)));
    case Role::Spin: {
      const int step = role.index == 0 ? 1 : kSliderPageSteps;
      const int from = SliderPosition(b, p->GetValueInBaseUnit());
      const int to = std::clamp(from + detail * step, 0, kSliderSteps);
      if (to == from) return true;
      return StoreUserValue(b, SliderValue(b, to));
    }
    case Role::None:
      break;
  }
  return true;
}

std::vector<int> CZel_EditSetupDlg::RadioGroupOf(int id) const {
  auto found = by_control_.find(id);
  if (found != by_control_.end() && found->second.second.role == Role::Radio)
    return bindings_[found->second.first].radios;
  std::vector<int> group = CZel_Dialog::RadioGroupOf(id);
  std::erase_if(group, [&](int other) { return by_control_.count(other) != 0; });
  return group;
}

// --- what is bound where -------------------------------------------------------------------

CZel_EditSetupDlg::ControlBinding CZel_EditSetupDlg::GetControlBinding(int id) const {
  auto found = by_control_.find(id);
  return found == by_control_.end() ? ControlBinding{} : found->second.second;
}

int CZel_EditSetupDlg::FindBoundControl(const std::string& name, Role role, int index) const {
  for (const auto& [id, entry] : by_control_) {
    const ControlBinding& cb = entry.second;
    if (cb.role == role && zel::NamesEqual(cb.parameter, name) &&
        (role != Role::Radio && role != Role::Spin ? true : cb.index == index))
      return id;
  }
  return 0;
}

std::vector<std::string> CZel_EditSetupDlg::GetBoundParameters() const {
  std::vector<std::string> names;
  for (const Binding& b : bindings_) {
    const bool seen = std::any_of(names.begin(), names.end(),
                                  [&](const std::string& n) { return zel::NamesEqual(n, b.name); });
    if (!seen) names.push_back(b.name);
  }
  return names;
}

// --- exchange, guidance, CAN, help ---------------------------------------------------------

void CZel_EditSetupDlg::DoDataExchange(ZelDataExchange* pDX) {
  CZel_Dialog::DoDataExchange(pDX);
  if (pDX->m_bSaveAndValidate) return;  // values went into the setup when they were typed
  RefreshAllParameters(0);
  if (!guidance_.empty()) ShowGuidanceStep(guidance_step_);
  if (can_enabled_) ShowCanSettings();
}

const ZelMessageMap* CZel_EditSetupDlg::GetMessageMap() const {
  static const ZelMessageMap map{
      CZel_Dialog::GetMessageMap(),
      {ZelOnClicked(kIdcGuidancePrevious, &CZel_EditSetupDlg::OnGuidancePrevious),
       ZelOnClicked(kIdcGuidanceNext, &CZel_EditSetupDlg::OnGuidanceNext),
       ZelOnSelChange(kIdcCanBaudRate, &CZel_EditSetupDlg::OnCanBaudRate),
       ZelOnClicked(kIdcCanSettings, &CZel_EditSetupDlg::OnCanSettings)}};
  return &map;
}

void CZel_EditSetupDlg::ShowGuidanceStep(int step) {
  if (guidance_.empty()) return;
  guidance_step_ = std::clamp(step, 0, GetGuidanceCount() - 1);
  SetChildText(kIdcGuidanceText, guidance_[static_cast<std::size_t>(guidance_step_)]);
  EnableChild(kIdcGuidancePrevious, guidance_step_ > 0);
  EnableChild(kIdcGuidanceNext, guidance_step_ < GetGuidanceCount() - 1);
}

void CZel_EditSetupDlg::OnGuidancePrevious() { ShowGuidanceStep(guidance_step_ - 1); }
void CZel_EditSetupDlg::OnGuidanceNext() { ShowGuidanceStep(guidance_step_ + 1); }

void CZel_EditSetupDlg::EnableCANSettings() {
  can_enabled_ = true;
  ShowCanSettings();
}

void CZel_EditSetupDlg::ShowCanSettings() {
  if (ListGetCount(kIdcCanBaudRate) != static_cast<int>(std::size(kCanRates))) {
    ListResetContent(kIdcCanBaudRate);
    for (long long rate : kCanRates) {
      const int i = ListAddString(kIdcCanBaudRate, std::to_string(rate / 1000) + " kbit/s");
      ListSetItemData(kIdcCanBaudRate, i, rate);
    }
  }
  long long rate = kCanDefaultRate;
  if (m_Setup.HasOption(kCanBaudRateOption)) rate = m_Setup.GetIntOption(kCanBaudRateOption);
  ListSetCurSel(kIdcCanBaudRate, ListFindItemData(kIdcCanBaudRate, rate));
}

void CZel_EditSetupDlg::OnCanBaudRate() {
  if (!can_enabled_) return;
  const int sel = ListGetCurSel(kIdcCanBaudRate);
  if (sel >= 0)
    m_Setup.SetOption(kCanBaudRateOption, std::to_string(ListGetItemData(kIdcCanBaudRate, sel)));
}

void CZel_EditSetupDlg::OnCanSettings() {
  if (!can_enabled_) return;
  const int sel = ListGetCurSel(kIdcCanBaudRate);
  const std::string rate = sel >= 0 ? ListGetText(kIdcCanBaudRate, sel) : "not chosen";
  MessageBox("CAN bit rate: " + rate +
                 ".\nThe drive's CANopen objects are configured by the CANopen master; the "
                 "axis ID is chosen in this dialog.",
             "CANopen settings", kMbOk | kMbIconInformation);
}

void CZel_EditSetupDlg::ShowHelpTopic(unsigned context) {
  const std::string file = GetHelpFileOfGUI(&m_Setup);
  if (file.empty()) return;
  ZelHtmlHelp(GetGUIDirectory() + file, kHhHelpContext, context);
}
