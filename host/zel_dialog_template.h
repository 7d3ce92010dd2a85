#pragma once
// A dialog's control template: the table of its controls, written beside the dialog's code.
// A front end renders any template; the dialog base keeps the state of every control.

#include <string>
#include <string_view>
#include <vector>

enum class ZelControlKind {
  Group,         // a framed box with a caption; other controls sit in it
  Label,         // static text
  Edit,          // one-line text field
  Text,          // read-only multi-line text
  Button,        // push button
  BitmapButton,  // push button that shows an image
  Check,         // check box
  Radio,         // radio button
  DropDown,      // drop-down list (also the unit selectors)
  Slider,        // horizontal slider
  Spin,          // pair of up/down arrows
  Tab,           // row of tabs; the pages' controls are shown and hidden by the dialog
  Picture,       // static image
  Graph,         // plot area of a CGraphWindow
  EncoderDiagram,  // an encoder disc whose marks turn with the shaft (CEncoderDiagram)
  BarGraph,        // a bar between two limits with its value as a number (CBarGraph)
};

// "group", "label", ... as scripts and dumps name the kinds.
const char* ZelKindName(ZelControlKind kind);
bool ZelKindFromName(std::string_view name, ZelControlKind& kind);

// A cell of the grid of the control's box (or of the dialog itself). A row below 0 means the
// row after the last one used in that box.
struct ZelPlace {
  int row = -1;
  int col = 0;
  int row_span = 1;
  int col_span = 1;
};

inline constexpr unsigned kStyleReadOnly = 0x1;  // edit that shows but does not take text
inline constexpr unsigned kStyleDisabled = 0x2;  // starts disabled
inline constexpr unsigned kStyleHidden = 0x4;    // starts hidden
inline constexpr unsigned kStyleWide = 0x8;      // takes the width it can get (texts, graphs)

// Ids at or below 0 are for static controls that nothing refers to.
struct ZelControlDef {
  int id = 0;
  ZelControlKind kind = ZelControlKind::Label;
  std::string caption{};
  int group = 0;  // id of the Group that holds it; 0: the dialog
  ZelPlace place{};
  unsigned style = 0;
  std::vector<std::string> items{};  // initial entries of a DropDown
  std::string image{};               // Picture and BitmapButton
  // Unbound radio buttons with the same key are one group; 0 means "the buttons of my box".
  int radio_group = 0;
  // The setup's parameter that the control shows (an edit, its unit selector, a check box):
  // the dialog that opens the template binds it. Empty: the dialog binds it, if at all.
  std::string parameter{};
};

struct ZelDialogTemplate {
  unsigned id = 0;
  std::string caption;
  unsigned help_context = 0;
  std::vector<ZelControlDef> controls;
};

// Problems that make a template unusable: duplicate ids, a box that is not a Group, a box
// that holds itself, a button with neither caption nor image. Empty when the template is sound.
std::vector<std::string> ZelCheckTemplate(const ZelDialogTemplate& tmpl);

// Templates by id, for dialogs built from a template number. A dialog's source file registers
// its template with a static ZelTemplateRegistration; a taken id is refused with a report: false.
// A template with problems is refused, with a report, when it is first looked up: null.
bool ZelRegisterTemplate(const ZelDialogTemplate* tmpl);
const ZelDialogTemplate* ZelFindTemplate(unsigned id);
std::vector<const ZelDialogTemplate*> ZelRegisteredTemplates();

// A template built when it is first looked up, since most commands open no dialog: the id it
// will carry, and a function that builds it on its first call and keeps it (a function-local
// static). A template that comes out with another id is refused when it is looked up.
using ZelTemplateSource = const ZelDialogTemplate& (*)();
bool ZelRegisterTemplate(unsigned id, ZelTemplateSource source);

struct ZelTemplateRegistration {
  explicit ZelTemplateRegistration(const ZelDialogTemplate& tmpl) { ZelRegisterTemplate(&tmpl); }
  ZelTemplateRegistration(unsigned id, ZelTemplateSource source) {
    ZelRegisterTemplate(id, source);
  }
};

// Caption as shown: a single '&' marks a mnemonic and disappears, "&&" shows one '&'.
std::string ZelStripMnemonic(std::string_view caption);
