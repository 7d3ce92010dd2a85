#pragma once
// The bundled drive for the benchmarks, with the plug-in's scales attached as a host attaches
// them; a benchmark without it cannot run, so a missing file ends the program.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/zel_setup_file.h"
#include "units/scales.h"

namespace bench_support {

inline double Factor(CZel_Setup* s, const char* unit, const char* name) {
  return dcservo::ScaleFactor(*s, unit, name);
}
inline double Offset(CZel_Setup* s, const char* unit) { return dcservo::ScaleOffset(*s, unit); }

inline std::unique_ptr<CZel_Setup> BundledDrive() {
  ZelLoadResult loaded = LoadSetupFile(std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json");
  if (!loaded.setup) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::exit(1);
  }
  loaded.setup->SetScaleFunctions(Factor, Offset);
  return std::move(loaded.setup);
}

}  // namespace bench_support
