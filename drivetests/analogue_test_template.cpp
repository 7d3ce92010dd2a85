// The control template of the analogue reference test: two rows of a label, the value, its
// unit and its bar.

#include "drivetests/analogue_test_dlg.h"
#include "drivetests/drive_test_frame.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

void Row(ZelTemplateBuilder& b, int row, int label, const char* caption, int edit, int unit,
         int bar) {
  b.Add(label, K::Label, caption, kAnBox, {row, 0});
  b.Add(edit, K::Edit, "", kAnBox, {row, 1}, kStyleReadOnly);
  b.Add(unit, K::Label, "", kAnBox, {row, 2});
  b.Add(bar, K::BarGraph, "", kAnBox, {row, 3}, kStyleWide);
}

ZelDialogTemplate MakeTemplate() {
  TestFrame f;
  f.first_id = kAnFrame;
  f.purpose =
      "Checks the operation of the analogue reference signal, and its signifiance, as "
      "correlated to the control type and limits.";
  f.procedure =
      "1. Connect a potentiometer to the analogue reference input\r\n2. Press the Start button "
      "\r\n3. Wait untill the test status shows \"Running test\"\r\n4. Move the potentiometer "
      "cursor and examine the value of the analogue voltage and corresponding control value\r\n"
      "5. Press the Stop button to end the test";
  f.own_boxes = [](ZelTemplateBuilder& b, int column) {
    b.Box(kAnBox, "Analogue reference", column);
    Row(b, 0, 0, "Analogue input voltage", kAnVoltageEdit, kAnVoltageUnit,
        kAnVoltageBar);
    Row(b, 1, kAnCommandLabel, "", kAnCommandEdit, kAnCommandUnit, kAnCommandBar);
  };
  return BuildTestFrame(kAnalogueTestTemplate, "Analogue Reference Test",
                        kAnalogueTestHelpContext, "Start", f);
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kAnalogueTestTemplate, Template);

}  // namespace
}  // namespace dcservo
