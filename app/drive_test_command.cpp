// `dcservo test NAME`: a test of the drive run headless on the simulated drive, as a user
// runs it in its dialog: the "Test" page, Tune when asked, Start, the run watched every
// 20 ms of a virtual clock until the verdict. Each test is one row of kTests.

#include <cmath>
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/drive_link_option.h"
#include "app/simulated_drive_session.h"
#include "app/frequency_test_command.h"
#include "app/tuning_test_command.h"
#include "derive/display_step.h"
#include "derive/pipelines.h"
#include "drivetests/commissioning_report.h"
#include "drivetests/headless_test_run.h"
#include "drivetests/my_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_format.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_setup.h"
#include "names/dialog_names.h"

namespace {

using dcservo::CMyTestDlg;
using dcservo::StepFigures;
using dcservo::TestRunReport;
using nlohmann::ordered_json;

struct TestRow {
  const char* word;    // `dcservo test WORD`
  const char* dialog;  // its name in the dialog registry
  const char* description;
  // The drive's shaft is blocked, as the notice before the test asks the user to.
  bool blocked_shaft;
  // Closing asks whether to keep the value that the test detected.
  bool asks_to_keep;
  // Drive time after which Stop is pressed, by default.
  double until_s;
};

constexpr TestRow kTests[] = {
    {"current", dcservo::dialog_names::kCurrentTest,
     "Current controller step with the shaft blocked (Current Controller Tuning Test)", true,
     false, 60.0},
    {"vdc", dcservo::dialog_names::kVdcTest, "Supply voltage detection (VDC Detection Test)",
     false, true, 60.0},
    {"inertia", dcservo::dialog_names::kInertiaTest,
     "Total inertia at the motor shaft (Total inertia test)", false, true, 60.0},
    {"encoder", dcservo::dialog_names::kEncoderTest,
     "Encoder signals while the shaft is turned by hand, until Stop (Encoder Connections Test)",
     false, false, 2.0},
    {"analogue", dcservo::dialog_names::kAnalogueTest,
     "Analogue reference input and the command it means, until Stop (Analogue Reference Test)",
     false, false, 2.0},
};

void PrintFigures(const char* title, const std::optional<StepFigures>& f) {
  if (!f) return;
  std::printf("%-10s rise %.4g ms  overshoot %.3g %%  settling %.4g ms  steady-state error %.3g\n",
              title, f->rise_time_s * 1e3, f->overshoot_pct, f->settling_time_s * 1e3,
              f->steady_state_error);
}

const CZel_Parameter* QuietlyFind(CZel_Setup& setup, const std::string& name) {
  ZelQuietErrors quiet;
  return setup.FindParameter(name);
}

// A gain as `show` gives its value: in the unit the setup shows it in, at the drive's
// resolution; a chip register as the integer it is.
std::string ShownGain(CZel_Setup& setup, const TestRunReport::Value& gain) {
  const CZel_Parameter* p = QuietlyFind(setup, gain.name);
  if (!p) return gain.name + "=" + ZelFormatValue(gain.value, 0.0);
  const CZel_Unit& unit = p->GetSelectedUnit();
  const double step = dcservo::DisplayStep(setup, *p) / unit.GetFactorToBase();
  const std::string name = unit.GetName();
  return gain.name + "=" + ZelFormatValue(unit.FromBase(gain.value), step) +
         (name.empty() || name == "1" ? "" : " " + name);
}

// A result in its own unit; at its measurement's resolution, or at the drive's where the setup
// holds a parameter of that name in that unit (the detected Vdc as the test page shows it).
std::string ShownResult(CZel_Setup& setup, const TestRunReport::Value& result) {
  const CZel_Parameter* p = QuietlyFind(setup, result.name);
  double step = p && result.unit == p->GetUnitName() ? dcservo::DisplayStep(setup, *p) : 0.0;
  if (result.step > 0.0) step = result.step;
  return result.name + "=" + ZelFormatValue(result.value, step) +
         (result.unit.empty() ? "" : " " + result.unit);
}

class TestCommand : public Command {
 public:
  const char* Name() const override { return "test"; }
  const char* Description() const override {
    return "Run a test of the drive headless on the simulated drive";
  }

