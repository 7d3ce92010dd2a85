#include "drivetests/encoder_test_dlg.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_setup.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kEncoderTest,
                                          ZelFactoryOf<CTestEncoderConnections>());

constexpr const char* kStatusTexts[] = {"Launching code for test", "Running test"};
constexpr const char kNoPulses[] =
    "No encoder pulses have been detected.\r\nCheck the encoder connection and power supply.";
// The user turns the shaft in its positive direction: a count that ends below where it began
// runs backwards, and every loop closed over it would push the wrong way.
constexpr const char kCountsBackwards[] =
    "The position counter runs backwards while the shaft turns in its positive direction.\r\n"
    "Swap the encoder's A and B signals, or reverse the encoder counting in the motor setup.";
constexpr const char kNoLines[] =
    "The number of encoder lines must be at least 1 for this test. Set it in the motor setup "
    "first.";

}  // namespace

CTestEncoderConnections::CTestEncoderConnections(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kEncoderTestTemplate, 1, parent) {
  const double lines = std::trunc(QuietValue(param::No_encoder_lines));
  lines_ = lines >= 1.0 && lines <= 1e9 ? static_cast<int>(lines) : 0;
  m_nPhaseCount = 2;
  m_bRunUntilStop = 1;
}

CTestEncoderConnections::~CTestEncoderConnections() = default;

std::span<const char* const> CTestEncoderConnections::StatusTexts() const {
  return kStatusTexts;
}

const ZelMessageMap* CTestEncoderConnections::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMyTestDlg::GetMessageMap(),
      {{ZelOnClicked(kIdcTestStartStop, &CTestEncoderConnections::OnStartStop)}});
  return &map;
}

int CTestEncoderConnections::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  m_Diagram.SubclassDlgItem(kEncDiagram, this);
  m_Diagram.EnableDiagram();
  SetRunTools(
      {drive_program::Encoder_Connection_Test, nullptr, nullptr, nullptr, kCheckShortCircuit});
  return 1;
}

void CTestEncoderConnections::BeginTest() {
  // The counter is read modulo four counts per line: without lines there is nothing to
  // read it by.
  if (lines_ < 1) {
    MessageBox(kNoLines, {}, kMbOk | kMbIconWarning);
    return;
  }
  pulses_seen_ = false;
  first_count_.reset();
  modulo_ = 0;
  m_Diagram.SetAngle(0.0);
  StartRun({});
}

void CTestEncoderConnections::OnTimer(unsigned id) {
  if (!TickOfRunningProgram(id)) {
    CMyTestDlg::OnTimer(id);
    return;
  }
  const int previous = modulo_;
  if (!CheckDriveErrors(1, kCheckShortCircuit)) return;
  const CZel_Variable* apos = ReadLiveVariable(var::APOS);
  if (!apos) return;
  const double position = apos->GetValueInInternalUnit();
  counter_ = static_cast<int>(std::clamp(std::trunc(position), -2147483648.0, 2147483647.0));
  SetChildText(kEncCounter, FormatValue("%.0f", counter_));
  // A whole number of turns between two ticks reads as no movement; coming back to the
  // index shows on the disc but is not by itself a pulse.
  modulo_ = PositiveModulo(counter_, 4 * lines_);
  // The first reading is where the shaft stood at Start, wherever that is: only a change from
  // it is movement.
  if (!first_count_) {
    first_count_ = counter_;
    m_Diagram.SetAngle(position * std::numbers::pi / lines_ * 0.5);
  } else if (modulo_ != previous) {
    if (modulo_ != 0) pulses_seen_ = true;
    m_Diagram.SetAngle(position * std::numbers::pi / lines_ * 0.5);
  }
  RestartRunTimer();
}

void CTestEncoderConnections::OnStartStop() {
  if (!m_bTestRunning) {
    CZel_TestDlg::OnBtnStartStop();
    UpdateData(0);
    return;
  }
  KillTimer(1);
  if (!pulses_seen_ || counter_ < first_count_.value_or(counter_)) {
    m_strError = pulses_seen_ ? kCountsBackwards : kNoPulses;
    TestFailed(1);
    return;
  }
  TestSucceeded(1);
  EndProgram();
}

// The program runs until it finds 1 in var_i2.
void CTestEncoderConnections::EndProgram() {
  CZel_Variable* var_i2 = nullptr;
  {
    var_i2 = m_Setup.FindVariable(var::var_i2, 0);
  }
  if (!var_i2) {
    m_strError = msc_pszErrInternal;
    TestFailed(1);
  } else if (!var_i2->SetValueInBaseUnit(1.0) || !var_i2->WriteToChip()) {
    m_strError = CZel_Comm::GetLastErrorText();
    TestFailed(1);
  }
}

void CTestEncoderConnections::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  report.results.push_back({var::APOS, static_cast<double>(counter_), "counts"});
  report.results.push_back({"pulses_seen", pulses_seen_ ? 1.0 : 0.0});
}

}  // namespace dcservo
