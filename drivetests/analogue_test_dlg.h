#pragma once
// "Analogue Reference Test": with a potentiometer on the analogue reference input, the
// dialog shows every 20 ms the input voltage and the command that it means for the control
// mode (position, speed or current), each as a number and as a bar. The user judges them;
// Stop ends the run as a success.

#include <string>

#include "drivetests/my_test_dlg.h"
#include "host/zel_indicators.h"

namespace dcservo {

inline constexpr unsigned kAnalogueTestTemplate = 3051;
inline constexpr unsigned kAnalogueTestHelpContext = 262404;
// AD5 is left-aligned in 16 bits: this is its full scale.
inline constexpr double kAd5FullScale = 65472.0;

enum AnalogueTestControl : int {
  kAnFrame = 3770,  // the frame's ids, 3770..3779
  kAnBox = 3780,
  kAnVoltageEdit = 3782,  // its number kept: scripts name controls by id
  kAnVoltageUnit,
  kAnVoltageBar,
  kAnCommandLabel,
  kAnCommandEdit,
  kAnCommandUnit,
  kAnCommandBar,
};

// A range of the bars, lo .. hi.
struct BarRange {
  double lo = 0.0, hi = 0.0;
  // Where a bar over this range grows from: 0 when the range holds it, else its lower end.
  double Reference() const { return lo > 0.0 || hi < 0.0 ? lo : 0.0; }
  // The value of a converter reading on this range, to two decimals.
  double At(double ad5) const;
};

class CTestAnalogueRef : public CMyTestDlg {
 public:
  CTestAnalogueRef(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CTestAnalogueRef() override;

  int OnInitDialog() override;
  void BeginTest() override;
  void DescribeRun(TestRunReport& report) const override;

  const CBarGraph& GetVoltageBar() const { return m_VoltageBar; }
  const CBarGraph& GetCommandBar() const { return m_CommandBar; }

 protected:
  std::span<const char* const> StatusTexts() const override;
  void OnTimer(unsigned id) override;

 private:
  void SetRangesFromSetup();
  static void SetBar(CBarGraph& bar, const BarRange& range, double value);

  CBarGraph m_VoltageBar, m_CommandBar;
  BarRange voltage_, command_;
  std::string command_label_;
  double last_voltage_ = 0.0, last_command_ = 0.0;
  std::string command_unit_;  // the unit the command is shown in
};

}  // namespace dcservo
