#pragma once
// A test dialog run headless as a user runs it: the "Test" page, Tune when asked, Start, and
// the run watched every 20 ms of the virtual clock until its verdict. The command line's
// `test` and the commissioning share it, so that both press the same buttons.

#include <string>

class ZelHeadlessBackend;

namespace dcservo {

class CMyTestDlg;

// A run that has not ended after this much drive time is stopped.
inline constexpr double kHeadlessRunLimit_ms = 60000.0;

// Empty when the run went to its verdict (in test.m_nTestResult), else why it could not
// start: the test's refusal of the page or of a button.
std::string RunTestHeadless(CMyTestDlg& test, ZelHeadlessBackend& ui, bool tune);

}  // namespace dcservo
