// Setup files come from users and other tools: no byte sequence may crash the loader, and a
// setup that it accepts must come through the plug-in's whole computation and a sync of both
// layers. What the program would save must load again unchanged: a setup as loaded, and one
// computed without a reported error (a run that reports one saves nothing).

#include "derive/pipelines.h"
#include "host/zel_errors.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Plugin();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ZelLoadResult loaded = ParseSetupText(fuzz::AsText(data, size), "fuzz");
  if (!loaded.setup) return 0;
  CZel_Setup& setup = *loaded.setup;
  fuzz::GiveScales(setup);
  fuzz::CheckSavesAndReloads(setup);
  ZelCollectErrors reports;
  fuzz::Plugin().ComputeAllOptions(&setup);
  dcservo::SynchroniseSetup(setup);
  if (reports.Messages().empty()) fuzz::CheckSavesAndReloads(setup);
  return 0;
}
