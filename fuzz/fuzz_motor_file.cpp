// Motor files sit in a folder that anyone may drop files into, and every motor command and
// the motor dialog read them all: no byte sequence may crash the reader. A motor that it
// accepts must write to a text that reads back the same, and picking it for the bundled
// drive either refuses it or leaves a setup that the program would save and load again.

#include "fuzz/fuzz_support.h"
#include "host/zel_errors.h"
#include "host/zel_motor_database.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Plugin();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ZelMotorParse parsed = ZelParseMotorText(fuzz::AsText(data, size), "fuzz.json");
  if (!parsed.ok) {
    if (parsed.error.rfind("fuzz.json: ", 0) != 0) fuzz::Fail("a refusal does not name the file");
    return 0;
  }
  if (!ZelCheckMotorName(parsed.data.name).empty()) fuzz::Fail("an accepted name is refused");
  const std::string text = ZelMotorToText(parsed.data);
  const ZelMotorParse again = ZelParseMotorText(text, "again.json");
  if (!again.ok || ZelMotorToText(again.data) != text) fuzz::Fail("a motor reads back otherwise");

  auto setup = fuzz::BundledSetup();
  ZelCollectErrors reports;
  if (ZelApplyMotorToSetup(*setup, parsed.data).empty()) fuzz::CheckSavesAndReloads(*setup);
  return 0;
}
