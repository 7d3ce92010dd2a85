#pragma once
// Setup files: JSON, versioned (docs/setup-format.md). Loading never half-fills a setup and
// saving never leaves a half-written file.

#include <memory>
#include <string>
#include <string_view>

#include "host/zel_file.h"
#include "host/zel_setup.h"

inline constexpr int kSetupFormatVersion = 1;

struct ZelLoadResult {
  std::unique_ptr<CZel_Setup> setup;  // null when the file was refused
  std::string error;                  // "file:place: what is wrong" when refused
};

ZelLoadResult ParseSetupText(std::string_view text, const std::string& origin);
ZelLoadResult LoadSetupFile(const std::string& path);

std::string SetupToText(const CZel_Setup& setup);
// Empty on success, else why the file could not be written; the old file is then intact.
// A setup that the loader would refuse (a range upside down, a value outside its range) is
// not written.
std::string SaveSetupFile(const CZel_Setup& setup, const std::string& path);
// The text SaveSetupFile would write to `path`, for a caller that writes it together with
// other files; empty on success, else why it would not be written.
std::string SetupFileText(const CZel_Setup& setup, const std::string& path, std::string& text);
