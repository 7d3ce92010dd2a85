#pragma once
// The setup dialog base: binds controls to setup parameters. A bound value goes into the
// setup as soon as the user commits it, and the dialog is called back in a fixed order:
//
//   typed text -> parsed in the unit shown -> checked against [min, max]
//     (refused: a message that names the range, nothing changes, the old value shows again)
//   -> stored -> OnChangedParameterValue(name) -> OnRefreshParameterValue(name)
//   -> the parameter's controls show the stored value.
//
// Check boxes, radio buttons, lists and sliders store the same way, before the dialog's
// command handler for the control runs. A unit selector only changes how the value is shown
// and calls OnChangedParameterUnit(name). RefreshAllParameters and RefreshParameterControls
// only show values; they never call back.

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "host/zel_dialog.h"
#include "host/zel_names.h"
#include "host/zel_setup.h"

// Ids that the base manages when a template has them.
inline constexpr int kIdcGuidanceText = 10100;      // read-only multi-line text
inline constexpr int kIdcGuidancePrevious = 10101;  // "Previous"
inline constexpr int kIdcGuidanceNext = 10102;      // "Next"
inline constexpr int kIdcCanBaudRate = 10110;       // drop-down of CAN bit rates
inline constexpr int kIdcCanSettings = 10111;       // "CANopen settings..."

// A slider moves through this many steps between the two ends of its binding.
inline constexpr int kSliderSteps = 100;
// The first spin of a slider binding moves one step, the second a page of steps.
inline constexpr int kSliderPageSteps = 10;

// What the host does with the setup when the outermost setup dialog closes with OK: ask where
// to save it, say. False keeps the dialog open with its edits (the user cancelled the
// question). Without a handler OK simply closes. Returns the handler it replaces.
using ZelOkHandler = std::function<bool(CZel_Setup& setup)>;
ZelOkHandler ZelSetOutermostOkHandler(ZelOkHandler handler);

// Asked when the outermost setup dialog is cancelled after the setup changed.
inline constexpr char kDiscardChangesQuestion[] =
    "Discard the changes made in this dialog? The setup file has not been written.";

// Values as the controls show them: six significant digits, no exponent for whole numbers
// up to 1e15.
std::string ZelFormatValue(double value);
// A finite number in the C locale, surrounding blanks allowed; nothing else.
bool ZelParseValue(const std::string& text, double& value);

// Handlers of a changed or refreshed parameter, by name: a table instead of a chain of
// comparisons. The first row whose name matches (without regard to case) runs.
template <class D>
struct ZelNameHandler {
  const char* name;
  void (D::*handler)(const std::string& name);
};
// False when no row names the parameter.
template <class D>
bool ZelDispatchByName(D& dialog, std::span<const ZelNameHandler<std::type_identity_t<D>>> table,
                       const std::string& name) {
  for (const auto& row : table) {
    if (zel::NamesEqual(row.name, name)) {
      (dialog.*row.handler)(name);
      return true;
    }
  }
  return false;
}

class CZel_EditSetupDlg : public CZel_Dialog {
 public:
  // `flags`: 1 writes every change into the setup at once, the one mode this host has.
  // `guidance`: texts shown one at a time in the guidance box, ended by an empty entry.
  CZel_EditSetupDlg(CZel_Setup& setup, unsigned template_id, int flags = 1,
                    const char* const* guidance = nullptr, CZel_Dialog* parent = nullptr);
  CZel_EditSetupDlg(CZel_Setup& setup, const ZelDialogTemplate& tmpl, int flags = 1,
                    const char* const* guidance = nullptr, CZel_Dialog* parent = nullptr);

  CZel_Setup& GetSetup() const { return m_Setup; }

  // --- optional parameters, probed with the error reports off ---
  bool HasParameter(std::string_view name) const;
  // 0 when the parameter is missing.
  double QuietValue(std::string_view name) const;
  // The base value truncated, as flags and codes are read.
  int QuietInt(std::string_view name) const;
  int QuietInternalInt(std::string_view name) const;

  // --- bindings: 1 when made; 0 when the parameter or a control is missing (reported) ---
  // An edit, with a unit selector beside it unless unit_id is 0.
  int AddParameterControls(const std::string& name, int edit_id, int unit_id = 0);
  // A check box: checked when the value, truncated, is 1; stores 1 or 0.
  int AddCheckParameterControls(const std::string& name, int check_id);
  // Radio buttons first_id..last_id (the first stands for 0, the next for 1, ...), or, with
  // last_id 0 and a drop-down at first_id, one list whose entries' data are the values.
  int AddSwitchParameterControls(const std::string& name, int first_id, int last_id = 0);
  int AddSwitchParameterControls(const std::string& name, const std::vector<int>& radio_ids);
  // A slider over [min, max] (base units) with its edit, unit selector (or 0) and two spins.
  int AddSliderParameterControls(const std::string& name, int slider_id, int edit_id,
                                 int unit_id, int spin_id, int spin2_id, double min,
                                 double max);