  void Define(CLI::App& cmd) override { DefineFor(cmd, ""); }

  // Every test is listed (help names them all), but one test at most is parsed: when `next`
  // names one, the others' options are left out, as building them costs more than a short
  // test's setup does.
  void DefineFor(CLI::App& cmd, const std::string& next) override {
    cmd.require_subcommand(1);
    bool named = false;
    for (const TestRow& row : kTests) named |= next == row.word;
    for (const char* kind : kTuningKinds) named |= next == kind;
    named |= next == kFrequencyWord;
    for (const TestRow& row : kTests) {
      CLI::App* sub = cmd.add_subcommand(row.word, row.description);
      subs_.push_back({sub, &row, {}});
      if (named && next != row.word) continue;
      sub->add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)");
      subs_.back().args.AddTo(*sub, false);
      sub->add_flag("--tune", tune_, "Press Tune before Start");
      sub->add_option("--fault", faults_, "Fault NAME or NAME=VALUE from the start")
          ->allow_extra_args(false);
      sub->add_option("--act", acts_, "Action NAME=VALUE@SECONDS during the run")
          ->allow_extra_args(false);
      sub->add_option("--until", until_text_,
                      "Press Stop after this many seconds of drive time (above 0, at most " +
                          std::to_string(static_cast<int>(kLongestRun_s)) + ")");
      if (row.asks_to_keep) {
        CLI::Option* accept =
            sub->add_flag("--accept", accept_, "Answer Yes to the closing question: keep it");
        sub->add_flag("--reject", reject_, "Answer No to the closing question (the default)")
            ->excludes(accept);
      }
      sub->add_option("--png", png_, "Write the plot as PNG")->check(OutputFile({".png"}));
      sub->add_option("--svg", svg_, "Write the plot as SVG")->check(OutputFile({".svg"}));
      sub->add_option("--csv", csv_, "Write the plotted data as CSV")->check(OutputFile({".csv"}));
      sub->add_flag("--json", json_, "Print one JSON object (docs/test-command.md)");
      sub->add_option("--out", out_, "Save the setup here as OK would")->check(FileName());
      drive_.AddTo(*sub);
      sub->footer(ConditionsHelp());
    }
    // The tuning tests run a reference profile, cycles and an on-line view: options of their own.
    for (std::size_t i = 0; i < std::size(kTuningKinds); ++i) {
      tuning_subs_[i] = cmd.add_subcommand(
          kTuningKinds[i], std::string("The ") + kTuningKinds[i] +
                               " controller tuning test on its reference profile");
      if (named && next != kTuningKinds[i]) continue;
      tuning_options_[i].AddTo(*tuning_subs_[i]);
      tuning_subs_[i]->footer(ConditionsHelp(false));
    }
    frequency_sub_ = cmd.add_subcommand(
        kFrequencyWord, "Frequency response: the drive excites itself with a stepped sine");
    if (!named || next == kFrequencyWord) {
      frequency_options_.AddTo(*frequency_sub_);
      frequency_sub_->footer(ConditionsHelp(false));
    }
  }

  void Execute(const CLI::App&) override {
    if (*frequency_sub_) return RunFrequencyTest(*frequency_sub_, frequency_options_);
    for (std::size_t i = 0; i < std::size(kTuningKinds); ++i) {
      if (*tuning_subs_[i]) return RunTuningTest(kTuningKinds[i], *tuning_subs_[i], tuning_options_[i]);
    }
    for (const Sub& sub : subs_) {
      if (*sub.app) return Run(sub);
    }
    throw AlreadyTold(kExitBadInput);
  }

