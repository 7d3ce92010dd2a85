#pragma once
// The dialog base: a control template, the state of each of its controls, commands by control
// id and the modal life of the dialog. Front ends (Qt, the headless backend, tests) show this
// state and hand user actions back in through the User* calls; dialog code only changes the
// state, so the same dialog runs on screen and from a script.

#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_dialog_template.h"
#include "host/zel_ui_backend.h"

class CGraphWindow;

struct ZelListItem {
  std::string text;
  long long data = 0;
};

// What an encoder diagram or a bar graph shows; the front end draws it from this alone.
struct ZelIndicatorState {
  bool active = false;   // the encoder diagram is enabled
  double angle_rad = 0;  // of the encoder disc, counter-clockwise
  double lo = 0.0, hi = 1.0;  // the bar's limits
  double value = 0.0;
  double reference = 0.0;  // the bar grows from here to its value
  unsigned colour = 0x0000FF;  // 0xRRGGBB
  std::string format = "%g";   // of the value shown as a number (printf, one double)
};

struct ZelControlState {
  std::string text;  // caption of buttons, boxes and labels; content of edits and texts
  bool enabled = true;
  bool shown = true;
  // Disabled with its content hidden (the third argument of EnableChild): the text is kept
  // and comes back when the control is enabled again.
  bool blank = false;
  int checked = 0;
  std::vector<ZelListItem> items;  // drop-down entries, tab titles
  int selection = -1;              // drop-down entry, tab page
  int range_min = 0;               // slider
  int range_max = 100;
  int position = 0;
  std::string image;
  std::string tooltip;  // why a control is unavailable, or what it does
  // Colour of the control's text as 0xRRGGBB; 0 is the toolkit's own text colour. A label
  // turns red while the value it names is outside what the drive allows.
  unsigned text_colour = 0;
  int text_limit = 0;  // an edit takes at most this many characters; 0: no limit
  ZelIndicatorState indicator;  // encoder diagram, bar graph
};

inline constexpr unsigned kZelTextDefault = 0x000000;
inline constexpr unsigned kZelTextRed = 0xFF0000;

// Characters, not bytes, of UTF-8 text: what a text limit counts.
std::size_t ZelTextLength(std::string_view utf8);

// What a user action was, as the command handlers see it.
enum class ZelNotify { Clicked, SelChange, EditCommit, Scroll, Spin };

enum class ZelGraphEvent { Refresh, ZoomOut, LastPoint, Point, Saved };

// A front end's side of one shown dialog.
class ZelDialogView {
 public:
  virtual ~ZelDialogView() = default;
  virtual void ControlChanged(int id) = 0;
  virtual void CaptionChanged() {}
  virtual void GraphChanged(int /*id*/, ZelGraphEvent /*event*/, int /*point*/) {}
};

// The direction of an UpdateData: loading shows values in the controls, saving takes them.
class ZelDataExchange {
 public:
  explicit ZelDataExchange(bool save) : m_bSaveAndValidate(save) {}
  const bool m_bSaveAndValidate;
  // Refuses the exchange; the first reason is shown to the user.
  void Fail(const std::string& why = {}) {
    if (!failed_) why_ = why;
    failed_ = true;
  }
  bool Failed() const { return failed_; }
  const std::string& Why() const { return why_; }

 private:
  bool failed_ = false;
  std::string why_;
};

class CZel_Dialog;

// Message maps: each dialog class lists its handlers and chains to its base class's map, so
// a derived class's entry for an id comes before the base's.
using ZelHandler = std::function<void(CZel_Dialog& dialog, int id)>;
struct ZelMessageEntry {
  ZelNotify code;
  int first_id;
  int last_id;
  ZelHandler handler;
};
struct ZelMessageMap {
  const ZelMessageMap* base;
  std::vector<ZelMessageEntry> entries;
};

