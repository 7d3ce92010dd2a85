// The control template of the encoder connections test.

#include "drivetests/encoder_test_dlg.h"
#include "drivetests/drive_test_frame.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

ZelDialogTemplate MakeTemplate() {
  TestFrame f;
  f.first_id = kEncFrame;
  f.purpose = "Checks presence of encoder signals A and B.";
  f.procedure =
      "1. Press the Start button \r\n2. Wait until the test status shows \"Running test\" \r\n"
      "3. Rotate the motor shaft manually. Check if position counter is changing. \r\n4. Press "
      "the \"Stop\" button to end the test.";
  f.own_boxes = [](ZelTemplateBuilder& b, int column) {
    b.Box(kEncBox, "Encoder", column);
    b.Add(kEncDiagram, K::EncoderDiagram, "", kEncBox, {0, 0, 2, 1});
    b.Add(0, K::Label, "Position counter", kEncBox, {0, 1});
    b.Add(kEncCounter, K::Edit, "", kEncBox, {1, 1}, kStyleReadOnly);
  };
  return BuildTestFrame(kEncoderTestTemplate, "Encoder Connections Test",
                        kEncoderTestHelpContext, "Start", f);
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kEncoderTestTemplate, Template);

}  // namespace
}  // namespace dcservo
