// The scope's settings live in a setup option ("SpeedTuningOscSettings", ...) that a user
// may edit: any text must load or be refused without changing the logger, and settings that
// load must save to a text that loads to the same settings.

#include "fuzz/fuzz_support.h"
#include "fuzz/stream_link.h"
#include "host/zel_errors.h"
#include "host/zel_logger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ZelQuietErrors quiet;
  auto setup = fuzz::ScopeSetup();
  setup->SetOption("Typed", fuzz::AsText(data, size));

  CZel_ScopeLogger scope(*setup, nullptr);
  scope.AddVariable("APOS");
  scope.SaveSettingsToSetupOption("Before");
  if (!scope.LoadSettingsFromSetupOption("Typed")) {
    scope.SaveSettingsToSetupOption("After");
    if (setup->GetOptionNoError("Before") != setup->GetOptionNoError("After"))
      fuzz::Fail("refused settings changed the logger");
    return 0;
  }
  scope.SaveSettingsToSetupOption("Saved");
  CZel_ScopeLogger copy(*setup, nullptr);
  if (!copy.LoadSettingsFromSetupOption("Saved")) fuzz::Fail("saved settings do not load");
  copy.SaveSettingsToSetupOption("Again");
  if (setup->GetOptionNoError("Saved") != setup->GetOptionNoError("Again"))
    fuzz::Fail("loaded settings save differently");
  return 0;
}
