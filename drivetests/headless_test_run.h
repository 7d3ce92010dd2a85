#pragma once
// A test dialog run headless as a user runs it: the "Test" page, Tune when asked, Start, and
// the run watched every 20 ms of the virtual clock until its verdict, or until Stop. The
// command line's `test` and the commissioning share it, so that both press the same buttons.

#include <string>

class ZelHeadlessBackend;

namespace dcservo {

class CMyTestDlg;

// Empty when the run went to its verdict (in test.m_nTestResult), else why it could not
// start: the test's refusal of the page or of a button, or the message with which it
// declined to start. A run still going after `limit_s` of drive time is stopped.
std::string RunTestHeadless(CMyTestDlg& test, ZelHeadlessBackend& ui, bool tune,
                            double limit_s);

}  // namespace dcservo
