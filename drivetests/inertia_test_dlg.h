#pragma once
// "Total inertia test": a constant current accelerates the motor and the drive times the
// speed it gains; from the torque, the time and the speed gained the test computes the
// total inertia at the motor shaft and offers, on closing, to keep it as the setup's Jt.

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "drivetests/identification.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/watched_run.h"
#include "host/zel_coff.h"

namespace dcservo {

inline constexpr unsigned kInertiaTestTemplate = 3041;
inline constexpr unsigned kInertiaTestHelpContext = 262417;
// The program's speeds are position differences over this many slow samples.
inline constexpr double kInertiaSpeedWindow = 15.0;

enum InertiaTestControl : int {
  kJtFrame = 3720,  // the frame's ids, 3720..3729
  kJtParametersBox = 3730,
  kJtTestCurrentEdit,
  kJtTestCurrentUnit,
  kJtTestCurrentNote,
  kJtProtectionEdit,
  kJtProtectionUnit,
  kJtProtectionNote,
  kJtSpeedEdit,
  kJtSpeedUnit,
  kJtSpeedNote,
  kJtResultEdit,
  kJtResultUnit,
  kJtStoredNote,  // which inertia is stored, when it is not the one shown
};

// What the program reports after a run: delta_time in slow-loop samples (0 or below: a
// failure code), delta_speed in internal speed units.
struct InertiaRunResults {
  double test_flag = 0.0;
  double delta_time = 0.0;
  double delta_speed = 0.0;
};

// The failure text for the program's results; empty when they are a measurement.
std::string InertiaFailureText(const InertiaRunResults& r);
// Whether a run's failure text says the motor turned but did not reach the speed to time in
// the program's time: a heavy load or friction that leaves the test current little torque.
bool InertiaSpeedNotReached(const std::string& failure);

class CTotalInertiaTest : public CMyTestDlg {
 public:
  CTotalInertiaTest(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CTotalInertiaTest() override;

  int OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void BeginTest() override;
  void DescribeRun(TestRunReport& report) const override;
  // What the last run measured; nothing until a run succeeded.
  const std::optional<InertiaRun>& GetRun() const { return run_; }
  // The inertia with the friction that the coast after the run showed taken off, which is
  // what the test stores; nothing when the coast could not be read.
  const std::optional<InertiaWithFriction>& GetCorrected() const { return corrected_; }
  // The inertia of the documented formula from the last run; NaN before one.
  double GetFormulaInertia() const { return formula_inertia_; }
  CGraphWindow* GetRunGraph() const override { return record_.Graph(); }

 protected:
  void OnLook() override;
  std::span<const char* const> StatusTexts() const override;
  bool CheckRunEnded() override;
  void OnProgramEnded() override;
  void OnTimer(unsigned id) override;
  void OnChangedParameterUnit(const std::string& name) override;

 private:
  void ClearResult();
  void StartRecord();
  bool ReadResults(InertiaRunResults& r);
  InertiaRun RunOf(const InertiaRunResults& r);
  // After the program: the shaft coasts with the drive off, and its position at each look
  // tells how friction slows it.
  void StartCoast();
  void LookAtCoast();
  bool CoastDone() const;
  void StoreResult();
  void ShowFormulaResult();

  CZel_CoffFormat m_Coff;
  double test_current_ = 0.0;  // In1 as sent: internal units, truncated
  double old_inertia_ = 0.0;
  double new_inertia_ = 0.0;
  std::optional<InertiaRun> run_;
  std::optional<InertiaWithFriction> corrected_;
  double formula_inertia_ = NAN;
  double inertia_step_ = 0.0;  // kgm^2: one count of the time or the speed measured
  bool coasting_ = false;
  double coast_start_s_ = 0.0, counts_per_rad_ = 0.0;
  std::vector<double> coast_time_s_, coast_position_rad_;
  mutable WatchedRun record_;  // the motor's speed and current at each look at the run
};

}  // namespace dcservo
