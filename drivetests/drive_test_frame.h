#pragma once
// The layout that the tests without tab pages share, top to bottom: what the test is for,
// the test's own boxes, how to run it, the run's status, its result, and Start, Close and
// Help. "Close" is the cancel command: the tests that detect a value ask there whether to
// keep it.

#include <functional>

#include "host/zel_template_builder.h"

namespace dcservo {

struct TestFrame {
  // The frame's own controls take the ids from first_id up to first_id + 9.
  int first_id = 0;
  const char* purpose = "";
  const char* procedure = "";
  // The test's boxes, between the purpose and the procedure, in `column`.
  std::function<void(ZelTemplateBuilder& b, int column)> own_boxes;
  // Rows that the test adds to "Test result", below the outcome.
  std::function<void(ZelTemplateBuilder& b, int result_box)> result_rows;
};

// A label, a read-only edit and its unit selector on `row` of `box`, bound to the setup's
// `parameter`: a result shown in the unit the user picks.
void ReadOnlyField(ZelTemplateBuilder& b, const char* parameter, const char* label, int edit_id,
                   int unit_id, int box, int row);

ZelDialogTemplate BuildTestFrame(unsigned template_id, const char* caption,
                                 unsigned help_context, const char* start_caption,
                                 const TestFrame& frame);

}  // namespace dcservo
