#include "drivetests/commission_dlg.h"

#include <filesystem>

#include "derive/plausibility.h"
#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_headless.h"
#include "host/zel_template_builder.h"
#include "names/dialog_names.h"

namespace dcservo {

namespace {

using K = ZelControlKind;

constexpr char kIntroduction[] =
    "Detects the supply voltage, tunes and tests the loops that the control mode closes, "
    "identifies the total inertia and stores what each test accepts. Press Start and choose "
    "where the report goes.";

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kCommissionTemplate, "Commissioning");
  b.Box(kCommissionRecordBox, "For the record", 0);
  b.Field(kCommissionOperatorLabel, "Operator", kCommissionOperator, 0, kCommissionRecordBox, 0);
  b.Field(kCommissionNoteLabel, "Note", kCommissionNote, 0, kCommissionRecordBox, 1);
  b.Box(kCommissionBox, "Progress", 0);
  b.Add(kCommissionText, K::Text, "", kCommissionBox, {0, 0, 4, 3}, kStyleReadOnly);
  b.DialogButtons(kCommissionButtons, 2, 3);
  b.Add(kCommissionStart, K::Button, "Start", kCommissionButtons, {0, 0});
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kTemplateRegistration(kCommissionTemplate, Template);
const ZelDialogRegistration kRegistration(dialog_names::kCommission,
                                          ZelFactoryOf<CCommissionDlg>());

}  // namespace

CCommissionDlg::CCommissionDlg(CZel_Setup& setup, CZel_Dialog* parent)
    : CZel_Dialog(kCommissionTemplate, parent), m_Setup(setup) {}

int CCommissionDlg::OnInitDialog() {
  CZel_Dialog::OnInitDialog();
  SetChildText(kCommissionText, kIntroduction);
  return 1;
}

const ZelMessageMap* CCommissionDlg::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CZel_Dialog::GetMessageMap(), {{ZelOnClicked(kCommissionStart, &CCommissionDlg::OnStart)}});
  return &map;
}

void CCommissionDlg::ShowProgress(const std::string& text) {
  SetChildText(kCommissionText, text);
  ZelPumpMessages();
}

void CCommissionDlg::OnStart() {
  if (const std::string why = ImplausibleMotorData(m_Setup); !why.empty()) {
    MessageBox("The setup cannot be commissioned: " + why + ".", {}, kMbOk | kMbIconError);
    return;
  }
  const std::string chosen =
      FileDialog({true, "Save the commissioning report", "Reports (*.html)", "report.html"});
  if (chosen.empty()) return;
  const std::string dir = std::filesystem::path(chosen).parent_path().string();
  EnableChild(kCommissionStart, 0);

  // The tests run on the headless front end, whose clock starts where the screen's is, so
  // that the drive's time goes on; the progress and the notices go to the screen.
  UiBackend& screen = ZelUi();
  ZelHeadlessBackend headless;
  headless.Advance(screen.NowMs());
  CommissioningHooks hooks;
  std::string step_line;
  hooks.progress = [&](std::size_t i, std::size_t n, const CommissioningStep& step) {
    ZelScopedUiBackend back(screen);
    step_line = "Step " + std::to_string(i + 1) + " of " + std::to_string(n) + ": " + step.title;
    ShowProgress(step_line);
  };
  hooks.status = [&](const std::string& status) {
    ZelScopedUiBackend back(screen);
    ShowProgress(step_line + "\n" + status);
  };
  hooks.confirm = [&](const char* notice, ZelAskedAction asks) {
    ZelScopedUiBackend back(screen);
    return MessageBox(notice, {}, kMbOkCancel | kMbIconInformation, asks) == kIdOk;
  };
  CommissioningResult result;
  {
    ZelScopedUiBackend installed(headless);
    result = RunCommissioning(m_Setup, headless, hooks);
  }
  RecordPaths paths;
  // The report's PDF is drawn by the front end on screen, which has a toolkit to draw with.
  const ReportPrinter printer = [&screen](const ZelReportDocument& report, std::string& pdf) {
    return screen.PrintReportPdf(report, pdf);
  };
  ReportFiles record;
  record.source = m_Setup.GetSourceName().empty() ? "drive setup" : m_Setup.GetSourceName();
  record.operator_name = GetChildText(kCommissionOperator);
  record.note = GetChildText(kCommissionNote);
  record.shaft_notices = "confirmed on screen";
  const std::string why =
      WriteCommissioningRecord(result, m_Setup, dir, record, nullptr, printer, paths);
  EnableChild(kCommissionStart, 1);
  if (!why.empty()) {
    ShowProgress(why);
    MessageBox(why, {}, kMbOk | kMbIconInformation);
    return;
  }
  report_ = paths.html;
  std::string verdict = result.succeeded ? "Commissioning succeeded."
                                         : "Commissioning stopped at \"" +
                                               std::string(result.steps.back().step->title) +
                                               "\": " + result.steps.back().failure;
  ShowProgress(verdict + "\r\nReport: " + report_);
  if (MessageBox(verdict + "\n\nOpen the report?", {}, kMbYesNo | kMbIconInformation) == kIdYes)
    ZelUi().OpenDocument(report_);
}

}  // namespace dcservo
