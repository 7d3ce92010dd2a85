#pragma once
// The two drives a test dialog runs on in the tests of the drive: a fake drive whose every
// answer the case sets, and the simulated drive with its faults.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_drive.h"
#include "tests/support/fake_drive.h"
#include "tests/support/test_run.h"

namespace testing_support {

template <class D>
class FakeDriveRun : public TestRunHarness<D> {
 protected:
  using Base = TestRunHarness<D>;
  using Step = typename Base::Step;
  FakeDriveRun(const char* program, std::vector<ZelProgramVariable> variables)
      : Base([=](CZel_Setup&) { return FakeDrive::For(program, variables); }),
        drive_(static_cast<FakeDrive*>(CZel_Comm::GetLink())) {}
  Step Drive(std::function<void(FakeDrive&)> change) {
    return [this, change](D&) { change(*drive_); };
  }
  // Start, the program starts, and it ends with these results.
  std::vector<typename Base::RunStep> RunEndingWith(std::function<void(FakeDrive&)> results) {
    return {Base::Click(kIdcTestStartStop), Drive([](FakeDrive& f) { f.Started(); }),
            Base::Wait(40), Drive([results](FakeDrive& f) {
              f.Ended(1.0);
              results(f);
            }),
            Base::Wait(20)};
  }
  template <class... S>
  static std::vector<typename Base::RunStep> Then(std::vector<typename Base::RunStep> steps,
                                                  S... more) {
    (steps.push_back(more), ...);
    return steps;
  }
  FakeDrive* drive_;
};

template <class D>
class SimulatedRun : public TestRunHarness<D> {
 protected:
  // `prepare` changes the setup the drive's motor and load are built from.
  explicit SimulatedRun(std::function<void(CZel_Setup&)> prepare = {})
      : TestRunHarness<D>([prepare](CZel_Setup& setup) {
          if (prepare) prepare(setup);
          return dcsim::MakeSimulatedDrive(setup);
        }),
        drive_(std::static_pointer_cast<dcsim::SimulatedDrive>(CZel_Comm::GetSharedLink())) {}
  void Fault(const char* name, double value) {
    std::string error;
    ASSERT_TRUE(drive_->Inject(name, value, error)) << error;
  }
  // A hand on the shaft or the potentiometer, `at_s` seconds into the drive's time.
  void Act(const char* name, double value, double at_s) {
    std::string error;
    ASSERT_TRUE(drive_->Schedule(at_s, name, value, error)) << error;
  }
  // Start, and the run until its verdict, which must be a success.
  int RunToSuccess() {
    return this->Run({this->Click(kIdcTestStartStop), this->UntilRunEnds(),
                      this->Check([](D& d) { EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError; }),
                      this->Close(), this->Answer(kIdYes)},
                     this->kStepsClose);
  }
  std::shared_ptr<dcsim::SimulatedDrive> drive_;
};

}  // namespace testing_support
