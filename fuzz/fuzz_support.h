#pragma once
// What the fuzz targets share: the input as text and lines, the plug-in module loaded once
// before fuzzing starts (so its coverage counts from the first input), and fresh copies of the
// bundled drive setup with the plug-in's scales, as the program gives them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/plugin_loader.h"
#include "host/zel_setup_file.h"

namespace fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

inline std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    lines.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

inline PluginModule& Plugin() {
  static std::unique_ptr<PluginModule> module = [] {
    std::string error;
    auto m = PluginModule::Load(PluginModule::DefaultPath(), error);
    if (!m) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(2);
    }
    return m;
  }();
  return *module;
}

inline void GiveScales(CZel_Setup& setup) {
  setup.SetScaleFunctions(Plugin().GetScaleFactor, Plugin().GetScaleOffset);
}

// The bundled drive, parsed afresh each call so that no input sees another's changes.
inline std::unique_ptr<CZel_Setup> BundledSetup() {
  static const std::string text = [] {
    std::ifstream in(DCSERVO_RESOURCE_DIR "/setups/default.json");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  ZelLoadResult loaded = ParseSetupText(text, "default.json");
  if (!loaded.setup) Fail(loaded.error.c_str());
  GiveScales(*loaded.setup);
  return std::move(loaded.setup);
}

// What the program would save (it refuses a setup that would not load) must load again, as
// the program loads it, and save to the same text.
inline void CheckSavesAndReloads(const CZel_Setup& setup) {
  std::string saved;
  if (!SetupFileText(setup, "fuzz.json", saved).empty()) return;
  ZelLoadResult again = ParseSetupText(saved, "saved");
  if (!again.setup) Fail(("a saved setup does not load: " + again.error).c_str());
  GiveScales(*again.setup);
  if (SetupToText(*again.setup) != saved) Fail("a reloaded setup saves differently");
}

}  // namespace fuzz
