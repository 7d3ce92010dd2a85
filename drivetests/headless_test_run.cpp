#include "drivetests/headless_test_run.h"

#include "drivetests/my_test_dlg.h"
#include "host/zel_headless.h"

namespace dcservo {

namespace {
constexpr double kTick_ms = 20.0;
}  // namespace

std::string RunTestHeadless(CMyTestDlg& test, ZelHeadlessBackend& ui, bool tune) {
  const std::size_t boxes = ui.Messages().size();
  const int tab = test.GetTestTabControl();
  if (tab && !test.UserSelect(tab, kTestPage)) return test.LastRefusal();
  if (tab && test.GetTabSelection(tab) != kTestPage)
    return ui.Messages().size() > boxes ? ui.Messages().back().text
                                        : "the \"Test\" page did not open";
  if (tune && test.GetTuneButton() && !test.UserClick(test.GetTuneButton()))
    return test.LastRefusal();
  if (!test.UserClick(kIdcTestStartStop)) return test.LastRefusal();
  const double end = ui.NowMs() + kHeadlessRunLimit_ms;
  while (test.m_bTestRunning && ui.NowMs() < end) ui.Advance(kTick_ms);
  if (test.m_bTestRunning) test.UserClick(kIdcTestStartStop);
  return {};
}

}  // namespace dcservo
