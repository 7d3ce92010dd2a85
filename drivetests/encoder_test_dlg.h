#pragma once
// "Encoder Connections Test": the user turns the shaft by hand while the dialog shows the
// drive's position counter and an encoder disc that turns with it; Stop passes the test when
// the counter has moved forwards, which needs both encoder channels the right way round.

#include <optional>

#include "drivetests/my_test_dlg.h"
#include "host/zel_indicators.h"

namespace dcservo {

inline constexpr unsigned kEncoderTestTemplate = 3050;
inline constexpr unsigned kEncoderTestHelpContext = 262413;

enum EncoderTestControl : int {
  kEncFrame = 3750,  // the frame's ids, 3750..3759
  kEncBox = 3760,
  kEncDiagram,
  kEncCounter = 3763,  // its number kept: scripts name controls by id
};

class CTestEncoderConnections : public CMyTestDlg {
 public:
  CTestEncoderConnections(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CTestEncoderConnections() override;

  int OnInitDialog() override;
  void BeginTest() override;
  const ZelMessageMap* GetMessageMap() const override;
  void DescribeRun(TestRunReport& report) const override;

  const CEncoderDiagram& GetDiagram() const { return m_Diagram; }
  bool PulsesSeen() const { return pulses_seen_; }

 protected:
  std::span<const char* const> StatusTexts() const override;
  void OnTimer(unsigned id) override;

 private:
  void OnStartStop();
  void EndProgram();

  CEncoderDiagram m_Diagram;
  int lines_ = 0;
  int counter_ = 0;
  std::optional<int> first_count_;  // the counter at the run's first tick
  int modulo_ = 0;
  bool pulses_seen_ = false;
};

}  // namespace dcservo
