// `dcservo test speed|position`: the speed or position tuning test run headless on the
// simulated drive, as a user runs it in the dialog: optionally Tune, Start, and for a
// repeating run Stop after N cycles; then the verdict, the figures of each cycle against the
// predicted response, and the plot as PNG, SVG or CSV.
//
// RunTuningTest is the whole command for one test; a generic `test KIND` command calls it
// for the kinds "speed" and "position".

#include "app/tuning_test_command.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/gui_module.h"
#include "derive/pipelines.h"
#include "drivetests/commissioning_report.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_format.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_setup_file.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "sim/simulated_drive.h"

using nlohmann::ordered_json;


namespace {

using namespace dcservo;

constexpr double kTick_ms = 20.0;

// Faults as the drive command takes them: NAME or NAME=VALUE.
void InjectFaults(dcsim::SimulatedDrive& drive, const std::vector<std::string>& faults) {
  for (const std::string& f : faults) {
    const auto eq = f.find('=');
    const std::string name = f.substr(0, eq);
    const double value = eq == std::string::npos ? 1.0 : ParseValue(f.substr(eq + 1), name, 0);
    std::string error;
    if (name.empty() || !drive.Inject(name, value, error))
      throw CommandError(kExitBadInput, error.empty() ? "\"" + f + "\" names no fault" : error);
  }
}

// The shape of every test's JSON, its figures those of the first cycle tracked, then what a
// tuning run adds: the program, every cycle's figures and the current ripple (`error` as
// before, for scripts that read it).
ordered_json Report(const char* kind, CTuningTestDlg& dlg, bool ok, const std::string& error,
                    const Diagnosis* diagnosis, double run_s, const ordered_json& files) {
  const TuningRunFigures& f = dlg.GetFigures();
  TestRunReport run;
  dlg.DescribeRun(run);
  ordered_json j = TestRunJson(run, ok ? "" : error, diagnosis);
  j["figures"] = {
      {"measured", f.cycles.empty() ? ordered_json() : TrackingFiguresJson(f.cycles.front())},
      {"predicted", f.predicted ? TrackingFiguresJson(*f.predicted) : ordered_json()}};
  j["files"] = files;
  j["test"] = kind;
  if (!ok) j["error"] = error;
  if (dlg.GetFaultySegment() >= 0) j["segment"] = dlg.GetFaultySegment();
  j["program"] = dlg.Program();
  j["simulated_s"] = run_s;
  j["unit"] = f.unit;
  j["final_value"] = f.final_value;
  j["measurement_step"] = f.quantum;
  j["predicted_current_limit_s"] = f.predicted_saturation_s;
  j["cycles"] = ordered_json::array();
  for (const CycleFigures& c : f.cycles) j["cycles"].push_back(dcservo::TrackingFiguresJson(c));
  j["current_ripple"] = nullptr;
  if (const TestTargets* targets = TargetsOf(kind); targets && f.ripple) {
    j["current_ripple"] = {{"rms_A", f.ripple->rms_A}, {"peak_A", f.ripple->peak_A}};
    if (const auto check = CheckRippleTarget(*targets, f))
      j["current_ripple"]["target"] = {{"target", check->target}, {"met", check->met}};
  }
  j["current_spectrum"] = dcservo::SpectrumJson(f.current_spectrum);
  j["resonance"] = dcservo::ResonanceJson(f.resonance);
  return j;
}

// The plot's files and the setup of a run that passed, all written or none; empty on
// success, else why nothing was written.
std::string SaveRun(const TuningTestOptions& o, CTuningTestDlg& dlg, const SetupSession& session) {
  const CGraphWindow& graph =
      dlg.GetSetup().GetParameterValueInBaseUnit(dlg.Kind().online_plot) == 1.0
          ? dlg.GetOnlineGraph()
          : dlg.GetLoggerGraph();
  std::vector<ZelFileBytes> files;
  if (std::string why = ZelGraphFiles(graph, o.png, o.svg, o.csv, files); !why.empty())
    return why;
  if (!o.out.empty()) files.push_back({o.out, session.SaveText(o.out)});
  return ZelWriteFilesTogether(files);
}

// As the drive setup does before it opens a test; then what the user sets in the test, with
// the chip values it stands for, and the run's shape.
void PrepareSetup(SetupSession& session, const TuningTestKind& names, const CLI::App& cmd,
                  const TuningTestOptions& o) {
  CZel_Setup& setup = session.Setup();
  SynchroniseSetup(setup);
  session.Apply(o.args.InOrder(cmd));
  ComputeChipParameters(setup);
  setup.SetParameterValueInBaseUnit(names.multi_cycle, o.cycles > 0 ? 1.0 : 0.0);
  setup.SetParameterValueInBaseUnit(names.online_plot, o.online ? 1.0 : 0.0);
  if (o.online && o.cycles == 0 && setup.GetIntOption(dcservo::option::hasOscilloscope) == 0)
    throw CommandError(kExitBadInput, "--online without the drive's scope needs --cycles");
}

// A cycle is the profile's six segments; the first trigger of the scope may wait for the next.
double CycleLength_ms(CZel_Setup& setup, const TuningTestKind& names) {
  const std::optional<ProfileInputs> in = ProfileInputsOf(setup, names.profile);
  double cycle_ms = 0.0;
  if (in) {
    for (const ProfileSegment& s : BuildReferenceProfile(*in))
      cycle_ms += static_cast<double>(std::max(0LL, s.count)) * in->period_s * 1000.0;
  }
  return cycle_ms;
}

// Refused before the run: more cycles than the run's time limit holds always end as failed.
void CheckCycles(CZel_Setup& setup, const TuningTestKind& names, const TuningTestOptions& o) {
  const double cycle_s = CycleLength_ms(setup, names) / 1000.0;
  // The scope's first trigger may wait for the next cycle: one more is allowed for.
  if (o.cycles == 0 || !(cycle_s > 0.0) || (o.cycles + 1) * cycle_s <= o.limit_s) return;
  const double most = std::floor(o.limit_s / cycle_s) - 1.0;
  throw CommandError(kExitBadInput,
                     "--cycles " + std::to_string(o.cycles) + ": a cycle of this profile takes " +
                         ZelFormatValue(cycle_s, 0.0) + " s and a run at most " +
                         ZelFormatValue(o.limit_s, 0.0) + " s, so at most " +
                         ZelFormatValue(std::max(most, 0.0), 0.0) + " cycles");
}

// The user's part of a run, played into the open dialog: the Test page, Tune, Start, Stop
// after the cycles asked for, and the picture when one is wanted.
class UserAtTheTest {
 public:
  UserAtTheTest(CTuningTestDlg& dlg, ZelHeadlessBackend& ui, const TuningTestOptions& o)
      : dlg_(dlg), ui_(ui), o_(o) {
    if (!o.screenshot.empty()) {
      painter_ = GuiModule().make_painter();
      picture_error_ = "the dialog was never drawn";
    }
  }

