#include "drivetests/headless_test_run.h"

#include "drivetests/my_test_dlg.h"
#include "host/zel_headless.h"

namespace dcservo {

namespace {
constexpr double kTick_ms = 20.0;
// After Stop, the drive time a test may take for its verdict.
constexpr double kStopGrace_ms = 200.0;
}  // namespace

std::string RunTestHeadless(CMyTestDlg& test, ZelHeadlessBackend& ui, bool tune,
                            double limit_s) {
  const std::size_t boxes = ui.Messages().size();
  const int tab = test.GetTestTabControl();
  if (tab && !test.UserSelect(tab, kTestPage)) return test.LastRefusal();
  if (tab && test.GetTabSelection(tab) != kTestPage)
    return ui.Messages().size() > boxes ? ui.Messages().back().text
                                        : "the \"Test\" page did not open";
  if (tune && test.GetTuneButton() && !test.UserClick(test.GetTuneButton()))
    return test.LastRefusal();
  const std::size_t boxes_before_start = ui.Messages().size();
  if (!test.UserClick(kIdcTestStartStop)) return test.LastRefusal();
  // A test that refuses to start says why in a message of its own.
  if (!test.m_bTestRunning && test.m_strError.empty() &&
      ui.Messages().size() > boxes_before_start)
    return ui.Messages().back().text;
  const double end = ui.NowMs() + 1000.0 * limit_s;
  while (test.m_bTestRunning && ui.NowMs() < end) ui.Advance(kTick_ms);
  if (!test.m_bTestRunning) return {};
  test.UserClick(kIdcTestStartStop);
  const double grace = ui.NowMs() + kStopGrace_ms;
  while (test.m_bTestRunning && ui.NowMs() < grace) ui.Advance(kTick_ms);
  return {};
}

}  // namespace dcservo
