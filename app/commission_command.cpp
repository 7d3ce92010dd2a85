// `dcservo commission`: the drive brought into service in one run on the simulated drive,
// headless, and the record of it in a folder: the commissioned setup, report.html,
// report.json and the logged run of every step. `--compare` sets it beside an earlier one.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/command.h"
#include "app/tuning_test_command.h"
#include "app/drive_conditions.h"
#include "app/drive_link_option.h"
#include "app/gui_module.h"
#include "app/simulated_drive_session.h"
#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_headless.h"
#include "host/zel_modbus_link.h"
#include "host/zel_test_dlg.h"

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

// Over a link the shaft is a real one: each notice that asks to block or free it is a
// question on the terminal, and the step waits for the answer. --yes answers them for a
// script that has seen to the shaft itself.
class ShaftQuestionsOnTerminal {
 public:
  explicit ShaftQuestionsOnTerminal(bool answer_yes) : answer_yes_(answer_yes) {}

  bool Ask(const char* notice) const {
    std::printf("    %s\n", notice);
    if (answer_yes_) {
      std::printf("    (answered by --yes)\n");
      std::fflush(stdout);
      return true;
    }
    for (;;) {
      std::printf("    Press Enter when done, or type \"stop\" to end the run: ");
      std::fflush(stdout);
      std::string line;
      const bool answered = static_cast<bool>(std::getline(std::cin, line));
      // A terminal echoed the answer and its Enter; an answer from a pipe was not seen.
      if (!isatty(STDIN_FILENO)) std::printf("\n");
      if (!answered) {
        std::printf("    no answer (end of input): the run stops here\n");
        return false;
      }
      std::erase_if(line, [](unsigned char c) { return std::isspace(c); });
      std::transform(line.begin(), line.end(), line.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (line.empty() || line == "y" || line == "yes") return true;
      if (line == "stop" || line == "n" || line == "no") return false;
    }
  }

 private:
  bool answer_yes_;
};

// A step over a link runs for tens of seconds: the run's time and its status (the upload's
// share) show at most once a second, so that a quiet terminal is not taken for a hung run.
class StepProgressOnTerminal {
 public:
  explicit StepProgressOnTerminal(ZelHeadlessBackend& ui) : ui_(ui) {
    ui_.on_control_changed = [this](CZel_Dialog& dialog, int id) {
      if (id == kIdcTestStatus) Status(dialog.GetChildText(id));
    };
    // Between the runs of a step (before its first, after each) the drive is waited for:
    // the motor must come to rest.
    ui_.on_loop_end = [this](CZel_Dialog&) { status_ = kBetweenRuns; };
    clock_listener_ = ui_.AddClockListener([this](double) { Show(false); });
  }
  ~StepProgressOnTerminal() {
    ui_.on_control_changed = nullptr;
    ui_.on_loop_end = nullptr;
    ui_.RemoveClockListener(clock_listener_);
  }
  StepProgressOnTerminal(const StepProgressOnTerminal&) = delete;
  StepProgressOnTerminal& operator=(const StepProgressOnTerminal&) = delete;

  void Status(const std::string& text) {
    if (text.empty() || text == status_) return;
    // A new phase shows at once; the counts within it at the pace of the terminal.
    const bool new_phase = Phase(text) != Phase(status_);
    status_ = text;
    Show(new_phase);
  }

  void StepStarts() {
    step_start_ms_ = ui_.NowMs();
    status_ = kBetweenRuns;
    shown_.clear();
    last_shown_ = std::chrono::steady_clock::now();
  }

 private:
  static constexpr char kBetweenRuns[] = "waiting for the motor to come to rest";

  static std::string Phase(const std::string& status) { return status.substr(0, status.find(':')); }