  void Run(const TuningTestKind& names) {
    dlg_.UserSelect(kTuningTab, kTestPage);
    if (dlg_.GetTabSelection(kTuningTab) != kTestPage) {
      refusal_ = ui_.Messages().empty() ? "the test's parameters were refused"
                                        : ui_.Messages().back().text;
      parameters_refused_ = true;
      return;
    }
    if (o_.tune && !dlg_.UserClick(kTune)) refusal_ = dlg_.LastRefusal();
    if (!refusal_.empty() || !dlg_.UserClick(kIdcTestStartStop)) return;
    const double start = ui_.NowMs();
    RunTicks(start, CycleLength_ms(dlg_.GetSetup(), names));
    run_s_ = (ui_.NowMs() - start) / 1000.0;
    // After the run, when the data logger has uploaded what a repeating run logged.
    TakePicture();
    if (dlg_.m_bTestRunning) {
      refusal_ = "the run did not end within " + std::to_string(o_.limit_s) + " s";
      dlg_.UserClick(kIdcTestStartStop);
    }
  }

  const std::string& Refusal() const { return refusal_; }
  // The page check or the profile check refused what the user set: bad input, not a run
  // that failed.
  bool ParametersRefused() const { return parameters_refused_ || dlg_.GetFaultySegment() >= 0; }
  const std::string& PictureError() const { return picture_error_; }
  double RunSeconds() const { return run_s_; }

 private:
  void RunTicks(double start, double cycle_ms) {
    const double limit = start + o_.limit_s * 1000.0;
    bool stop_pressed = false;
    while (dlg_.m_bTestRunning && ui_.NowMs() < limit) {
      ui_.Advance(kTick_ms);
      const bool enough =
          o_.online ? dlg_.GetFigures().cycles.size() >= static_cast<std::size_t>(o_.cycles)
                    : ui_.NowMs() - start >= o_.cycles * cycle_ms;
      if (o_.cycles > 0 && enough && !stop_pressed && dlg_.m_bTestRunning) {
        dlg_.UserClick(kIdcTestStartStop);
        stop_pressed = true;
      }
    }
  }

  void TakePicture() {
    if (painter_) picture_error_ = painter_->SavePicture(dlg_, o_.screenshot);
  }