 private:
  struct Sub {
    CLI::App* app;
    const TestRow* row;
    SetupArgs args;
  };
  static constexpr const char* kTuningKinds[] = {"speed", "position"};
  TuningTestOptions tuning_options_[2];
  CLI::App* tuning_subs_[2] = {};
  static constexpr const char* kFrequencyWord = "frequency";
  FrequencyTestOptions frequency_options_;
  CLI::App* frequency_sub_ = nullptr;

  // Prepares the setup as the drive setup does, runs the test through its dialog as a user
  // would, writes what the run produced all together, and tells the verdict last.
  void Run(const Sub& sub) {
    const TestRow& row = *sub.row;
    const double until_s = until_text_.empty() ? row.until_s : ParseRunTime(until_text_, "--until");
    SetupSession session(ResolveSetup(sub.args.setup, positional_setup_));
    CZel_Setup& setup = PrepareSetup(session, sub);
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    drive_.RefuseConditions(faults_, acts_);
    SimulatedDriveSession simulated(setup, drive_.Open(setup));
    ApplyConditions(simulated, row);

    std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(row.dialog, setup);
    auto* test = dynamic_cast<CMyTestDlg*>(dialog.get());
    if (!test) throw CommandError(kExitFailed, std::string("no test \"") + row.word + "\"");
    const RunOutcome run = RunThroughDialog(*test, ui, row, until_s);

    std::string failure = test->m_nTestResult == 1 ? files_error_
                          : test->m_strError.empty() ? "the test did not end"
                                                     : test->m_strError;
    bool kept = failure.empty() && run.kept;
    int failure_code = kExitFailed;
    if (failure.empty()) failure = WriteFiles(session, kept, failure_code);
    kept = kept && failure.empty();

    TestRunReport report;
    test->DescribeRun(report);
    const dcservo::Diagnosis* diagnosis =
        failure.empty() ? nullptr
                        : dcservo::DiagnoseRun(*test, failure);
    Print(row.word, setup, report, failure, diagnosis, kept);
    if (!failure.empty()) {
      PrintFailure(failure, diagnosis);
      throw AlreadyTold(failure_code);
    }
    if (kept && !out_.empty() && !json_) std::printf("saved %s\n", out_.c_str());
  }

  // What the drive setup does before it opens a test. The test's own values (test current,
  // protection) are derived from the chip there, so the user's are put back after it, as
  // typed into the test's fields.
  static CZel_Setup& PrepareSetup(SetupSession& session, const Sub& sub) {
    const std::vector<Assignment> assignments = sub.args.InOrder(*sub.app);
    session.Apply(assignments);
    dcservo::SynchroniseSetup(session.Setup());
    session.Apply(assignments);
    return session.Setup();
  }

  // The faults from the start (a test that needs the shaft blocked gets it blocked, as the
  // user blocks it on the notice) and the actions at their times.
  void ApplyConditions(SimulatedDriveSession& simulated, const TestRow& row) const {
    std::vector<NameValue> faults;
    if (row.blocked_shaft && simulated.Simulated()) faults.push_back({"shaft_blocked", 1.0});
    for (const std::string& f : faults_) faults.push_back(ParseCondition(f, false));
    for (const NameValue& f : faults) {
      std::string error;
      if (!simulated.Drive().Inject(f.name, f.value, error))
        throw CommandError(kExitBadInput, error);
    }
    for (const std::string& a : acts_) {
      const NameValue act = ParseCondition(a, true);
      std::string error;
      if (!simulated.Drive().Schedule(act.time, act.name, act.value, error))
        throw CommandError(kExitBadInput, error);
    }
  }

  struct RunOutcome {
    bool kept = false;  // the test's value or gains stay in the setup
  };

