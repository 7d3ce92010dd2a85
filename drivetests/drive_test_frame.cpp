#include "drivetests/drive_test_frame.h"

#include "host/zel_test_dlg.h"

namespace dcservo {

namespace {
using K = ZelControlKind;
enum FrameOffset : int {
  kColumn,
  kPurposeBox,
  kPurposeText,
  kProcedureBox,
  kProcedureText,
  kStatusBox,
  kResultBox,
  kButtonRow,
};
}  // namespace

void ReadOnlyField(ZelTemplateBuilder& b, int label_id, const char* label, int edit_id,
                   int unit_id, int box, int row) {
  b.Add(label_id, K::Label, label, box, {row, 0});
  b.Add(edit_id, K::Edit, "", box, {row, 1}, kStyleReadOnly);
  b.Add(unit_id, K::DropDown, "", box, {row, 2});
}

ZelDialogTemplate BuildTestFrame(unsigned template_id, const char* caption,
                                 unsigned help_context, const char* start_caption,
                                 const TestFrame& f) {
  const int id = f.first_id;
  ZelTemplateBuilder b(template_id, caption, help_context);
  b.Column(id + kColumn, 0);
  b.Box(id + kPurposeBox, "Test purpose", id + kColumn);
  b.Add(id + kPurposeText, K::Label, f.purpose, id + kPurposeBox, {0, 0}, kStyleWide);
  if (f.own_boxes) f.own_boxes(b, id + kColumn);
  b.Box(id + kProcedureBox, "Test procedure", id + kColumn);
  b.Add(id + kProcedureText, K::Text, f.procedure, id + kProcedureBox, {0, 0, 2, 1},
        kStyleReadOnly | kStyleWide);
  b.Box(id + kStatusBox, "Test status", id + kColumn);
  b.Add(kIdcTestStatus, K::Edit, "", id + kStatusBox, {0, 0, 1, 3}, kStyleReadOnly | kStyleWide);
  b.Box(id + kResultBox, "Test result", id + kColumn);
  b.Add(kIdcTestResult, K::Edit, "", id + kResultBox, {0, 0, 1, 2}, kStyleReadOnly);
  b.Add(kIdcTestDetails, K::Button, "&Details", id + kResultBox, {0, 2});
  if (f.result_rows) f.result_rows(b, id + kResultBox);
  b.Add(id + kButtonRow, K::Group, "", 0, {1, 0}, kStyleHidden);
  b.Add(kIdcTestStartStop, K::Button, start_caption, id + kButtonRow, {0, 0});
  b.Add(kIdCancel, K::Button, "Close", id + kButtonRow, {0, 1});
  b.Add(kIdcTestHelp, K::Button, "Help", id + kButtonRow, {0, 2});
  return b.Build();
}

}  // namespace dcservo
