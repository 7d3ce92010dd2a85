// The control template of the supply voltage test.

#include "drivetests/drive_test_frame.h"
#include "drivetests/vdc_test_dlg.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

ZelDialogTemplate MakeTemplate() {
  TestFrame f;
  f.first_id = kVdcFrame;
  f.purpose = "Identifies the VDC voltage.";
  f.procedure =
      "1. Press the Start button\r\n2. Wait until the test ends and displays the results";
  f.result_rows = [](ZelTemplateBuilder& b, int box) {
    ReadOnlyField(b, param::Vdc, "VDC", kVdcEdit, kVdcUnit, box, 1);
  };
  return BuildTestFrame(kVdcTestTemplate, "VDC Detection Test", kVdcTestHelpContext, "&Start",
                        f);
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kVdcTestTemplate, Template);

}  // namespace
}  // namespace dcservo
