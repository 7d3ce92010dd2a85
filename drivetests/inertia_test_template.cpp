// The control template of the total inertia test.

#include "drivetests/drive_test_frame.h"
#include "drivetests/inertia_test_dlg.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

void ParametersBox(ZelTemplateBuilder& b, int column) {
  struct Row {
    const char* parameter;
    const char* caption;
    int edit, unit, note;
    const char* meaning;
  };
  static constexpr Row kRows[] = {
      {param::TestCurrent, "Test current", kJtTestCurrentEdit, kJtTestCurrentUnit,
       kJtTestCurrentNote, "- Current value used during the test"},
      {param::TestProtectionCurrent, "I protection", kJtProtectionEdit, kJtProtectionUnit,
       kJtProtectionNote, "- Over current protection level"},
      {param::TestMaxSpeed, "Max. speed", kJtSpeedEdit, kJtSpeedUnit, kJtSpeedNote,
       "- Maximal motor speed"},
  };
  b.Box(kJtParametersBox, "Test parameters", column);
  int row = 0;
  for (const Row& r : kRows) {
    b.ParameterField(r.parameter, r.caption, r.edit, r.unit, kJtParametersBox, row);
    b.Add(r.note, K::Label, r.meaning, kJtParametersBox, {row++, 3});
  }
}

ZelDialogTemplate MakeTemplate() {
  TestFrame f;
  f.first_id = kJtFrame;
  f.purpose = "Identifies the total inertia (motor + load) seen at the motor shaft";
  f.procedure =
      "1. Check the above test parameter\r\n2. Press the Start button \r\n3. Wait until the "
      "the test ends and displays the results";
  f.own_boxes = ParametersBox;
  f.result_rows = [](ZelTemplateBuilder& b, int box) {
    ReadOnlyField(b, param::Jt, "J total = ", kJtResultEdit, kJtResultUnit, box, 1);
    b.Add(kJtStoredNote, ZelControlKind::Label, "", box, {2, 0, 1, 3}, kStyleWide);
  };
  return BuildTestFrame(kInertiaTestTemplate, "Total inertia test", kInertiaTestHelpContext,
                        "Start", f);
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kInertiaTestTemplate, Template);

}  // namespace
}  // namespace dcservo
