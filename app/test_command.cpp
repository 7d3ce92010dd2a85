// `dcservo test NAME`: a test of the drive run headless on the simulated drive, as a user
// runs it in its dialog: the "Test" page, Tune when asked, Start, the run watched every
// 20 ms of a virtual clock until the verdict. Each test is one row of kTests.

#include <cmath>
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/simulated_drive_session.h"
#include "derive/pipelines.h"
#include "dialogs/dialog_names.h"
#include "drivetests/headless_test_run.h"
#include "drivetests/my_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"

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
};

constexpr TestRow kTests[] = {
    {"current", dcservo::dialog_names::kCurrentTest,
     "Current controller step with the shaft blocked (Current Controller Tuning Test)", true},
};

ordered_json FiguresJson(const std::optional<StepFigures>& f) {
  if (!f) return nullptr;
  return {{"rise_time_s", f->rise_time_s},
          {"overshoot_pct", f->overshoot_pct},
          {"settling_time_s", f->settling_time_s},
          {"steady_state_error", f->steady_state_error}};
}

ordered_json ValuesJson(const std::vector<TestRunReport::Value>& values) {
  ordered_json out = ordered_json::object();
  for (const auto& v : values) out[v.name] = v.value;
  return out;
}

void PrintFigures(const char* title, const std::optional<StepFigures>& f) {
  if (!f) return;
  std::printf("%-10s rise %.4g ms  overshoot %.3g %%  settling %.4g ms  steady-state error %.3g\n",
              title, f->rise_time_s * 1e3, f->overshoot_pct, f->settling_time_s * 1e3,
              f->steady_state_error);
}

class TestCommand : public Command {
 public:
  const char* Name() const override { return "test"; }
  const char* Description() const override {
    return "Run a test of the drive headless on the simulated drive";
  }

