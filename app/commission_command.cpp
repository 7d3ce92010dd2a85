// `dcservo commission`: the drive brought into service in one run on the simulated drive,
// headless, and the record of it in a folder: the commissioned setup, report.html,
// report.json and the logged run of every step. `--compare` sets it beside an earlier one.

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/test_tuning_command.h"
#include "app/drive_conditions.h"
#include "app/drive_link_option.h"
#include "app/gui_module.h"
#include "app/simulated_drive_session.h"
#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_headless.h"

namespace {

using dcservo::CommissioningResult;
using dcservo::CommissioningStep;
using nlohmann::ordered_json;

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

class CommissionCommand : public Command {
 public:
  const char* Name() const override { return "commission"; }
  const char* Description() const override {
    return "Commission the drive in one run on the simulated drive and write its report";
  }

  void Define(CLI::App& cmd) override {
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)");
    args_.AddTo(cmd);
    cmd.add_option("--out", out_, "Folder for setup.json, report.html, report.json, CSVs")
        ->required()
        ->check(FileName());
    cmd.add_option("--fault", faults_, "Fault NAME or NAME=VALUE of the drive, for every step")
        ->allow_extra_args(false);
    cmd.add_option("--fault-at", step_faults_, "STEP:NAME[=VALUE]: a fault from that step on")
        ->allow_extra_args(false);
    cmd.add_option("--compare", compare_, "Also write compare.html against this earlier --out")
        ->check(FileName());
    cmd.add_option("--operator", operator_, "Who commissions the drive, for the record");
    cmd.add_option("--note", note_, "A note filed with the record (the machine, the reason)");
    drive_.AddTo(cmd);
    cmd.footer(ConditionsHelp(false));
  }

  int Execute(const CLI::App& cmd) override {
    std::vector<StepFault> step_faults;
    for (const std::string& f : step_faults_) step_faults.push_back(ParseStepFault(f));
    ordered_json earlier;
    if (!compare_.empty()) {
      std::string error;
      earlier = dcservo::ReadCommissioningReport(compare_, error);
      if (!error.empty()) throw CommandError(kExitBadInput, error);
    }

    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    CheckOutputFolder(session.Path());
    session.Apply(args_.InOrder(cmd));
    session.RefuseImplausibleMotorData("the setup cannot be commissioned");
    CZel_Setup& setup = session.Setup();
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    drive_.RefuseConditions(faults_, step_faults_);
    SimulatedDriveSession simulated(setup, drive_.Open(setup));
    auto inject = [&simulated](const NameValue& fault) {
      Inject(simulated.Drive(), fault.name, fault.value);
      if (fault.name == "shaft_blocked" && fault.value != 0.0) simulated.KeepShaftBlocked();
    };
    for (const std::string& f : faults_) inject(ParseCondition(f, false));

    dcservo::CommissioningHooks hooks;
    hooks.progress = [](std::size_t i, std::size_t n, const CommissioningStep& step) {
      std::printf("[%zu/%zu] %s\n", i + 1, n, step.title);
      std::fflush(stdout);
    };
    hooks.prepare = [&](const CommissioningStep& step) {
      for (const StepFault& f : step_faults) {
        if (f.step == step.word) inject(f.fault);
      }
    };
    const CommissioningResult result = dcservo::RunCommissioning(setup, ui, hooks);
    session.ReportReplaced("commission",
                           "commission tunes the loops and identifies the inertia on the drive: "
                           "assign what it starts from, not what it finds");
    WriteRecord(result, setup, session.IsBundled() ? "bundled drive" : session.Path(), earlier);
    return result.succeeded ? 0 : kExitFailed;
  }

 private:
  // Refused before the run: the record replaces the folder whole, so neither the input nor a
  // file of the user's may live there.
  void CheckOutputFolder(const std::string& input) const {
    if (const std::string why = dcservo::CheckRecordFolder(out_); !why.empty())
      throw CommandError(kExitBadInput, why);
    std::error_code ec;
    if (std::filesystem::equivalent(input, dcservo::RecordSetupPath(out_), ec))
      throw CommandError(kExitBadInput,
                         out_ + ": its setup.json is the input setup, which is never written; "
                                "choose another folder for the record");
  }

  void WriteRecord(const CommissioningResult& result, const CZel_Setup& setup,
                   const std::string& source, const ordered_json& earlier) {
    dcservo::RecordPaths paths;
    dcservo::ReportFiles record;
    record.source = source;
    record.operator_name = operator_;
    record.note = note_;
    const std::string why = dcservo::WriteCommissioningRecord(
        result, setup, out_, record, earlier, PrintWithTheGuiModule, paths);
    if (!why.empty()) throw CommandError(kExitFailed, why);
    if (paths.pdf.empty())
      std::fprintf(stderr, "dcservo: warning: report.pdf was not written; the record says why\n");
    if (!paths.compare.empty()) std::printf("comparison: %s\n", paths.compare.c_str());
    if (!result.succeeded) {
      const dcservo::StepOutcome& failed = result.steps.back();
      std::fprintf(stderr, "dcservo: step \"%s\" failed\n", failed.step->title);
      if (!failed.diagnosis) std::fprintf(stderr, "dcservo: check %s\n", failed.step->advice);
      PrintFailure(failed.failure, failed.diagnosis);
      std::fprintf(stderr, "dcservo: no setup was saved; the record tells what failed\n");
    }
    std::printf("%s\nreport: %s\n",
                result.succeeded ? "Commissioning passed" : "Commissioning failed",
                paths.html.c_str());
  }

  // Qt draws the PDF: its module is loaded for this step alone, and a program without it
  // still writes the rest of the record.
  static std::string PrintWithTheGuiModule(const ZelReportDocument& report, std::string& pdf) {
    try {
      return GuiModule().print_report_pdf(report, pdf);
    } catch (const CommandError& e) {
      return e.what();
    }
  }

  SetupArgs args_;
  std::string positional_setup_, out_, compare_, operator_, note_;
  std::vector<std::string> faults_, step_faults_;
  DriveLinkOption drive_;
};

}  // namespace

std::unique_ptr<Command> MakeCommissionCommand() { return std::make_unique<CommissionCommand>(); }
