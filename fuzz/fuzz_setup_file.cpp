// Setup files come from users and other tools: no byte sequence may crash the loader, and
// whatever it accepts must survive a save and reload unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/zel_setup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ZelLoadResult loaded = ParseSetupText(text, "fuzz");
  if (!loaded.setup) return 0;
  const std::string saved = SetupToText(*loaded.setup);
  ZelLoadResult again = ParseSetupText(saved, "saved");
  if (!again.setup || SetupToText(*again.setup) != saved) std::abort();
  return 0;
}
