#include "drivetests/inertia_test_dlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_format.h"
#include "host/zel_names.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"
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
    "the coast after the run could not be read: this inertia holds the share of the test "
    "torque that friction took; commissioning corrects it with the friction that the speed "
    "test identifies";
constexpr char kCoasting[] = "Measuring the friction while the motor coasts";

// The coast is read down to the speed at which the program began timing, and no longer than
// it takes friction of a quarter of the test torque to bring the shaft there (three times the
// run), nor than a look or two past a short run.
constexpr double kCoastRunTimes = 3.0;
constexpr double kShortestCoast_s = 0.1;
constexpr double kLongestCoast_s = 3.0;

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
  m_nPhaseCount = 2;
}

CTotalInertiaTest::~CTotalInertiaTest() = default;

std::span<const char* const> CTotalInertiaTest::StatusTexts() const { return kStatusTexts; }

void CTotalInertiaTest::ClearResult() {
  SetChildText(kJtResultEdit, "");
  SetChildText(kJtStoredNote, "");
  ListSetCurSel(kJtResultUnit, -1);
}

int CTotalInertiaTest::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  ClearResult();
  old_inertia_ = new_inertia_ = QuietValue(param::Jt);
  LoadProgram(m_Coff, drive_program::Total_Inertia_Identification_Test);
  SetRunTools({drive_program::Total_Inertia_Identification_Test, &m_Coff, nullptr, nullptr,
               kCheckAllConditions});
  return 0;
}

void CTotalInertiaTest::BeginTest() {
  ClearResult();
  run_.reset();
  corrected_.reset();
  formula_inertia_ = NAN;
  inertia_step_ = 0.0;
  coasting_ = false;
  test_current_ = InternalInt32(param::TestCurrent);
  const TestInput inputs[] = {
      {program::In1, test_current_},
      {program::LimitSpeedMax, InternalInt32(param::TestMaxSpeed)},
      {program::Imax_Prot_Test, InternalInt32(param::TestProtectionCurrent)}};
  StartRecord();
  StartRun(inputs);
}

// The speed that the test current builds up, the current itself, and the voltage that holds
// it (which tells a shaft that turns unseen from a held one), in the units the setup shows
// them.
constexpr const char* kWatchedVariables[] = {var::Motor_Speed, var::Motor_Current,
                                             var::Voltage_Reference};

