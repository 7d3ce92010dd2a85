#include "drivetests/test_inertia_dlg.h"

#include <cmath>
#include <vector>

#include "design/dialog_names.h"
#include "host/zel_dialog_registry.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kInertiaTest,
                                          ZelFactoryOf<CTotalInertiaTest>());

constexpr const char* kStatusTexts[] = {"Launching code for J test",
                                        "Waiting J test to be finished"};
constexpr char kNothingMeasured[] =
    "The run ended before the speed change was measured (was it stopped?): nothing was "
    "measured.";

// The program's test_flag gives it without the full stop, delta_time -1 with it.
constexpr char kNegativeSpeed[] =
    "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n\t\tThe current controller is not tuned;\n\t\tThe encoder "
    "signals are reversed;\n\t\tCheck the current controller tuning;\n\t\tUse the test "
    "<<Detect number of lines>> to verify the encoder counting direction;\n\t\tCheck if the "
    "motor nominal current was correctly set.";
constexpr const char kNoSpeed[] =
    "When trying to apply POSITIVE torque to the motor, the measured speed is ZERO, or the "
    "reference torque cannot be reached!\nPossible causes of failure:\n\t\tThe current "
    "controller is not tuned;\n\t\tThe encoder signals are missing;\n\t\tThe DC voltage level "
    "is not high enough;\n\t\tCheck the current controller tuning;\n\t\tUse the encoder <<Test "
    "connections>> to verify presence of the encoder signals\n\t\tCheck if the motor nominal "
    "current was correctly set.\n\t\tTry to decrease the test current.";
constexpr const char kSpeedNotReached[] =
    "The motor does not reach the programmed speed level!\nYou may have a problem with the "
    "encoder or the initial positioning is not performed correctly. Check the encoder and "
    "motor connections. If these are OK, try to increase the test current.";

constexpr char kFrictionUnseen[] =
    "this inertia holds the share of the test torque that friction took; commissioning corrects "
    "it with the friction that the speed test identifies";

}  // namespace

std::string InertiaFailureText(const InertiaRunResults& r) {
  if (r.test_flag <= 0.0) return std::string(kNegativeSpeed, sizeof kNegativeSpeed - 2);
  if (r.delta_time == -1.0) return kNegativeSpeed;
  if (r.delta_time == -2.0) return kNoSpeed;
  if (r.delta_time <= 0.0) return kSpeedNotReached;
  return "";
}

bool InertiaSpeedNotReached(const std::string& failure) { return failure == kSpeedNotReached; }

CTotalInertiaTest::CTotalInertiaTest(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kInertiaTestTemplate, 1, parent) {
  AddParameterControls("Jt", kJtResultEdit, kJtResultUnit);
  AddParameterControls("TestCurrent", kJtTestCurrentEdit, kJtTestCurrentUnit);
  AddParameterControls("TestProtectionCurrent", kJtProtectionEdit, kJtProtectionUnit);
  AddParameterControls("TestMaxSpeed", kJtSpeedEdit, kJtSpeedUnit);
  m_nPhaseCount = 2;
}

CTotalInertiaTest::~CTotalInertiaTest() = default;

std::span<const char* const> CTotalInertiaTest::StatusTexts() const { return kStatusTexts; }

void CTotalInertiaTest::ClearResult() {
  SetChildText(kJtResultEdit, "");
  ListSetCurSel(kJtResultUnit, -1);
}

int CTotalInertiaTest::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  ClearResult();
  old_inertia_ = new_inertia_ = QuietValue("Jt");
  LoadProgram(m_Coff, kInertiaTestProgram);
  SetRunTools({kInertiaTestProgram, &m_Coff, nullptr, nullptr, kCheckAllConditions});
  return 0;
}

void CTotalInertiaTest::BeginTest() {
  ClearResult();
  run_.reset();
  test_current_ = InternalInt32("TestCurrent");
  const TestInput inputs[] = {{"In1", test_current_},
                              {"LimitSpeedMax", InternalInt32("TestMaxSpeed")},
                              {"Imax_Prot_Test", InternalInt32("TestProtectionCurrent")}};
  StartRecord();
  StartRun(inputs);
}