  void Define(CLI::App& cmd) override {
    cmd.require_subcommand(1);
    for (const TestRow& row : kTests) {
      CLI::App* sub = cmd.add_subcommand(row.word, row.description);
      subs_.push_back({sub, &row, {}});
      sub->add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)");
      subs_.back().args.AddTo(*sub, false);
      sub->add_flag("--tune", tune_, "Press Tune before Start");
      sub->add_option("--fault", faults_, "Fault NAME or NAME=VALUE from the start")
          ->allow_extra_args(false);
      sub->add_option("--png", png_, "Write the plot as PNG");
      sub->add_option("--svg", svg_, "Write the plot as SVG");
      sub->add_option("--csv", csv_, "Write the plotted data as CSV");
      sub->add_flag("--json", json_, "Print one JSON object (docs/test-command.md)");
      sub->add_option("--out", out_, "Save the setup here as OK would");
      sub->footer(ConditionsHelp());
    }
  }

  int Execute(const CLI::App&) override {
    for (const Sub& sub : subs_) {
      if (*sub.app) return Run(sub);
    }
    return kExitBadInput;
  }

 private:
  struct Sub {
    CLI::App* app;
    const TestRow* row;
    SetupArgs args;
  };

  int Run(const Sub& sub) {
    const TestRow& row = *sub.row;
    SetupSession session(ResolveSetup(sub.args.setup, positional_setup_));
    const std::vector<Assignment> assignments = sub.args.InOrder(*sub.app);
    session.Apply(assignments);
    CZel_Setup& setup = session.Setup();
    // What the drive setup does before it opens a test. The test's own values (test current,
    // protection) are derived from the chip there, so the user's are put back after it, as
    // typed into the test's fields.
    dcservo::ComputeChipParameters(setup);
    dcservo::ComputeScaledParameters(setup);
    session.Apply(assignments);

    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    SimulatedDriveSession simulated(setup);
    std::vector<NameValue> faults;
    if (row.blocked_shaft) faults.push_back({"shaft_blocked", 1.0});
    for (const std::string& f : faults_) faults.push_back(ParseCondition(f, false));
    for (const NameValue& f : faults) {
      std::string error;
      if (!simulated.Drive().Inject(f.name, f.value, error))
        throw CommandError(kExitBadInput, error);
    }

    std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(row.dialog, setup);
    auto* test = dynamic_cast<CMyTestDlg*>(dialog.get());
    if (!test) throw CommandError(kExitFailed, std::string("no test \"") + row.word + "\"");

    std::string refusal;
    bool written = true;
    ui.Then([&](CZel_Dialog&) { refusal = dcservo::RunTestHeadless(*test, ui, tune_); });
    ui.Then([&](CZel_Dialog&) {
      if (refusal.empty() && test->m_nTestResult == 1) written = WriteFiles(*test);
      if (!out_.empty() && refusal.empty() && test->m_nTestResult == 1 && written)
        test->UserClick(kIdOk);
      else
        test->UserClose();
    });
    const int result = test->DoModal();
    if (!refusal.empty()) throw CommandError(kExitBadInput, refusal);

    TestRunReport report;
    test->DescribeRun(report);
    const bool succeeded = test->m_nTestResult == 1 && written;
    Print(*test, report);
    if (!succeeded) {
      std::fprintf(stderr, "dcservo: %s\n",
                   test->m_strError.empty() ? "the test did not end" : test->m_strError.c_str());
      return kExitFailed;
    }
    if (result == kIdOk) {
      session.Save(out_);
      if (!json_) std::printf("saved %s\n", out_.c_str());
    }
    return 0;
  }

  bool WriteFiles(CMyTestDlg& test) {
    const CGraphWindow* graph = test.GetRunGraph();
    struct File {
      const std::string& path;
      std::string (*write)(const CGraphWindow&, const std::string&);
      const char* key;
    };
    const File files[] = {{png_, ZelWriteGraphPng, "png"},
                          {svg_, ZelWriteGraphSvg, "svg"},
                          {csv_, ZelWriteGraphCsv, "csv"}};
    bool ok = true;
    for (const File& f : files) {
      if (f.path.empty()) continue;
      const std::string why = graph ? f.write(*graph, f.path) : f.path + ": the run drew no plot";
      if (why.empty()) {
        files_[f.key] = f.path;
      } else {
        std::fprintf(stderr, "dcservo: %s\n", why.c_str());
        ok = false;
      }
    }
    return ok;
  }

  void Print(const CMyTestDlg& test, const TestRunReport& report) {
    const bool succeeded = test.m_nTestResult == 1;
    if (json_) {
      ordered_json out;
      out["verdict"] = succeeded ? "succeeded" : "failed";
      out["failure"] = succeeded ? "" : test.m_strError;
      out["inputs"] = ValuesJson(report.inputs);
      out["gains"] = ValuesJson(report.gains);
      out["figures"] = {{"measured", FiguresJson(report.measured)},
                        {"predicted", FiguresJson(report.predicted)}};
      out["warnings"] = report.warnings;
      out["files"] = files_;
      if (!out_.empty() && succeeded) out["files"]["setup"] = out_;
      std::printf("%s\n", out.dump(2).c_str());
      return;
    }
    std::printf("%s\n", succeeded ? "Test successful" : "Test failed");
    for (const auto& g : report.gains) std::printf("%s=%.9g\n", g.name.c_str(), g.value);
    PrintFigures("measured", report.measured);
    PrintFigures("predicted", report.predicted);
    for (const std::string& w : report.warnings) std::printf("warning: %s\n", w.c_str());
  }

  std::deque<Sub> subs_;  // the options point into it
  std::string positional_setup_, png_, svg_, csv_, out_;
  std::vector<std::string> faults_;
  bool tune_ = false, json_ = false;
  ordered_json files_ = ordered_json::object();
};

}  // namespace

std::unique_ptr<Command> MakeTestCommand() { return std::make_unique<TestCommand>(); }
