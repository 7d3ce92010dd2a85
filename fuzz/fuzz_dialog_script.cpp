// Dialog scripts are written by hand and by other tools: the parser must refuse any text it
// cannot read with a message that names the place, and never crash on it.

#include "fuzz/fuzz_support.h"
#include "host/zel_dialog_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ZelScriptParse parsed = ZelParseDialogScript(fuzz::AsText(data, size), "fuzz.json");
  if (!parsed.ok && parsed.error.rfind("fuzz.json", 0) != 0)
    fuzz::Fail("a refusal does not name the script");
  if (parsed.ok && !parsed.error.empty()) fuzz::Fail("an accepted script carries an error");
  return 0;
}
