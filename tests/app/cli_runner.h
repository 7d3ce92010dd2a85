#pragma once
// Runs the real dcservo program and captures what it prints.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/zel_setup_file.h"
#include "tests/support/test_setups.h"

namespace testing_support {

struct CliResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// `args` is appended to the program path as it is (quote with ShellQuote where needed);
// `environment` ("NAME=VALUE ...") is set for the run; `input` is what it reads (none: an
// empty input).
inline CliResult RunDcservo(const std::string& args, const std::string& environment = "",
                            const std::string& input = "") {
  TempDir dir;
  const std::string err_file = dir.File("stderr");
  const std::string in_file = input.empty() ? "/dev/null" : dir.File("stdin");
  if (!input.empty()) WriteFile(in_file, input);
  const std::string command = (environment.empty() ? "" : "env " + environment + " ") +
                              ShellQuote(BinaryDir() + "/dcservo") + " " + args + " 2>" +
                              ShellQuote(err_file) + " <" + ShellQuote(in_file);
  CliResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(err_file);
  return result;
}

// A parameter's base value in a saved setup file; NaN, and a failure, where it does not load.
inline double SavedValue(const std::string& path, const std::string& name) {
  ZelLoadResult loaded = LoadSetupFile(path);
  EXPECT_TRUE(loaded.setup) << path << ": " << loaded.error;
  return loaded.setup ? loaded.setup->GetParameterValueInBaseUnit(name) : NAN;
}

// The bundled drive with the speed tuner's proposal applied (`args` first, e.g. a load),
// saved in `dir`: a speed loop that passes its own test, for tests of something else. The raw
// bundled speed loop fails on the current ripple of its speed counts.
inline std::string ProposedSpeedSetup(const TempDir& dir, const std::string& args = "") {
  const std::string path = dir.File("proposed.json");
  const CliResult r =
      RunDcservo("tune speed --apply-proposal " + args + " --out " + ShellQuote(path));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return path;
}

// One run and what it must end with: its exit code and fragments of what it prints.
struct CliCase {
  std::string args;
  int exit_code;
  std::string err;  // a fragment of stderr; "" for any
  std::string out = "";  // a fragment of stdout; "" for any
};

// Runs `c` and expects its exit code and texts, and that none of `never_written` exists after.
inline CliResult ExpectRun(const CliCase& c, const std::vector<std::string>& never_written = {},
                           const std::string& environment = "") {
  SCOPED_TRACE("dcservo " + c.args);
  CliResult r = RunDcservo(c.args, environment);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
  for (const std::string& file : never_written)
    EXPECT_FALSE(std::filesystem::exists(file)) << file << " was written";
  return r;
}

// Pages of a PDF: its page objects, not the tree above them ("/Type /Pages").
inline int PdfPageCount(const std::string& pdf) {
  int pages = 0;
  const std::string page = "/Type /Page";
  for (std::size_t at = pdf.find(page); at != std::string::npos; at = pdf.find(page, at + 1))
    pages += pdf.compare(at + page.size(), 1, "s") != 0;
  return pages;
}

// The text of page `page` of a PDF file, as pdftotext reads it.
inline std::string PdfPageText(const std::string& path, int page) {
  const std::string n = std::to_string(page);
  const std::string command =
      "pdftotext -q -layout -f " + n + " -l " + n + " " + ShellQuote(path) + " - 2>/dev/null";
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, got);
  pclose(pipe);
  return text;
}

inline void ExpectRuns(const std::vector<CliCase>& cases,
                       const std::vector<std::string>& never_written = {},
                       const std::string& environment = "") {
  for (const CliCase& c : cases) ExpectRun(c, never_written, environment);
}

}  // namespace testing_support
