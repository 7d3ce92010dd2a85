#include "drivetests/drive_test_frame.h"

#include "host/zel_test_dlg.h"

namespace dcservo {

namespace {
using K = ZelControlKind;
// Named for the frame: a unity build sets this file beside the templates' own ids.
enum FrameOffset : int {
  kFrameColumn,
  kFramePurposeBox,
  kFramePurposeText,
  kFrameProcedureBox,
  kFrameProcedureText,
  kFrameStatusBox,
  kFrameResultBox,
  kFrameButtonRow,
};
}  // namespace

void ReadOnlyField(ZelTemplateBuilder& b, const char* parameter, const char* label, int edit_id,
                   int unit_id, int box, int row) {
  b.Add(0, K::Label, label, box, {row, 0});
  b.Add(edit_id, K::Edit, "", box, {row, 1}, kStyleReadOnly).Binds(parameter);
  b.Add(unit_id, K::DropDown, "", box, {row, 2}).Binds(parameter);
}

ZelDialogTemplate BuildTestFrame(unsigned template_id, const char* caption,
                                 unsigned help_context, const char* start_caption,
                                 const TestFrame& f) {
  const int id = f.first_id;
  ZelTemplateBuilder b(template_id, caption, help_context);
  b.Column(id + kFrameColumn, 0);
  b.Box(id + kFramePurposeBox, "Test purpose", id + kFrameColumn);
  b.Add(id + kFramePurposeText, K::Label, f.purpose, id + kFramePurposeBox, {0, 0}, kStyleWide);
  if (f.own_boxes) f.own_boxes(b, id + kFrameColumn);
  b.Box(id + kFrameProcedureBox, "Test procedure", id + kFrameColumn);
  b.Add(id + kFrameProcedureText, K::Text, f.procedure, id + kFrameProcedureBox, {0, 0, 2, 1},
        kStyleReadOnly | kStyleWide);
  b.Box(id + kFrameStatusBox, "Test status", id + kFrameColumn);
  b.Add(kIdcTestStatus, K::Edit, "", id + kFrameStatusBox, {0, 0, 1, 3}, kStyleReadOnly | kStyleWide);
  b.Box(id + kFrameResultBox, "Test result", id + kFrameColumn);
  b.Add(kIdcTestResult, K::Edit, "", id + kFrameResultBox, {0, 0, 1, 2}, kStyleReadOnly);
  b.Add(kIdcTestDetails, K::Button, "&Details", id + kFrameResultBox, {0, 2});
  if (f.result_rows) f.result_rows(b, id + kFrameResultBox);
  b.Add(id + kFrameButtonRow, K::Group, "", 0, {1, 0}, kStyleHidden);
  b.Add(kIdcTestStartStop, K::Button, start_caption, id + kFrameButtonRow, {0, 0});
  b.Add(kIdCancel, K::Button, "Close", id + kFrameButtonRow, {0, 1});
  b.Add(kIdcTestHelp, K::Button, "Help", id + kFrameButtonRow, {0, 2});
  return b.Build();
}

}  // namespace dcservo
