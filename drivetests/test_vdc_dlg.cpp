#include "drivetests/test_vdc_dlg.h"

#include "dialogs/dialog_names.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "units/scales.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kVdcTest,
                                          ZelFactoryOf<CTestVdcDetection>());

constexpr const char* kStatusTexts[] = {"Launching test", "Running test"};

}  // namespace

CTestVdcDetection::CTestVdcDetection(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kVdcTestTemplate, 1, parent) {
  AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
  old_vdc_ = m_Setup.GetParameterValueInBaseUnit("Vdc");
  m_nPhaseCount = 2;
}

CTestVdcDetection::~CTestVdcDetection() = default;

std::span<const char* const> CTestVdcDetection::StatusTexts() const { return kStatusTexts; }

int CTestVdcDetection::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  m_Coff.SetPathName(GetOutPathName(kVdcTestProgram));
  {
    ZelQuietErrors quiet;  // without a drive the program loads when a run starts
    m_Coff.ReadCoff();
  }
  SetRunTools({kVdcTestProgram, &m_Coff, nullptr, nullptr, kCheckShortCircuit});
  return 1;
}

void CTestVdcDetection::BeginTest() {
  SetChildText(kVdcEdit, "");
  ListSetCurSel(kVdcUnit, -1);
  UpdateData(0);
  StartRun({});
}

// The supply test has no test flag of its own: the drive's short circuit is all it checks.
bool CTestVdcDetection::CheckRunEnded() { return CheckDriveErrors(1, kCheckShortCircuit); }

void CTestVdcDetection::OnProgramEnded() {
  CZel_Variable* u2 = ReadLiveVariable("var_u2");
  if (!u2) return;
  m_Setup.SetParameterValueInBaseUnit("Vdc",
                                      u2->GetValueInBaseUnit() / MeasuredVoltageScale(m_Setup));
  RefreshParameterControls("Vdc");
  TestSucceeded(1);
}

void CTestVdcDetection::OnCancel() {
  const std::string old_text = FormatValue("%G", old_vdc_);
  const std::string new_text = FormatValue("%G", m_Setup.GetParameterValueInBaseUnit("Vdc"));
  if (old_text == new_text || m_nTestResult != 1) {
    CMyTestDlg::OnCancel();
    return;
  }
  switch (AskToKeepDetectedValue("Power supply", old_text, new_text)) {
    case kIdYes: EndDialog(kIdOk); break;
    case kIdNo:
      // Not kept means not kept: the setup gets its voltage back.
      m_Setup.SetParameterValueInBaseUnit("Vdc", old_vdc_);
      CMyTestDlg::OnCancel();
      break;
    default: break;  // back to the dialog
  }
}

void CTestVdcDetection::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  report.results.push_back({"Vdc", m_Setup.GetParameterValueInBaseUnit("Vdc")});
}

}  // namespace dcservo
