#pragma once
// The speed and position tuning tests run on the simulated drive of the bundled setup, as a
// user runs them: the "Test" page, Start, and the run left to go on until its verdict.

#include <memory>
#include <string>

#include "sim/simulated_drive.h"
#include "tests/support/test_run.h"

namespace testing_support {

template <class D>
class TuningRunHarness : public TestRunHarness<D> {
 protected:
  using Step = typename TestRunHarness<D>::Step;

  TuningRunHarness() : TestRunHarness<D>(dcsim::MakeSimulatedDrive(*LoadBundledSetup())) {
    drive_ = static_cast<dcsim::SimulatedDrive*>(CZel_Comm::GetLink());
  }

  void Fault(const char* name, double value) {
    std::string error;
    ASSERT_TRUE(drive_->Inject(name, value, error)) << error;
  }
  void Set(const char* name, double value) { this->setup_->SetParameterValueInBaseUnit(name, value); }

  static Step Start() {
    return [](D& d) {
      d.UserSelect(1300, 1);
      ASSERT_EQ(d.GetTabSelection(1300), 1);
      ASSERT_TRUE(d.UserClick(10000)) << d.LastRefusal();
    };
  }
  // A whole run: the steps before Start, Start, then the run until its verdict.
  int RunToVerdict(std::initializer_list<typename TestRunHarness<D>::RunStep> before = {},
                   double limit_ms = 20000.0) {
    D& d = this->Build();
    for (const auto& step : before)
      this->ui_.Then([fn = step.fn](CZel_Dialog& top) { fn(static_cast<D&>(top)); }, step.pump);
    return this->Run({Start(), this->UntilRunEnds(limit_ms)}) * 0 + d.m_nTestResult;
  }

  dcsim::SimulatedDrive* drive_;
};

}  // namespace testing_support