void CTotalInertiaTest::StartRecord() {
  std::vector<WatchedRun::Channel> channels;
  int axis = 1;
  for (const char* name : kWatchedVariables) {
    channels.push_back({name, ShownVariableUnit(m_Setup, name), std::min(axis++, 2)});
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
  return GetUserVariableValue(&m_Coff, program::test_flag, r.test_flag, m_strError) &&
         GetUserVariableValue(&m_Coff, program::delta_time, r.delta_time, m_strError) &&
         GetUserVariableValue(&m_Coff, program::delta_speed, r.delta_speed, m_strError);
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
  const double j = MotorSpeedScale(m_Setup) * QuietValue(param::K) * test_current_ * r.delta_time *
                   SlowLoopPeriod(m_Setup) / (CurrentScale(m_Setup) * r.delta_speed);
  // A result the program has not produced (a run stopped early), or one that no motor has,
  // is no measurement.
  if (r.delta_time == kUnsetValue || r.delta_speed == kUnsetValue || !std::isfinite(j) ||
      j <= 0.0) {
    m_strError = kNothingMeasured;
    TestFailed(1);
    return;
  }
  if (!HasParameter(param::Jt)) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  run_ = RunOf(r);
  formula_inertia_ = j;
  // The program counts whole samples of time, and speeds in whole encoder counts over its
  // window: one count of either is all the precision the inertia carries.
  inertia_step_ = j * std::max(1.0 / std::abs(r.delta_time),
                               1.0 / (kInertiaSpeedWindow * std::abs(r.delta_speed)));
  StartCoast();
}

void CTotalInertiaTest::StartCoast() {
  coasting_ = true;
  coast_time_s_.clear();
  coast_position_rad_.clear();
  counts_per_rad_ = MotorPositionScale(m_Setup);
  coast_start_s_ = CZel_Comm::DriveTime();
  SetInfoText(kCoasting);
  LookAtCoast();
}

void CTotalInertiaTest::OnTimer(unsigned id) {
  if (!coasting_ || id != kRunTimer || !m_bTestRunning) {
    coasting_ = coasting_ && m_bTestRunning;
    CMyTestDlg::OnTimer(id);
    return;
  }
  KillTimer(kRunTimer);
  LookAtCoast();
}

// A position that cannot be read ends the coast: the inertia is stored as the formula gives
// it, with the friction left in.
void CTotalInertiaTest::LookAtCoast() {
  OnLook();
  CZel_Variable* position = nullptr;
  {
    position = m_Setup.FindVariable(var::Motor_Position, 0);
    if (position && !position->ReadFromChip()) position = nullptr;
  }
  if (position && counts_per_rad_ != 0.0) {
    coast_time_s_.push_back(CZel_Comm::DriveTime());
    coast_position_rad_.push_back(position->GetValueInInternalUnit() / counts_per_rad_);
  }
  if (!position || CoastDone()) {
    StoreResult();
    return;
  }
  RestartRunTimer();
}

bool CTotalInertiaTest::CoastDone() const {
  const double elapsed = CZel_Comm::DriveTime() - coast_start_s_;
  const double longest =
      std::clamp(kCoastRunTimes * run_->time_s, kShortestCoast_s, kLongestCoast_s);
  if (elapsed >= longest) return true;
  const std::size_t n = coast_time_s_.size();
  if (n < 2) return false;
  const double dt = coast_time_s_[n - 1] - coast_time_s_[n - 2];
  const double speed = (coast_position_rad_[n - 1] - coast_position_rad_[n - 2]) / dt;
  return dt > 0.0 && std::abs(speed) <= run_->timed_from_rad_s;
}

void CTotalInertiaTest::StoreResult() {
  coasting_ = false;
  // The last look may have found the shaft stopped part of the way: it is no coast.
  std::size_t n = coast_time_s_.size();
  if (n >= 2) --n;
  std::optional<CoastFit> coast =
      CoastDeceleration(std::span(coast_time_s_).first(n), std::span(coast_position_rad_).first(n));
  corrected_.reset();
  if (coast) corrected_ = InertiaFromCoast(*run_, *coast);
  m_Setup.SetParameterValueInBaseUnit(param::Jt,
                                      corrected_ ? corrected_->inertia : formula_inertia_);
  new_inertia_ = m_Setup.GetParameterValueInBaseUnit(param::Jt);
  RefreshAllParameters(0);
  ShowFormulaResult();
  TestSucceeded(1);
}

// The result field shows the documented formula's inertia; the note below it says what is
// stored when friction made the two differ.
void CTotalInertiaTest::ShowFormulaResult() {
  if (std::isnan(formula_inertia_)) return;
  if (CZel_Parameter* jt = m_Setup.FindParameter(param::Jt)) {
    const CZel_Unit& unit = jt->GetSelectedUnit();
    SetChildText(kJtResultEdit, ZelFormatValue(unit.FromBase(formula_inertia_),
                                               inertia_step_ / std::abs(unit.GetFactorToBase())));
  }
  std::string note;
  if (corrected_ && new_inertia_ != formula_inertia_) {
    char text[240];
    std::snprintf(text, sizeof text,
                  "Stored: Jt = %s kgm^2, the friction torque of %.3g Nm that the coast after the "
                  "run showed taken off the test torque",
                  ZelFormatValue(new_inertia_, inertia_step_).c_str(), corrected_->friction_Nm);
    note = text;
  } else if (!corrected_) {
    note = "Stored: Jt as shown (the coast after the run could not be read)";
  }
  SetChildText(kJtStoredNote, note);
}

void CTotalInertiaTest::OnChangedParameterUnit(const std::string& name) {
  CMyTestDlg::OnChangedParameterUnit(name);
  if (zel::NamesEqual(name, param::Jt)) ShowFormulaResult();
}

// The program times the speed from 20 % of the limit up to 80 %; its windowed speeds count
// whole encoder counts over the window.
InertiaRun CTotalInertiaTest::RunOf(const InertiaRunResults& r) {
  const double speed_scale = MotorSpeedScale(m_Setup);
  const double limit = InternalInt32(param::TestMaxSpeed);
  InertiaRun run;
  run.torque_Nm = QuietValue(param::K) * test_current_ / CurrentScale(m_Setup);
  run.speed_gain_rad_s = r.delta_speed / speed_scale;
  run.time_s = r.delta_time * SlowLoopPeriod(m_Setup);
  run.mean_speed_rad_s = (0.2 * limit + 0.5 * r.delta_speed) / speed_scale;
  run.speed_quantum_rad_s = 1.0 / (kInertiaSpeedWindow * std::abs(speed_scale));
  run.timed_from_rad_s = std::abs(0.2 * limit / speed_scale);
  return run;
}

void CTotalInertiaTest::OnCancel() {
  CloseOfferingToKeep("Total inertia", param::Jt, "%g", old_inertia_, new_inertia_);
}

void CTotalInertiaTest::OnOK() {
  CMyTestDlg::OnOK();
  m_Setup.SetParameterValueInBaseUnit(
      param::Imax_Prot, m_Setup.GetParameterValueInBaseUnit(param::TestProtectionCurrent));
}

void CTotalInertiaTest::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  if (m_nTestResult != 1) return;
  report.results.push_back({param::Jt, new_inertia_, "kgm^2", inertia_step_});
  if (corrected_) {
    report.results.push_back({"Jt_formula", formula_inertia_, "kgm^2", inertia_step_});
    report.identified.push_back({param::Jt, corrected_->inertia, "kgm^2", corrected_->confidence});
    report.identified.push_back(
        {"friction_torque", corrected_->friction_Nm, "Nm", corrected_->confidence});
  } else if (run_) {
    report.identified.push_back({param::Jt, run_->Raw(), "kgm^2", run_->Confidence()});
    report.warnings.emplace_back(kFrictionUnseen);
  }
}

}  // namespace dcservo
