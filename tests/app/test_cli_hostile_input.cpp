// What the program is given by a user or a file that it must refuse at once, naming the
// place, with nothing written: text that is not UTF-8, JSON that nests without end, and
// frequencies for a notch that no loop can take.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/app/cli_runner.h"
#include "tests/support/test_setups.h"

namespace {

using testing_support::CliCase;
using testing_support::ExpectRun;
using testing_support::ShellQuote;
using testing_support::TempDir;

// Every such text is refused before the run: nothing is written, and neither output carries
// the raw byte.
TEST(HostileInput, TextThatIsNotUtf8IsRefusedBeforeAnything) {
  TempDir dir;
  const std::string record = dir.File("R"), csv = dir.File("x\xFF.csv"),
                    png = dir.File("p\xFF.png"), setup = dir.File("d\xFF.json");
  testing_support::WriteFile(setup, testing_support::ReadFile(testing_support::BundledSetupPath()));
  const CliCase cases[] = {
      {"commission --out " + ShellQuote(record) + " --operator " + ShellQuote("\xFF"), 2,
       "argument 5, \"\\xFF\", is not UTF-8 text"},
      {"commission --out " + ShellQuote(record) + " --note " + ShellQuote("\xC3"), 2,
       "\"\\xC3\", is not UTF-8"},
      {"commission " + ShellQuote(setup) + " --out " + ShellQuote(record), 2, "d\\xFF.json"},
      {"test speed --json --csv " + ShellQuote(csv), 2, "x\\xFF.csv\", is not UTF-8"},
      {"test current --json --png " + ShellQuote(png), 2, "p\\xFF.png\", is not UTF-8"},
      {"show " + ShellQuote(setup), 2, "is not UTF-8"},
  };
  for (const CliCase& c : cases) {
    const testing_support::CliResult r = ExpectRun(c, {record, csv, png});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\xFF'), std::string::npos) << r.err;
  }
}

// A speed report or an earlier record nesting 200,000 arrays is refused as it is read, with
// the line and column, before any step runs.
TEST(HostileInput, JsonNestedWithoutEndIsRefusedAtOnce) {
  TempDir dir;
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  const std::string spectrum = dir.File("s.json");
  testing_support::WriteFile(spectrum, "{\"current_spectrum\": " + deep + "}");
  const std::string earlier = dir.File("E");
  std::filesystem::create_directories(earlier);
  testing_support::WriteFile(earlier + "/report.json",
                             "{\"steps\": [], \"values\": {\"Jt\": " + deep + "}}");
  const std::string record = dir.File("R");
  testing_support::ExpectRuns(
      {{"filters --spectrum " + ShellQuote(spectrum), 2,
        "s.json: not a `dcservo test speed --json` report: line 1, column 85: arrays and "
        "objects nest deeper than 64"},
       {"commission --out " + ShellQuote(record) + " --compare " + ShellQuote(earlier), 2,
        "report.json: not a commissioning report: line 1, column 94"}},
      {record});
}

// The value as given, by one rule: a notch sits at a whole hertz at least 1 Hz and below the
// speed loop's Nyquist frequency (1000 Hz on the bundled drive).
TEST(HostileInput, ANotchFrequencyIsJudgedAndShownAsGiven) {
  const CliCase cases[] = {
      {"--notch 1e-300", 2, "--notch: no notch at 1e-300 Hz: a notch sits at a whole hertz, at least 1 Hz"},
      {"--notch 0.4 --apply-notch", 2, "no notch at 0.4 Hz: a notch sits at a whole hertz"},
      {"--notch nan", 2, "no notch at nan Hz: a frequency above 0 Hz is needed"},
      {"--notch -5", 2, "no notch at -5 Hz: a frequency above 0 Hz is needed"},
      {"--notch 999.9", 2,
       "no notch at 999.9 Hz: a notch sits at a whole hertz, and 1000 Hz is not below the speed "
       "loop's Nyquist frequency (1000 Hz)"},
      {"--notch 1000", 2, "no notch at 1000 Hz: it is not below the speed loop's Nyquist"},
      {"--notch 1e308", 2, "no notch at 1e+308 Hz: it is not below"},
      {"--apply-notch", 2, "--apply-notch needs --notch HZ"},
      {"--notch 999.4", 0, ""},
  };
  for (const CliCase& c : cases) {
    CliCase run = c;
    run.args = "tune speed " + c.args;
    const testing_support::CliResult r = ExpectRun(run);
    EXPECT_LT(r.err.size(), 300u) << r.err;
  }
}

}  // namespace
