#pragma once
// The speed and position tuning tests run on the simulated drive of the bundled setup, as a
// user runs them: the "Test" page, Start, and the run left to go on until its verdict.

#include <initializer_list>

#include "tests/support/test_runs.h"

namespace testing_support {

// The tab of the tuning tests' templates.
inline constexpr int kTab = 1300;

template <class D>
class TuningRunHarness : public SimulatedRun<D> {
 protected:
  using Step = typename SimulatedRun<D>::Step;
  using SimulatedRun<D>::SimulatedRun;

  static Step TestPage() {
    return [](D& d) {
      d.UserSelect(kTab, kTestPage);
      ASSERT_EQ(d.GetTabSelection(kTab), kTestPage);
    };
  }
  static Step Start() {
    return [](D& d) {
      d.UserSelect(kTab, kTestPage);
      ASSERT_TRUE(d.UserClick(kIdcTestStartStop)) << d.LastRefusal();
    };
  }
  // A whole run: the "Test" page, the steps given there, Start, then the run until its
  // verdict. The verdict.
  int RunToVerdict(std::initializer_list<Step> on_test_page = {}, double limit_ms = 20000.0) {
    D& d = this->Build();
    this->ui_.Then([](CZel_Dialog& top) { TestPage()(static_cast<D&>(top)); });
    for (const Step& step : on_test_page)
      this->ui_.Then([step](CZel_Dialog& top) { step(static_cast<D&>(top)); });
    this->Run({Start(), this->UntilRunEnds(limit_ms)});
    return d.m_nTestResult;
  }
};

}  // namespace testing_support
