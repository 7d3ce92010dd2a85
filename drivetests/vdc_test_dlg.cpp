#include "drivetests/vdc_test_dlg.h"

#include <cmath>
#include <cstdio>

#include "host/zel_dialog_registry.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/scales.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kVdcTest,
                                          ZelFactoryOf<CTestVdcDetection>());

constexpr const char* kStatusTexts[] = {"Launching test", "Running test"};

}  // namespace

CTestVdcDetection::CTestVdcDetection(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kVdcTestTemplate, 1, parent) {
  old_vdc_ = m_Setup.GetParameterValueInBaseUnit(param::Vdc);
  m_nPhaseCount = 2;
}

CTestVdcDetection::~CTestVdcDetection() = default;

std::span<const char* const> CTestVdcDetection::StatusTexts() const { return kStatusTexts; }

int CTestVdcDetection::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  LoadProgram(m_Coff, drive_program::VDC_Detection_Test);
  SetRunTools({drive_program::VDC_Detection_Test, &m_Coff, nullptr, nullptr, kCheckShortCircuit});
  return 1;
}

void CTestVdcDetection::BeginTest() {
  SetChildText(kVdcEdit, "");
  ListSetCurSel(kVdcUnit, -1);
  UpdateData(0);
  const WatchedRun::Channel supply[] = {{param::Vdc, "V", 1, 0}};
  record_.Start("Supply voltage", supply);
  StartRun({});
}

// The supply as the drive measures it, at each look: what the result is read from.
// A look that reads nothing leaves a gap in the record, not a failure.
void CTestVdcDetection::OnLook() {
  const double look[] = {ZelQuietLiveValue(m_Setup, var::var_u2) /
                         MeasuredVoltageScale(ParameterReader::Quiet(m_Setup))};
  record_.Take(look);
}

double CTestVdcDetection::SupplyOf(const CZel_Variable& u2) const {
  return u2.GetValueInBaseUnit() / MeasuredVoltageScale(m_Setup);
}

// The supply test has no test flag of its own: the drive's short circuit is all it checks.
bool CTestVdcDetection::CheckRunEnded() { return CheckDriveErrors(1, kCheckShortCircuit); }

// A reading at the converter's full scale says only that the supply is at least that high:
// kept as Vdc it would set every voltage limit and gain on a supply the drive does not have.
void CTestVdcDetection::OnProgramEnded() {
  CZel_Variable* u2 = ReadLiveVariable(var::var_u2);
  if (!u2) return;
  measured_vdc_ = SupplyOf(*u2);
  if (u2->GetValueInInternalUnit() >= AdcMax(m_Setup)) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "the supply is at or above what the drive can measure, %.1f V", measured_vdc_);
    m_strError = text;
    TestFailed(1);
    return;
  }
  m_Setup.SetParameterValueInBaseUnit(param::Vdc, measured_vdc_);
  RefreshParameterControls(param::Vdc);
  TestSucceeded(1);
}

void CTestVdcDetection::OnCancel() {
  CloseOfferingToKeep("Power supply", param::Vdc, "%G", old_vdc_,
                      m_Setup.GetParameterValueInBaseUnit(param::Vdc));
}

void CTestVdcDetection::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  // What was measured, whether or not it was kept.
  report.results.push_back(
      {param::Vdc,
       std::isnan(measured_vdc_) ? m_Setup.GetParameterValueInBaseUnit(param::Vdc) : measured_vdc_,
       "V"});
}

}  // namespace dcservo