  void RefreshAllParameters(int flags = 0);
  void RefreshParameterControls(const std::string& name);

  // The resolution at which the drive holds the parameter, in its base unit, so that a field
  // shows no more digits than the drive can tell apart; 0 when unknown (six digits then).
  virtual double DisplayStep(CZel_Parameter& /*p*/) { return 0.0; }
  // The value as its field shows it, in the unit selected.
  std::string DisplayText(CZel_Parameter& p, double base_value);

  virtual void OnChangedParameterValue(const std::string& name);
  virtual void OnChangedParameterUnit(const std::string& name);
  virtual void OnRefreshParameterValue(const std::string& name);

  // The baud-rate selector and "CANopen settings..." work from here on.
  void EnableCANSettings();
  // Opens the host's help at a topic; nothing when the host names no help file.
  void ShowHelpTopic(unsigned context);

  // --- guidance ---
  int GetGuidanceCount() const { return static_cast<int>(guidance_.size()); }
  int GetGuidanceStep() const { return guidance_step_; }
  void ShowGuidanceStep(int step);

  // --- what the controls are bound to (scripts, dumps, front ends) ---
  enum class Role { None, Edit, Unit, Check, Radio, List, Slider, Spin };
  struct ControlBinding {
    std::string parameter;  // empty when the control is not bound
    Role role = Role::None;
    int index = 0;  // radio: the value it stands for; spin: 0 first, 1 second
  };
  ControlBinding GetControlBinding(int id) const;
  // The control that serves `name` in that role (for a radio, the one for `index`); 0 if none.
  int FindBoundControl(const std::string& name, Role role, int index = 0) const;
  // Bound parameters in the order of binding, each once.
  std::vector<std::string> GetBoundParameters() const;
  // The caption that the user sees for a bound parameter: the label in front of its field,
  // else its name.
  std::string GetFieldCaption(const std::string& name) const;

  void DoDataExchange(ZelDataExchange* pDX) override;
  const ZelMessageMap* GetMessageMap() const override;
  void OnInitDone() override;
  void OnOK() override;
  void OnCancel() override;

 protected:
  bool OnControlAction(int id, ZelNotify code, int detail) override;
  // A bound radio button's group is its binding, wherever its buttons sit; unbound buttons
  // group as the base says, without the bound ones.
  std::vector<int> RadioGroupOf(int id) const override;
  CZel_Setup& m_Setup;
  int m_nFlags;
  // Whether Cancel of the outermost dialog asks before an edited setup is let go. Tests keep
  // their own closing questions about what they measured.
  bool m_bAskBeforeDiscarding = true;

 private:
  enum class Kind { Edit, Check, Radio, List, Slider };
  struct Binding {
    Binding(std::string n, Kind k) : name(std::move(n)), kind(k) {}
    std::string name;
    Kind kind;
    int edit = 0, unit = 0, check = 0, list = 0, slider = 0, spin = 0, spin2 = 0;
    std::vector<int> radios;
    double lo = 0.0, hi = 0.0;
  };

  CZel_Parameter* BoundParameter(const Binding& b) const;
  bool CheckControl(const std::string& name, int id, ZelControlKind kind) const;
  // The fields that the template binds to a parameter (ZelTemplateBuilder::ParameterField),
  // in the template's order, before the dialog binds its own.
  void BindTemplateParameters();
  int AddBinding(Binding b);
  void Show(const Binding& b);
  void ShowUnitList(const Binding& b, const CZel_Parameter& p);
  bool StoreUserValue(const Binding& b, double base_value);
  bool CommitText(const Binding& b, const std::string& text);
  int SliderPosition(const Binding& b, double base_value) const;
  double SliderValue(const Binding& b, int position) const;
  void ShowCanSettings();
  void OnGuidancePrevious();
  void OnGuidanceNext();
  void OnCanBaudRate();
  void OnCanSettings();

  // The caption that the user sees for a bound field: the label in front of its edit, or the
  // parameter's name.
  std::string FieldCaption(const Binding& b) const;

  std::vector<Binding> bindings_;
  std::string setup_when_opened_;  // outermost dialogs only: what Cancel compares with
  std::map<int, std::pair<std::size_t, ControlBinding>> by_control_;
  std::vector<std::string> guidance_;
  int guidance_step_ = 0;
  bool can_enabled_ = false;
};