  // The run, then the dialog closed as the user closes it: OK to keep what it found, or the
  // answer to its question. Throws (exit 2) when the test refused its inputs.
  RunOutcome RunThroughDialog(CMyTestDlg& test, ZelHeadlessBackend& ui, const TestRow& row,
                              double until_s) {
    std::string refusal;
    bool written = true;
    ui.Then([&](CZel_Dialog&) { refusal = dcservo::RunTestHeadless(test, ui, tune_, until_s); });
    ui.Then([&](CZel_Dialog&) {
      const bool succeeded = refusal.empty() && test.m_nTestResult == 1;
      if (succeeded) written = CollectPlotFiles(test);
      if (row.asks_to_keep) {
        // The answer goes first in line: closing asks at once when the value has changed.
        ui.ThenAnswer(accept_ && written ? kIdYes : kIdNo);
        test.UserClose();
      } else if (!out_.empty() && succeeded && written) {
        test.UserClick(kIdOk);
      } else {
        test.UserClose();
      }
    });
    const int result = test.DoModal();
    if (!refusal.empty()) throw CommandError(kExitBadInput, refusal);
    // An answer left unused: the value had not changed, so there was nothing to ask.
    const bool asked = row.asks_to_keep && !ui.HasPendingSteps();
    return {result == kIdOk || (accept_ && row.asks_to_keep && !asked)};
  }

  // Everything is written, all together, before the verdict is told, so that it tells it;
  // empty when all was written, else why not (with its exit code in `code`).
  std::string WriteFiles(SetupSession& session, bool kept, int& code) {
    std::string failure;
    try {
      if (kept && !out_.empty()) files_to_write_.push_back({out_, session.SaveText(out_)});
      failure = ZelWriteFilesTogether(files_to_write_);
    } catch (const CommandError& e) {
      failure = e.what();
      code = e.code;
    }
    if (!failure.empty()) return failure;
    for (const auto& [key, path] : {std::pair{"png", &png_}, {"svg", &svg_}, {"csv", &csv_}}) {
      if (!path->empty()) files_[key] = *path;
    }
    return failure;
  }

  // The plot's files, written after the run with the setup: all of them or none.
  bool CollectPlotFiles(CMyTestDlg& test) {
    if (png_.empty() && svg_.empty() && csv_.empty()) return true;
    const CGraphWindow* graph = test.GetRunGraph();
    const std::string& first = !png_.empty() ? png_ : !svg_.empty() ? svg_ : csv_;
    files_error_ = graph ? ZelGraphFiles(*graph, png_, svg_, csv_, files_to_write_)
                         : first + ": the run drew no plot; nothing was saved";
    return files_error_.empty();
  }

  // `failure` is empty for a run that succeeded and whose files were all written.
  void Print(const char* word, CZel_Setup& setup, const TestRunReport& report,
             const std::string& failure,
             const dcservo::Diagnosis* diagnosis, bool kept) {
    const bool succeeded = failure.empty();
    if (json_) {
      ordered_json out = dcservo::TestRunJson(report, failure, diagnosis);
      out["kept"] = kept;
      out["files"] = files_;
      if (!out_.empty() && kept) out["files"]["setup"] = out_;
      std::printf("%s\n",
                  out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
      return;
    }
    std::printf("%s test %s\n", word, succeeded ? "passed" : "failed");
    for (const auto& g : report.gains) std::printf("%s\n", ShownGain(setup, g).c_str());
    for (const auto& r : report.results) std::printf("%s\n", ShownResult(setup, r).c_str());
    for (const auto& v : report.identified)
      std::printf("identified %s=%.4g %s (confidence %.2f)\n", v.name.c_str(), v.value,
                  v.unit.c_str(), v.confidence);
    PrintFigures("measured", report.measured);
    PrintFigures("predicted", report.predicted);
    for (const std::string& w : report.warnings) std::printf("warning: %s\n", w.c_str());
  }

  std::deque<Sub> subs_;  // the options point into it
  std::string positional_setup_, png_, svg_, csv_, out_, files_error_;
  std::vector<std::string> faults_, acts_;
  DriveLinkOption drive_;
  std::string until_text_;
  bool tune_ = false, json_ = false, accept_ = false, reject_ = false;
  ordered_json files_ = ordered_json::object();
  std::vector<ZelFileBytes> files_to_write_;
};

}  // namespace

std::unique_ptr<Command> MakeTestCommand() { return std::make_unique<TestCommand>(); }