// The speed that the test current builds up, and the current itself, in the units the
// setup shows them.
constexpr const char* kWatchedVariables[] = {"Motor_Speed", "Motor_Current"};

void CTotalInertiaTest::StartRecord() {
  std::vector<WatchedRun::Channel> channels;
  int axis = 1;
  for (const char* name : kWatchedVariables) {
    channels.push_back({name, ShownVariableUnit(m_Setup, name), axis++});
  }
  record_.Start("Total inertia test", channels);
}

void CTotalInertiaTest::OnLook() {
  std::vector<double> look;
  for (const char* name : kWatchedVariables) look.push_back(ReadShownVariable(m_Setup, name));
  record_.Take(look);
}

// The program's own verdict is in its results: only the drive's conditions are checked here.
bool CTotalInertiaTest::CheckRunEnded() { return CheckDriveErrors(1, kCheckAllConditions); }

bool CTotalInertiaTest::ReadResults(InertiaRunResults& r) {
  return GetUserVariableValue(&m_Coff, "test_flag", r.test_flag, m_strError) &&
         GetUserVariableValue(&m_Coff, "delta_time", r.delta_time, m_strError) &&
         GetUserVariableValue(&m_Coff, "delta_speed", r.delta_speed, m_strError);
}

void CTotalInertiaTest::OnProgramEnded() {
  InertiaRunResults r;
  if (!ReadResults(r)) {
    TestFailed(1);
    return;
  }
  if (const std::string failure = InertiaFailureText(r); !failure.empty()) {
    m_strError = failure;
    TestFailed(1);
    return;
  }
  const double j = MotorSpeedScale(m_Setup) * QuietValue("K") * test_current_ * r.delta_time *
                   SlowLoopPeriod(m_Setup) / (CurrentScale(m_Setup) * r.delta_speed);
  // A result the program has not produced (a run stopped early), or one that no motor has,
  // is no measurement.
  if (r.delta_time == kUnsetValue || r.delta_speed == kUnsetValue || !std::isfinite(j) ||
      j <= 0.0) {
    m_strError = kNothingMeasured;
    TestFailed(1);
    return;
  }
  if (!HasParameter("Jt")) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  run_ = RunOf(r);
  m_Setup.SetParameterValueInBaseUnit("Jt", j);
  new_inertia_ = m_Setup.GetParameterValueInBaseUnit("Jt");
  RefreshAllParameters(0);
  TestSucceeded(1);
}

// The program times the speed from 20 % of the limit up to 80 %; its windowed speeds count
// whole encoder counts over the window.
InertiaRun CTotalInertiaTest::RunOf(const InertiaRunResults& r) {
  const double speed_scale = MotorSpeedScale(m_Setup);
  const double limit = InternalInt32("TestMaxSpeed");
  InertiaRun run;
  run.torque_Nm = QuietValue("K") * test_current_ / CurrentScale(m_Setup);
  run.speed_gain_rad_s = r.delta_speed / speed_scale;
  run.time_s = r.delta_time * SlowLoopPeriod(m_Setup);
  run.mean_speed_rad_s = (0.2 * limit + 0.5 * r.delta_speed) / speed_scale;
  run.speed_quantum_rad_s = 1.0 / (kInertiaSpeedWindow * std::abs(speed_scale));
  return run;
}

void CTotalInertiaTest::OnCancel() {
  CloseOfferingToKeep("Total inertia", "Jt", "%g", old_inertia_, new_inertia_);
}

void CTotalInertiaTest::OnOK() {
  CMyTestDlg::OnOK();
  m_Setup.SetParameterValueInBaseUnit("Imax_Prot",
                                      m_Setup.GetParameterValueInBaseUnit("TestProtectionCurrent"));
}

void CTotalInertiaTest::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  if (m_nTestResult != 1) return;
  report.results.push_back({"Jt", new_inertia_, "kgm^2"});
  if (run_) {
    report.identified.push_back({"Jt", run_->Raw(), "kgm^2", run_->Confidence()});
    report.warnings.emplace_back(kFrictionUnseen);
  }
}

}  // namespace dcservo