  CTuningTestDlg& dlg_;
  ZelHeadlessBackend& ui_;
  const TuningTestOptions& o_;
  std::unique_ptr<GuiPainter> painter_;
  std::string picture_error_, refusal_;
  double run_s_ = 0.0;
  bool parameters_refused_ = false;
};

// What a run that succeeded wrote, as every test's JSON names its files.
ordered_json FilesWritten(const TuningTestOptions& o, bool ok) {
  ordered_json files = ordered_json::object();
  if (!ok) return files;
  for (const auto& [key, path] :
       {std::pair{"png", &o.png}, {"svg", &o.svg}, {"csv", &o.csv}, {"setup", &o.out}}) {
    if (!path->empty()) files[key] = *path;
  }
  return files;
}

void PrintVerdict(const char* kind, CTuningTestDlg& dlg, bool ok, const std::string& error,
                  double run_s, const TuningTestOptions& o) {
  const Diagnosis* diagnosis =
      ok ? nullptr : DiagnoseRun(dlg, error);
  if (o.json) {
    // A drive's text that is not UTF-8 shows as U+FFFD rather than end the run.
    std::printf("%s\n", Report(kind, dlg, ok, error, diagnosis, run_s, FilesWritten(o, ok))
                           .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                           .c_str());
  } else {
    std::printf("%s test %s\n", kind, ok ? "passed" : "failed");
    std::printf("%s", FiguresText(dlg.GetFigures()).c_str());
    if (const std::optional<Resonance>& r = dlg.GetFigures().resonance)
      std::printf("resonance %s\n", DescribeResonance(*r).c_str());
    TestRunReport run;
    dlg.DescribeRun(run);
    for (const IdentifiedValue& v : run.identified)
      std::printf("identified %s=%.4g %s (confidence %.2f)\n", v.name.c_str(), v.value,
                  v.unit.c_str(), v.confidence);
    for (const std::string& w : run.warnings) std::printf("warning: %s\n", w.c_str());
  }
  if (!ok) PrintFailure(error, diagnosis);
}

}  // namespace

void PrintFailure(const std::string& failure, const dcservo::Diagnosis* diagnosis) {
  if (diagnosis)
    std::fprintf(stderr, "dcservo: cause: %s\ndcservo: to do: %s\n", diagnosis->cause,
                 diagnosis->advice);
  if (failure.empty()) return;
  // The test's own text, as the drive's dialog words it, after what the program found.
  std::fprintf(stderr, diagnosis ? "dcservo: message: %s\n" : "dcservo: %s\n",
               dcservo::ReadableText(failure).c_str());
}

void RunTuningTest(const char* kind, const CLI::App& cmd, const TuningTestOptions& o) {
  const bool position = std::string(kind) == "position";
  const char* dialog = position ? dialog_names::kPositionTest : dialog_names::kSpeedTest;
  const TuningTestKind& names = position ? kPositionTuningKind : kSpeedTuningKind;
  SetupSession session(ResolveSetup(o.args.setup, o.positional_setup));
  CZel_Setup& setup = session.Setup();
  PrepareSetup(session, names, cmd, o);
  CheckCycles(setup, names, o);

  o.drive.RefuseConditions(o.faults);
  std::shared_ptr<CZel_DriveLink> drive = o.drive.Open(setup);
  if (!drive) {
    auto simulated = dcsim::MakeSimulatedDrive(setup);
    InjectFaults(*simulated, o.faults);
    drive = simulated;
  }
  CZel_CommSession comm(drive);
  ZelHeadlessBackend ui;
  ZelScopedUiBackend installed(ui);
  CZel_Comm::SetClock([&ui] { return ui.NowMs() / 1000.0; });
  struct ClockReset {
    ~ClockReset() { CZel_Comm::SetClock(nullptr); }
  } clock_reset;

  std::unique_ptr<CZel_Dialog> built = ZelCreateDialog(dialog, setup);
  auto* dlg = dynamic_cast<CTuningTestDlg*>(built.get());
  if (!dlg) throw CommandError(kExitFailed, std::string("no test \"") + kind + "\" in this build");
  UserAtTheTest user(*dlg, ui, o);
  ui.Then([&](CZel_Dialog&) { user.Run(names); });
  ui.Then([](CZel_Dialog& top) { top.UserClick(kIdOk); });
  built->DoModal();

  const bool passed = dlg->m_nTestResult == 1 && user.Refusal().empty();
  std::string error = !user.Refusal().empty() ? user.Refusal() : dlg->m_strError;
  int code = user.ParametersRefused() ? kExitBadInput : kExitFailed;
  // Everything is written before the verdict is told, so that the verdict tells it.
  if (passed) {
    try {
      error = user.PictureError().empty() ? SaveRun(o, *dlg, session) : user.PictureError();
    } catch (const CommandError& e) {
      error = e.what();
      code = e.code;
    }
  }
  const bool ok = passed && error.empty();
  PrintVerdict(kind, *dlg, ok, error, user.RunSeconds(), o);
  if (ok && !o.json && !o.out.empty()) std::printf("saved %s\n", o.out.c_str());
  if (!ok) throw AlreadyTold(code);
}