  // New counts at most once a second; the same text again every five.
  void Show(bool now) {
    const auto since = std::chrono::steady_clock::now() - last_shown_;
    const auto pace = status_ == shown_ ? std::chrono::seconds(5) : std::chrono::seconds(1);
    if (status_.empty() || (!now && since < pace)) return;
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", (ui_.NowMs() - step_start_ms_) / 1000.0);
    std::printf("      %s (run %s)\n", status_.c_str(), time);
    std::fflush(stdout);
    shown_ = status_;
    last_shown_ = std::chrono::steady_clock::now();
  }

  ZelHeadlessBackend& ui_;
  int clock_listener_ = 0;
  double step_start_ms_ = 0.0;
  std::string status_, shown_;
  std::chrono::steady_clock::time_point last_shown_{};
};

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
    cmd.add_flag("--yes", yes_,
                 "With --drive: answer the notices to block and free the shaft without asking "
                 "(the record says so)");
    drive_.AddTo(cmd);
    cmd.footer(ConditionsHelp(false));
  }

  void Execute(const CLI::App& cmd) override {
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
    const std::shared_ptr<CZel_DriveLink> link = drive_.Open(setup);
    SimulatedDriveSession simulated(setup, link);
    auto inject = [&simulated](const NameValue& fault) {
      Inject(simulated.Drive(), fault.name, fault.value);
      if (fault.name == "shaft_blocked" && fault.value != 0.0) simulated.KeepShaftBlocked();
    };
    for (const std::string& f : faults_) inject(ParseCondition(f, false));

    dcservo::CommissioningHooks hooks;
    std::optional<StepProgressOnTerminal> step_progress;
    const ShaftQuestionsOnTerminal questions(yes_);
    if (drive_.Remote()) {
      step_progress.emplace(ui);
      hooks.confirm = [&questions](const char* notice, ZelAskedAction) {
        return questions.Ask(notice);
      };
    }
    hooks.progress = [&step_progress](std::size_t i, std::size_t n, const CommissioningStep& step) {
      std::printf("[%zu/%zu] %s\n", i + 1, n, step.title);
      std::fflush(stdout);
      if (step_progress) step_progress->StepStarts();
    };
    hooks.status = [&step_progress](const std::string& text) {
      if (step_progress) step_progress->Status(text);
    };
    hooks.prepare = [&](const CommissioningStep& step) {
      for (const StepFault& f : step_faults) {
        if (f.step == step.word) inject(f.fault);
      }
    };
    const auto started = std::chrono::steady_clock::now();
    const CommissioningResult result = dcservo::RunCommissioning(setup, ui, hooks);
    std::optional<dcservo::ReportFiles::LinkTimes> times;
    if (const auto* modbus = dynamic_cast<const CZel_ModbusLink*>(link.get())) {
      times = {modbus->ProgramSeconds(),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
      std::printf("drive programs %.1f s, the run %.1f s on the wall clock\n", times->programs_s,
                  times->wall_s);
    }
    session.ReportReplaced("commission",
                           "commission tunes the loops and identifies the inertia on the drive: "
                           "assign what it starts from, not what it finds");
    WriteRecord(result, setup, setup.GetSourceName(), ShaftNoticesAnswered(), earlier, times);
    if (!result.succeeded) throw AlreadyTold(kExitFailed);
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

  std::string ShaftNoticesAnswered() const {
    if (!drive_.Remote()) return "taken by the simulated drive, which blocked and freed its shaft";
    return yes_ ? "answered by --yes, without asking: the shaft was not seen to"
                : "confirmed at the terminal";
  }

  void WriteRecord(const CommissioningResult& result, const CZel_Setup& setup,
                   const std::string& source, const std::string& shaft_notices,
                   const ordered_json& earlier,
                   const std::optional<dcservo::ReportFiles::LinkTimes>& times) {
    dcservo::RecordPaths paths;
    dcservo::ReportFiles record;
    record.link_times = times;
    record.source = source;
    record.operator_name = operator_;
    record.note = note_;
    record.shaft_notices = shaft_notices;
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
  bool yes_ = false;
  DriveLinkOption drive_;
};

}  // namespace

std::unique_ptr<Command> MakeCommissionCommand() { return std::make_unique<CommissionCommand>(); }