template <class D>
ZelMessageEntry ZelOn(ZelNotify code, int id, void (D::*fn)()) {
  return {code, id, id, [fn](CZel_Dialog& d, int) { (static_cast<D&>(d).*fn)(); }};
}
template <class D>
ZelMessageEntry ZelOnRange(ZelNotify code, int first, int last, void (D::*fn)(int id)) {
  return {code, first, last, [fn](CZel_Dialog& d, int id) { (static_cast<D&>(d).*fn)(id); }};
}
template <class D>
ZelMessageEntry ZelOnClicked(int id, void (D::*fn)()) {
  return ZelOn(ZelNotify::Clicked, id, fn);
}
template <class D>
ZelMessageEntry ZelOnSelChange(int id, void (D::*fn)()) {
  return ZelOn(ZelNotify::SelChange, id, fn);
}
// One entry per id of a list, all to the same handler (which may take the id).
template <class D>
std::vector<ZelMessageEntry> ZelOnClickedEach(std::span<const int> ids, void (D::*fn)()) {
  std::vector<ZelMessageEntry> entries;
  for (int id : ids) entries.push_back(ZelOn(ZelNotify::Clicked, id, fn));
  return entries;
}
template <class D>
std::vector<ZelMessageEntry> ZelOnClickedEach(std::span<const int> ids, void (D::*fn)(int)) {
  std::vector<ZelMessageEntry> entries;
  for (int id : ids) entries.push_back(ZelOnRange(ZelNotify::Clicked, id, id, fn));
  return entries;
}
// A map from its base and lists of entries, kept in the order given.
inline ZelMessageMap ZelMessageMapOf(const ZelMessageMap* base,
                                     std::initializer_list<std::vector<ZelMessageEntry>> parts) {
  ZelMessageMap map{base, {}};
  for (const auto& part : parts) map.entries.insert(map.entries.end(), part.begin(), part.end());
  return map;
}

class CZel_Dialog {
 public:
  explicit CZel_Dialog(const ZelDialogTemplate& tmpl, CZel_Dialog* parent = nullptr);
  // From a registered template; an unknown id is reported and gives an empty dialog.
  explicit CZel_Dialog(unsigned template_id, CZel_Dialog* parent = nullptr);
  virtual ~CZel_Dialog();
  CZel_Dialog(const CZel_Dialog&) = delete;
  CZel_Dialog& operator=(const CZel_Dialog&) = delete;

  // --- the template and the state of its controls ---
  const ZelDialogTemplate& Template() const { return template_; }
  const std::string& GetCaption() const { return caption_; }
  void SetWindowText(const std::string& caption);
  CZel_Dialog* GetParent() const { return parent_; }
  bool HasControl(int id) const { return index_.count(id) != 0; }
  // Null for ids that the template does not have.
  const ZelControlDef* GetControlDef(int id) const;
  // An empty state for ids that the template does not have.
  const ZelControlState& GetControlState(int id) const;
  // Ids of the template's addressable controls, in template order.
  std::vector<int> GetControlIds() const;

  // --- what dialog code does to its controls ---
  // `blank` hides the control's content while it is disabled.
  void EnableChild(int id, int enable, int blank = 0);
  void EnableChildren(std::span<const int> ids, int enable, int blank = 0);
  void ShowChild(int id, int show);
  void ShowChildren(std::span<const int> ids, int show);
  void SetChildText(int id, const std::string& text);
  void SetChildTooltip(int id, const std::string& text);
  void SetChildTextColour(int id, unsigned rgb);
  // The most characters the edit takes; longer text is refused as typed. 0 lifts the limit.
  void LimitText(int id, int characters);
  std::string GetChildText(int id) const;
  void CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;
  // Checks `check_id` and unchecks the other radio buttons with ids in [first, last].
  void CheckRadioButton(int first, int last, int check_id);
  // Drop-down lists. Indexes count from 0; -1 means "none" or a failure.
  int ListAddString(int id, const std::string& text);
  int ListSetItemData(int id, int index, long long data);
  long long ListGetItemData(int id, int index) const;
  int ListGetCount(int id) const;
  std::string ListGetText(int id, int index) const;
  int ListFindItemData(int id, long long data) const;
  void ListResetContent(int id);
  int ListSetCurSel(int id, int index);
  int ListGetCurSel(int id) const;
  void SliderSetRange(int id, int lo, int hi);
  void SliderSetPos(int id, int position);
  int SliderGetPos(int id) const;
  void SetImage(int id, const std::string& image_name);
  // Encoder diagrams and bar graphs (host/zel_indicators.h draws on this).
  void SetIndicator(int id, const ZelIndicatorState& state);
  // Images are named as the host names them ("TO_MOTORSETUP"); a front end that has no such
  // image shows the button's caption.
  void SetButtonImage(int id, const std::string& image_name) { SetImage(id, image_name); }
  // The front end centres dialogs on their parent; kept for the dialogs that ask.
  void CenterWindow() {}

  // --- tabs: each page has a list of controls, shown while the page is selected ---
  int AddTabPage(int tab_id, const std::string& title, std::span<const int> ids);
  int GetTabSelection(int tab_id) const;
  // Selects a page and shows its controls, as dialog code does it: no one is asked.
  void SelectTabPage(int tab_id, int page);

