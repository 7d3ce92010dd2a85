#include "drivetests/analogue_test_dlg.h"

#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_setup.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/drive_modes.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kAnalogueTest,
                                          ZelFactoryOf<CTestAnalogueRef>());

constexpr const char* kStatusTexts[] = {"Launching test", "Running test"};

constexpr unsigned kVoltageColour = 0xFF0000;
constexpr unsigned kCommandColour = 0x00FF00;
constexpr const char kVoltageFormat[] = "%.2G";
constexpr const char kCommandFormat[] = "%.2f";

// The command that the analogue reference means, by control mode.
struct CommandRow {
  int mode;
  const char* min;
  const char* max;
  const char* label;
};
constexpr CommandRow kCommands[] = {
    {ControlMode::Position, param::POS_min, param::POS_max, "Position command"},
    {ControlMode::Speed, param::SPD_min, param::SPD_max, "Speed command"},
    {ControlMode::Current, param::CRT_min, param::CRT_max, "Current command"},
};

}  // namespace

double BarRange::At(double ad5) const {
  return RoundDecimalValue((hi - lo) * ad5 / kAd5FullScale + lo, 2);
}

CTestAnalogueRef::CTestAnalogueRef(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kAnalogueTestTemplate, 1, parent) {
  m_nPhaseCount = 2;
  m_bRunUntilStop = 1;
}

CTestAnalogueRef::~CTestAnalogueRef() = default;

std::span<const char* const> CTestAnalogueRef::StatusTexts() const { return kStatusTexts; }

void CTestAnalogueRef::SetRangesFromSetup() {
  // A setup without one of them leaves its row at zero: no report.
  const CZel_Parameter* range = m_Setup.FindOptionalParameter(param::AnalogueInputsRange);
  const double volts = range ? range->GetValueInBaseUnit() : 0.0;
  // Compared exactly: 10 V, say, is the 3.3 V input.
  if (volts == static_cast<double>(AnalogueInputsRange::Bipolar10V)) voltage_ = {-10.0, 10.0};
  else if (volts == static_cast<double>(AnalogueInputsRange::Unipolar5V)) voltage_ = {0.0, 5.0};
  else voltage_ = {0.0, 3.3};
  SetChildText(kAnVoltageUnit, range ? range->GetSelectedUnit().GetName() : "");

  command_ = {};
  command_label_.clear();
  const int mode = QuietInt(param::ControlMode);
  for (const CommandRow& row : kCommands) {
    if (mode != row.mode) continue;
    const CZel_Parameter* lo = m_Setup.FindOptionalParameter(row.min);
    const CZel_Parameter* hi = m_Setup.FindOptionalParameter(row.max);
    if (!lo || !hi) break;
    // In the unit the user sees, as the unit label says.
    command_ = {lo->GetSelectedUnit().FromBase(lo->GetValueInBaseUnit()),
                hi->GetSelectedUnit().FromBase(hi->GetValueInBaseUnit())};
    command_label_ = row.label;
    command_unit_ = hi->GetSelectedUnit().GetName();
    SetChildText(kAnCommandUnit, command_unit_);
  }
}

void CTestAnalogueRef::SetBar(CBarGraph& bar, const BarRange& range, double value) {
  bar.SetLimits(range.lo, range.hi);
  bar.SetValue(value);
  bar.SetReference(range.Reference());
  bar.Repaint();
}

int CTestAnalogueRef::OnInitDialog() {
  SetRangesFromSetup();
  m_VoltageBar.SubclassDlgItem(kAnVoltageBar, this);
  m_CommandBar.SubclassDlgItem(kAnCommandBar, this);
  SetChildText(kAnCommandLabel, command_label_);
  m_VoltageBar.SetColour(kVoltageColour);
  m_VoltageBar.SetNumberFormat(kVoltageFormat);
  m_CommandBar.SetColour(kCommandColour);
  m_CommandBar.SetNumberFormat(kCommandFormat);
  // Before a run there is no command: the bar stands at its reference, as the voltage does.
  SetBar(m_CommandBar, command_, command_.Reference());
  SetBar(m_VoltageBar, voltage_, 0.0);
  SetChildText(kAnVoltageEdit, "");
  SetChildText(kAnCommandEdit, "");
  CMyTestDlg::OnInitDialog();
  SetRunTools(
      {drive_program::Analogue_Reference_Test, nullptr, nullptr, nullptr, kCheckShortCircuit});
  return 1;
}

void CTestAnalogueRef::BeginTest() {
  SetChildText(kAnVoltageEdit, "");
  SetChildText(kAnCommandEdit, "");
  SetBar(m_CommandBar, command_, command_.Reference());
  SetBar(m_VoltageBar, voltage_, voltage_.Reference());
  StartRun({});
}

void CTestAnalogueRef::OnTimer(unsigned id) {
  if (id != 1 || !m_bTestRunning) return;
  if (!TickOfRunningProgram(id)) {
    CMyTestDlg::OnTimer(id);
    return;
  }
  if (m_bStopRequested) {
    TestSucceeded(1);
    m_bStopRequested = 0;
    return;
  }
  if (!CheckDriveErrors(1, kCheckShortCircuit)) return;
  const CZel_Variable* ad5 = ReadLiveVariable(var::AD5);
  if (!ad5) return;
  const double a = ad5->GetValueInInternalUnit();
  last_voltage_ = voltage_.At(a);
  SetChildText(kAnVoltageEdit, FormatValue("%.2f", last_voltage_));
  SetBar(m_VoltageBar, voltage_, last_voltage_);
  last_command_ = command_.At(a);
  SetChildText(kAnCommandEdit, FormatValue("%.2f", last_command_));
  SetBar(m_CommandBar, command_, last_command_);
  while (ZelPumpMessages()) {
  }
  RestartRunTimer();
}

void CTestAnalogueRef::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  report.results.push_back({"voltage", last_voltage_, "V"});
  report.results.push_back({"command", last_command_, command_unit_});
}

}  // namespace dcservo
