#pragma once
// The commissioning run's own work, apart from the plan of steps (commissioning.cpp): one step
// through its dialog and what every step needs around it (commissioning_step_run.cpp), and what
// a step adds to its run, each step in a file of its own (commissioning_<step>.cpp).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "design/drive_model.h"
#include "drivetests/commissioning.h"
#include "host/zel_setup.h"

class ZelHeadlessBackend;

namespace dcservo::commissioning {

// The values a step may change, to put back when it fails.
class SetupSnapshot {
 public:
  explicit SetupSnapshot(const CZel_Setup& setup) : options_(setup.GetOptions()) {
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) values_.push_back(ps[i]->GetValueInInternalUnit());
  }
  void Restore(CZel_Setup& setup) const {
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) {
      if (ps[i]->GetValueInInternalUnit() != values_[i]) ps[i]->SetValueInInternalUnit(values_[i]);
    }
    for (const auto& [name, text] : setup.GetOptions()) {
      if (!Find(name)) setup.ClearOption(name);
    }
    for (const auto& [name, text] : options_) setup.SetOption(name, text);
  }
  // The parameters whose value differs in `setup`, in the units the user sees.
  std::vector<ParameterChange> ChangesIn(const CZel_Setup& setup) const {
    std::vector<ParameterChange> changes;
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) {
      const CZel_Parameter& p = *ps[i];
      if (p.GetValueInInternalUnit() == values_[i]) continue;
      const CZel_Unit& unit = p.GetSelectedUnit();
      // The value before, in base units through today's scale: a scale that a step changed
      // (a new supply voltage) would otherwise show a changed value for an unchanged one.
      const double before_base =
          (values_[i] + p.ScaleOffset()) * p.ScaleFactor();
      const double after_base = p.GetValueInBaseUnit();
      // Rounding in the derivation is no change a user made.
      if (std::abs(after_base - before_base) <= 1e-9 * std::abs(before_base)) continue;
      changes.push_back({p.GetName(), unit.GetName(), unit.FromBase(before_base),
                         unit.FromBase(after_base)});
    }
    return changes;
  }

 private:
  const std::string* Find(const std::string& name) const {
    for (const auto& [n, text] : options_) {
      if (n == name) return &text;
    }
    return nullptr;
  }
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<double> values_;
};

// ---- commissioning_step_run.cpp

StepOutcome RunStep(const CommissioningStep& step, CZel_Setup& setup, ZelHeadlessBackend& ui);
std::string WaitForRest(CZel_Setup& setup, ZelHeadlessBackend& ui);
void DownloadSetup(const CZel_Setup& setup);
void RetuneAndDownload(CZel_Setup& setup);
StepOutcome StepNotRun(const CommissioningStep& step, std::string why);

// ---- commissioning_current.cpp

std::optional<StepOutcome> RerunCurrentStep(const CommissioningStep& step, CZel_Setup& setup,
                                            ZelHeadlessBackend& ui, const SetupSnapshot& before,
                                            const StepOutcome& first);

// ---- commissioning_inertia.cpp

std::optional<StepOutcome> RerunInertiaStep(const CommissioningStep& step, CZel_Setup& setup,
                                            ZelHeadlessBackend& ui, const StepOutcome& first);

// ---- commissioning_frequency.cpp

// The plant measured with the drive's frequency response program and a two-mass model fitted
// to it; a confident fit opens `measured` for the steps after it. A drive without the program
// passes the step with a note that it was skipped. `status` is told the frequencies done.
StepOutcome MeasureFrequencyStep(const CommissioningStep& step, CZel_Setup& setup,
                                 ZelHeadlessBackend& ui,
                                 std::optional<MeasuredCouplingScope>& measured,
                                 const std::function<void(const std::string&)>& status);
// Before the speed step: where the coupling measured leaves the speed loop, as the tuner
// proposes it, below the margins it advises, a notch at its resonance, placed as the filters
// dialog places one. The step's note, or nothing.
std::optional<std::string> NotchTheMeasuredCoupling(CZel_Setup& setup);

// ---- commissioning_speed.cpp

const FrictionFit* LastFriction(const std::vector<StepOutcome>& steps);
std::optional<std::string> FitRampsToCurrentLimit(CZel_Setup& setup, const FrictionFit* friction);
std::optional<std::string> TakeSpeedLoopProposal(CZel_Setup& setup);
std::optional<std::string> FrictionAtASecondSpeed(const CommissioningStep& step,
                                                  CZel_Setup& setup, ZelHeadlessBackend& ui,
                                                  StepOutcome& first);
// The speed loop tuned afresh from the setup as it now stands (the tuner's proposal taken
// first) and the step run again once the shaft is at rest.
struct SecondRun {
  StepOutcome outcome;
  bool ran = false;  // false: the shaft did not come to rest, and `outcome` says so
  std::optional<std::string> proposal;
};

SecondRun RetuneAndRunAgain(const CommissioningStep& step, CZel_Setup& setup,
                            ZelHeadlessBackend& ui);
std::optional<StepOutcome> RerunSpeedStep(const CommissioningStep& step, CZel_Setup& setup,
                                          ZelHeadlessBackend& ui, const SetupSnapshot& before,
                                          const std::vector<StepOutcome>& steps);

// ---- commissioning_resonance.cpp: the speed step's look for a resonance and its notch

ResonanceRun LookForResonance(const CommissioningStep& step, CZel_Setup& setup,
                              ZelHeadlessBackend& ui, double asked_rad_s);
std::string LookNote(const ResonanceRun& look);
std::optional<StepOutcome> NotchTheResonance(const CommissioningStep& step, CZel_Setup& setup,
                                             ZelHeadlessBackend& ui, StepOutcome& without);

// ---- commissioning_position.cpp

std::optional<std::string> KeepPositionBelowSpeedLoop(CZel_Setup& setup);

}  // namespace dcservo::commissioning
