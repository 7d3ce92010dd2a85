#pragma once
// What a failed test or commissioning step can tell of its cause: the conditions that the
// drive reports in its protection register first, since they explain every other symptom,
// then the symptom that the test's own failure text names. One row per cause, with what to
// do about it. The tests' failure texts stay as they stand; a diagnosis stands beside them.

#include <string>
#include <string_view>

#include "host/zel_setup.h"

namespace dcservo {

struct Diagnosis {
  const char* cause;
  const char* advice;
};

// Null when neither the drive's conditions (`mer`) nor the failure say more than the
// failure itself.
const Diagnosis* DiagnoseFailure(unsigned mer, std::string_view failure);

// The drive's protection register as it reads now; 0 when it cannot be read.
unsigned ReadDriveConditions(CZel_Setup& setup);

// A failure text as a terminal line or a report shows it: the tests' tab indents and
// carriage returns become plain spaces and line breaks.
std::string ReadableText(std::string_view text);

}  // namespace dcservo
