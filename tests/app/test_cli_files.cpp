// What the command line does with hostile setups and file names: a run that reports an error
// exits 1 and saves nothing, bad usage exits 2, and whatever it saves loads again.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <regex>

#include "tests/app/cli_runner.h"

namespace {

using testing_support::BundledSetupPath;
using testing_support::CliCase;
using testing_support::ReadFile;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

// The bundled drive with one parameter's entry changed: `replace` stands for the text from
// its name up to its value.
std::string BundledWith(const std::string& name, const std::string& replace) {
  const std::regex entry("\"name\": \"" + name + "\",[^}]*?\"value\": [-0-9.e+]+");
  return std::regex_replace(ReadFile(BundledSetupPath()), entry, replace,
                            std::regex_constants::format_first_only);
}

std::map<std::string, std::string> HostileSetups() {
  return {
      {"bundled", ReadFile(BundledSetupPath())},
      {"no Motor_transmission",
       BundledWith("Motor_transmission", R"("name": "Motor_transmission_old", "value": 1)")},
      {"no R", BundledWith("R", R"("name": "R_old", "unit": "ohm", "value": 1)")},
      {"DSP_freq 0", BundledWith("DSP_freq", R"("name": "DSP_freq", "unit": "Hz", "value": 0)")},
      {"PWM_freq 0", BundledWith("PWM_freq", R"("name": "PWM_freq", "unit": "Hz", "value": 0)")},
      {"Vdc renamed", BundledWith("Vdc", R"("name": "Vdc_renamed", "unit": "V", "value": 48)")},
      {"Vdc internal",
       BundledWith("Vdc", R"("name": "Vdc", "unit": "V", "storage": "internal", "value": 48)")},
  };
}

const char* const kSavingCommands[] = {"compute", "chip",          "sync",
                                       "tune current", "tune speed", "tune position",
                                       "filters"};

// Either the run succeeds and its file loads again, or it fails and there is no file.
TEST(CommandLineFiles, EverySavedFileLoadsAgainAndAFailedRunSavesNothing) {
  TempDir dir;
  for (const auto& [what, text] : HostileSetups()) {
    const std::string in = dir.File("in.json");
    WriteFile(in, text);
    for (const char* command : kSavingCommands) {
      SCOPED_TRACE(what + ", " + command);
      const std::string out = dir.File("out.json");
      std::remove(out.c_str());
      const auto run = RunDcservo(std::string(command) + " -s " + ShellQuote(in) + " --out " +
                                  ShellQuote(out));
      if (run.exit_code != 0) {
        EXPECT_EQ(ReadFile(out), "") << run.err;
        EXPECT_TRUE(run.err.empty() || run.err.find("dcservo: ") == 0) << run.err;
        continue;
      }
      EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
      const auto reload = RunDcservo("show -s " + ShellQuote(out) + " PWMPER");
      EXPECT_EQ(reload.exit_code, 0) << reload.err;
    }
  }
}

TEST(CommandLineFiles, SetupsThatReportErrorsExitWithTheirCode) {
  TempDir dir;
  const std::string in = dir.File("in.json"), out = dir.File("out.json");
  struct Case {
    const char* setup;
    const char* command;  // ends with the option that names the file to write
    int exit_code;
    const char* message;
  };
  const Case cases[] = {
      {"no Motor_transmission", "compute --out", 1, "21 errors were reported above; nothing was saved"},
      {"DSP_freq 0", "compute --out", 1, "errors were reported above; nothing was saved"},
      {"DSP_freq 0", "drive run VDC_Detection_Test --log MER --csv", 1,
       "errors were reported above; the drive was not started"},
      {"Vdc renamed", "compute --out", 1, "parameter \"Vdc\" is not in the setup"},
      {"Vdc internal", "compute --out", 2,
       ": /parameters/16/storage: \"Vdc\" is read by the scales, so \"storage\" must be "
       "\"base\""},
      {"no R", "tune current --out", 1,
       "the current controller was not tuned: parameter \"R\" is not in the setup"},
  };
  const auto setups = HostileSetups();
  for (const Case& c : cases) {
    WriteFile(in, setups.at(c.setup));
    testing_support::ExpectRun(
        {std::string(c.command) + " " + ShellQuote(out) + " -s " + ShellQuote(in), c.exit_code,
         c.message},
        {out});
  }
}

TEST(CommandLineFiles, FileNamesThatNameNothingAreBadUsage) {
  TempDir dir;
  const std::string read_only = dir.File("read-only.json");
  WriteFile(read_only, ReadFile(BundledSetupPath()));
  chmod(read_only.c_str(), 0444);
  testing_support::ExpectRuns({
      {"compute --out ''", 2, "--out: an empty file name"},
      {"compute --print ,", 2, "--print: \",\" names nothing"},
      {"compute -s ''", 2, "--setup: an empty file name"},
      {"compute ''", 2, "SETUP: an empty file name"},
      {"tune speed --out ''", 2, "--out: an empty file name"},
      {"compute -s /dev/zero", 2, "/dev/zero: is larger than 32 MiB"},
      {"compute --out /dev/null", 1, "/dev/null: is not a regular file; nothing was saved"},
      {"compute --out /nonexistent/folder/drive.json", 1, "/nonexistent/folder/drive.json"},
      {"compute --out " + ShellQuote(read_only), 1,
       "read-only.json: the file is read-only; nothing was saved"},
  });
  EXPECT_EQ(ReadFile(read_only), ReadFile(BundledSetupPath()));
}

}  // namespace
