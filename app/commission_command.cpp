// `dcservo commission`: the drive brought into service in one run on the simulated drive,
// headless, and the record of it in a folder: the commissioned setup, report.html,
// report.json and the logged run of every step. `--compare` sets it beside an earlier one.

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/simulated_drive_session.h"
#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_file.h"
#include "host/zel_headless.h"

namespace {

using dcservo::CommissioningResult;
using dcservo::CommissioningStep;
using nlohmann::ordered_json;

constexpr char kSetupFile[] = "setup.json";
constexpr char kHtmlFile[] = "report.html";
constexpr char kJsonFile[] = "report.json";
constexpr char kCompareFile[] = "compare.html";

// A fault that comes on when a step starts: STEP:NAME[=VALUE].
struct StepFault {
  std::string step;
  NameValue fault;
};

StepFault ParseStepFault(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0)
    throw CommandError(kExitBadInput, "--fault-at " + text + ": expected STEP:NAME[=VALUE]");
  StepFault f{text.substr(0, colon), ParseCondition(text.substr(colon + 1), false)};
  bool known = false;
  for (const CommissioningStep& s : dcservo::CommissioningSteps()) known |= f.step == s.word;
  if (!known) throw CommandError(kExitBadInput, "--fault-at " + text + ": no step \"" + f.step + "\"");
  return f;
}

void Inject(dcsim::SimulatedDrive& drive, const std::string& name, double value) {
  std::string error;
  if (!drive.Inject(name, value, error)) throw CommandError(kExitBadInput, error);
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
  const std::string why = ZelWriteFileAtomically(path.string(), bytes);
  if (!why.empty()) throw CommandError(kExitFailed, why);
}

ordered_json ReadReport(const std::filesystem::path& dir) {
  const std::string path = (dir / kJsonFile).string();
  std::string text;
  const std::string error = ZelReadFileLimited(path, kZelMaxInputFileBytes, text);
  if (!error.empty()) throw CommandError(kExitBadInput, error);
  ordered_json report = ordered_json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report["steps"].is_array() ||
      !report["values"].is_object())
    throw CommandError(kExitBadInput, path + ": not a commissioning report");
  return report;
}

class CommissionCommand : public Command {
 public:
  const char* Name() const override { return "commission"; }
  const char* Description() const override {
    return "Commission the drive in one run on the simulated drive and write its report";
  }

  void Define(CLI::App& cmd) override {
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)");
    args_.AddTo(cmd, false);
    cmd.add_option("--out", out_, "Folder for setup.json, report.html, report.json, CSVs")
        ->required()
        ->check(FileName());
    cmd.add_option("--fault", faults_, "Fault NAME or NAME=VALUE of the drive, for every step")
        ->allow_extra_args(false);
    cmd.add_option("--fault-at", step_faults_, "STEP:NAME[=VALUE]: a fault from that step on")
        ->allow_extra_args(false);
    cmd.add_option("--compare", compare_, "Also write compare.html against this earlier --out")
        ->check(FileName());
    cmd.footer(ConditionsHelp(false));
  }

  int Execute(const CLI::App& cmd) override {
    std::vector<StepFault> step_faults;
    for (const std::string& f : step_faults_) step_faults.push_back(ParseStepFault(f));
    const ordered_json earlier = compare_.empty() ? ordered_json() : ReadReport(compare_);

    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    SimulatedDriveSession simulated(setup);
    dcsim::SimulatedDrive& drive = simulated.Drive();
    for (const std::string& f : faults_) {
      const NameValue fault = ParseCondition(f, false);
      Inject(drive, fault.name, fault.value);
    }

    dcservo::CommissioningHooks hooks;
    hooks.progress = [](std::size_t i, std::size_t n, const CommissioningStep& step) {
      std::printf("[%zu/%zu] %s\n", i + 1, n, step.title);
      std::fflush(stdout);
    };
    hooks.prepare = [&](const CommissioningStep& step) {
      Inject(drive, "shaft_blocked", step.blocked_shaft ? 1.0 : 0.0);
      for (const StepFault& f : step_faults) {
        if (f.step == step.word) Inject(drive, f.fault.name, f.fault.value);
      }
    };
    const CommissioningResult result = dcservo::RunCommissioning(setup, ui, hooks);
    WriteRecord(result, setup, session.IsBundled() ? "bundled drive" : session.Path(), earlier);
    return result.succeeded ? 0 : kExitFailed;
  }

 private:
  void WriteRecord(const CommissioningResult& result, const CZel_Setup& setup,
                   const std::string& source, const ordered_json& earlier) {
    const std::filesystem::path dir(out_);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw CommandError(kExitFailed, out_ + ": " + ec.message());
    dcservo::ReportFiles files{kSetupFile, {}, source};
    std::vector<std::string> svgs;
    for (const dcservo::StepOutcome& s : result.steps) {
      std::string csv;
      if (!s.csv.empty()) {
        csv = std::string(s.step->word) + ".csv";
        Write(dir / csv, s.csv);
      }
      files.csv.push_back(csv);
      svgs.push_back(s.svg);
    }
    Write(dir / kSetupFile, result.setup_text);
    const ordered_json report = dcservo::CommissioningReportJson(result, setup, files);
    Write(dir / kJsonFile, report.dump(2) + "\n");
    Write(dir / kHtmlFile, dcservo::CommissioningReportHtml(report, svgs));
    if (!earlier.is_null()) {
      Write(dir / kCompareFile, dcservo::ComparisonReportHtml(report, earlier));
      std::printf("comparison: %s\n", (dir / kCompareFile).c_str());
    }
    if (!result.succeeded) {
      const dcservo::StepOutcome& failed = result.steps.back();
      std::fprintf(stderr, "dcservo: step \"%s\" failed: %s\n", failed.step->word,
                   failed.failure.c_str());
      std::fprintf(stderr, "dcservo: check %s\n", failed.step->advice);
    }
    std::printf("%s\nreport: %s\n", result.succeeded ? "Commissioning succeeded" : "Commissioning failed",
                (dir / kHtmlFile).c_str());
  }

  SetupArgs args_;
  std::string positional_setup_, out_, compare_;
  std::vector<std::string> faults_, step_faults_;
};

}  // namespace

std::unique_ptr<Command> MakeCommissionCommand() { return std::make_unique<CommissionCommand>(); }