  // --- modal life ---
  // Runs the dialog in the installed backend; the result is what EndDialog was given
  // (kIdOk after OK). A dialog that is run again starts from its template, as a new window.
  virtual int DoModal();
  void EndDialog(int result);
  bool IsRunning() const { return running_; }
  bool HasEnded() const { return ended_; }
  int GetModalResult() const { return result_; }
  // Called by the backend inside RunModal.
  void ModalInit();
  void ModalShown();

  // 0 when the exchange was refused (the reason has been shown).
  int UpdateData(int save_and_validate = 1);
  virtual void DoDataExchange(ZelDataExchange* pDX);
  virtual int OnInitDialog();
  // After OnInitDialog has run to its end, before the dialog shows.
  virtual void OnInitDone() {}
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnShowWindow(bool /*show*/) {}
  virtual void OnTimer(unsigned /*id*/) {}
  // True when the key was the dialog's. Escape that the dialog does not take closes the
  // window as its close box does (UserClose).
  virtual bool OnKey(int /*key*/, unsigned /*modifiers*/) { return false; }
  virtual void OnContextMenu(int /*id*/) {}
  // May refuse a page change that the user asked for.
  virtual bool OnTabSelChanging(int /*tab_id*/, int /*from*/, int /*to*/) { return true; }
  virtual void OnTabSelChanged(int /*tab_id*/, int /*page*/) {}

  // --- services of the backend ---
  bool SetTimer(unsigned id, unsigned period_ms);
  bool KillTimer(unsigned id);
  bool HasTimer(unsigned id) const { return timers_.count(id) != 0; }
  void DispatchTimer(unsigned id) { OnTimer(id); }
  // The caption defaults to the dialog's.
  int MessageBox(const std::string& text, const std::string& caption = {},
                 unsigned style = kMbOk, ZelAskedAction asks = ZelAskedAction::None);
  int TrackContextMenu(const std::vector<ZelMenuItem>& items);
  std::string FileDialog(const ZelFileDialogRequest& request);

  // --- commands ---
  virtual const ZelMessageMap* GetMessageMap() const;
  // Runs the first handler for the id and code in the map chain; false when none.
  virtual bool OnCommand(int id, ZelNotify code);

  // --- user actions, from a front end or a script ---
  // Each is refused (false, with the reason in LastRefusal()) when the control is missing,
  // hidden, disabled or of a kind that does not take the action: a user cannot click what
  // is not there.
  bool UserEdit(int id, const std::string& text);  // commit of typed text
  bool UserClick(int id);
  bool UserSelect(int id, int index);
  bool UserSlide(int id, int position);
  bool UserSpin(int id, int steps);
  // True when the key was used (by the dialog, or Escape to close it).
  bool UserKey(int key, unsigned modifiers);
  bool UserContextMenu(int id);
  void UserClose();
  const std::string& LastRefusal() const { return refusal_; }

  // --- front ends ---
  void AttachView(ZelDialogView* view) { view_ = view; }
  ZelDialogView* GetView() const { return view_; }
  void AttachGraph(int id, CGraphWindow* graph);
  void DetachGraph(int id);
  CGraphWindow* GetGraph(int id) const;
  void NotifyGraph(int id, ZelGraphEvent event, int point = -1);

 protected:
  // Runs after a user action changed the control's state and before the command handlers;
  // false stops the action there (a refused value). The binding layer stores values here.
  virtual bool OnControlAction(int id, ZelNotify code, int detail);
  // The radio buttons that a click on `id` checks and unchecks: by default those with the
  // same radio_group key, or without keys those of the same box.
  virtual std::vector<int> RadioGroupOf(int id) const;
  ZelControlState* MutableState(int id);
  void Changed(int id);

 private:
  void BuildStates();
  bool Usable(int id, std::initializer_list<ZelControlKind> kinds);
  void ShowPage(int tab_id, int page);
  void KillAllTimers();

  ZelDialogTemplate template_;
  CZel_Dialog* parent_;
  std::string caption_;
  std::vector<ZelControlState> states_;
  std::map<int, std::size_t> index_;
  std::map<int, std::vector<std::vector<int>>> tab_pages_;
  std::map<int, CGraphWindow*> graphs_;
  std::set<unsigned> timers_;
  ZelDialogView* view_ = nullptr;
  UiBackend* backend_ = nullptr;
  bool running_ = false;
  bool ended_ = false;
  bool ran_before_ = false;
  int result_ = kIdCancel;
  std::string refusal_;
};

// Standard command ids of dialog templates.
inline constexpr int kIdcOk = kIdOk;
inline constexpr int kIdcCancel = kIdCancel;
