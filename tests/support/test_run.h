#pragma once
// A test dialog run as a user runs it: modal on the headless backend, the bundled drive's
// setup, a drive link attached whose time follows the backend's virtual clock, and steps that
// click, select, wait and check in the dialog's own loop. Every test of the drive uses it.

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "host/zel_test_dlg.h"
#include "tests/support/test_setups.h"

namespace testing_support {

template <class D>
class TestRunHarness : public ::testing::Test {
 protected:
  using Step = std::function<void(D&)>;
  // A step of a run; with `pump` a long loop's message pump takes it, as a click that
  // arrives during an upload.
  struct RunStep {
    template <class F>
    RunStep(F f, bool during_pump = false) : fn(std::move(f)), pump(during_pump) {}
    Step fn;
    bool pump;
    int answer = 0;  // an answer to the next message box instead of an action
  };
  // Run's `close` for steps that end the dialog themselves.
  static constexpr int kStepsClose = -1;

  using DriveFactory = std::function<std::shared_ptr<CZel_DriveLink>(CZel_Setup& setup)>;
  explicit TestRunHarness(const DriveFactory& make_drive)
      : installed_(ui_), setup_(LoadBundledSetup()), comm_(make_drive(*setup_)) {
    CZel_Comm::SetClock([this] { return ui_.NowMs() / 1000.0; });
  }
  ~TestRunHarness() override { CZel_Comm::SetClock(nullptr); }

  D& Build() {
    if (!dlg_) dlg_ = std::make_unique<D>(*setup_, nullptr);
    return *dlg_;
  }
  // Runs the dialog modally: the steps in order, then the dialog is closed with `close`.
  // The dialog's result.
  int Run(const std::vector<RunStep>& steps, int close = kIdCancel) {
    D& dlg = Build();
    for (const RunStep& step : steps) {
      if (step.answer) ui_.ThenAnswer(step.answer);
      else ui_.Then([fn = step.fn](CZel_Dialog& top) { fn(static_cast<D&>(top)); }, step.pump);
    }
    if (close != kStepsClose) {
      ui_.Then([close](CZel_Dialog& top) {
        if (close == kIdOk) top.UserClick(kIdOk);
        else top.UserClose();
      });
    }
    const int result = dlg.DoModal();
    EXPECT_TRUE(ui_.Errors().empty()) << ui_.Errors().front();
    return result;
  }

  double Get(const char* name) const { return setup_->GetParameterValueInBaseUnit(name); }
  void Set(const char* name, double value) { setup_->SetParameterValueInBaseUnit(name, value); }

  static Step Click(int id) {
    return [id](D& d) { ASSERT_TRUE(d.UserClick(id)) << d.LastRefusal(); };
  }
  static Step Select(int tab, int page) {
    return [tab, page](D& d) { d.UserSelect(tab, page); };
  }
  static Step Type(int id, std::string text) {
    return [id, text](D& d) { ASSERT_TRUE(d.UserEdit(id, text)) << d.LastRefusal(); };
  }
  Step Wait(double ms) {
    return [this, ms](D&) { ui_.Advance(ms); };
  }
  // Lets the run go on, 20 ms at a time, until it has a verdict, `done` holds or `limit_ms`
  // have passed.
  Step UntilRunEnds(double limit_ms = 20000.0, std::function<bool(D&)> done = {}) {
    return [this, limit_ms, done](D& d) {
      const double end = ui_.NowMs() + limit_ms;
      while (d.m_bTestRunning && !(done && done(d)) && ui_.NowMs() < end) ui_.Advance(20.0);
    };
  }
  static Step Check(Step check) { return check; }
  static Step Close() {
    return [](D& d) { d.UserClose(); };
  }
  static RunStep Answer(int answer) {
    RunStep step([](D&) {});
    step.answer = answer;
    return step;
  }
  static RunStep DuringPump(Step step) { return RunStep(std::move(step), true); }

  ZelHeadlessBackend ui_;
  ZelScopedUiBackend installed_;
  std::unique_ptr<CZel_Setup> setup_;
  CZel_CommSession comm_;
  std::unique_ptr<D> dlg_;
};

}  // namespace testing_support
