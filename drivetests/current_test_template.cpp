// The control template of the current controller test: the tabs above two columns. Each
// page's boxes sit in the same columns; the page that is not selected is hidden, so the
// columns hold one page at a time.

#include "drivetests/current_test_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

enum : int { kLeftColumn = 3590, kRightColumn, kButtonRow };

void ParametersPage(ZelTemplateBuilder& b) {
  b.Box(kCtParametersBox, "Test parameters", kLeftColumn);
  b.ParameterField(param::TestCurrent, "Test current", kCtTestCurrentEdit, kCtTestCurrentUnit,
                   kCtParametersBox, 0, 0, kCtTestCurrentLabel);
  b.ParameterField(param::TestProtectionCurrent, "Over current protection", kCtProtectionEdit,
                   kCtProtectionUnit, kCtParametersBox, 1, 0, kCtProtectionLabel);
  b.Add(kCtPicture, K::Picture, "", kCtParametersBox, {2, 0, 1, 3}).Image("3015");
  b.Box(kCtPurposeBox, "Test purpose", kLeftColumn);
  b.Add(kCtPurposeText, K::Label, "Checks current controller step input response.",
        kCtPurposeBox, {0, 0});
  b.Box(kCtProcedureBox, "Test procedure", kRightColumn);
  // Two rows of height: the five steps wrap to about eight lines.
  b.Add(kCtInstructions, K::Text, "", kCtProcedureBox, {0, 0, 2, 1}, kStyleReadOnly | kStyleWide);
}

void TestPage(ZelTemplateBuilder& b) {
  b.Box(kCtRunBox, "Test", kLeftColumn);
  b.Add(kIdcTestStartStop, K::Button, "Start", kCtRunBox, {0, 0});
  b.Add(kIdcTestDetails, K::Button, "&Details", kCtRunBox, {1, 0});
  b.Add(kIdcTestStatus, K::Edit, "", kCtRunBox, {0, 1, 1, 2}, kStyleReadOnly);
  b.Add(kIdcTestResult, K::Edit, "", kCtRunBox, {1, 1, 1, 2}, kStyleReadOnly);

  b.Box(kCtGainsBox, "Current controller", kLeftColumn);
  b.Add(kCtKpLabel, K::Label, "Kp", kCtGainsBox, {0, 0});
  b.Add(kCtKpSlider, K::Slider, "", kCtGainsBox, {0, 1});
  b.Add(kCtKpSpin, K::Spin, "", kCtGainsBox, {0, 2});
  b.Add(kCtKpEdit, K::Edit, "", kCtGainsBox, {0, 3});
  b.Add(kCtKpPageSpin, K::Spin, "", kCtGainsBox, {0, 4});
  b.Add(kCtKiLabel, K::Label, "Ki", kCtGainsBox, {1, 0});
  b.Add(kCtKiSlider, K::Slider, "", kCtGainsBox, {1, 1});
  b.Add(kCtKiSpin, K::Spin, "", kCtGainsBox, {1, 2});
  b.Add(kCtKiEdit, K::Edit, "", kCtGainsBox, {1, 3});
  b.Add(kCtKiPageSpin, K::Spin, "", kCtGainsBox, {1, 4});

  b.Box(kCtTuningBox, "Tuning", kLeftColumn);
  b.Add(kCtPassBandLabel, K::Label, "Passband", kCtTuningBox, {0, 0});
  b.Add(kCtPassBandSlider, K::Slider, "", kCtTuningBox, {0, 1});
  b.Add(kCtPassBandSpin, K::Spin, "", kCtTuningBox, {0, 2});
  b.Add(kCtPassBandEdit, K::Edit, "", kCtTuningBox, {0, 3});
  b.Add(kCtPassBandPageSpin, K::Spin, "", kCtTuningBox, {0, 4});
  b.Add(kCtPassBandUnit, K::DropDown, "", kCtTuningBox, {1, 3});
  b.Add(kCtTune, K::Button, "Tune", kCtTuningBox, {1, 4});

  b.Box(kCtFilterBox, "Filter", kLeftColumn);
  b.ParameterCheck(param::isUseFilterOnCrtCtrlOutput, kCtUseFilter,
                   "Use filter on the current controller", kCtFilterBox, {0, 0, 1, 3});
  b.ParameterField(param::FilterOnCurrentControllerOutput, "Bandwidth", kCtFilterEdit, kCtFilterUnit,
                   kCtFilterBox, 1, 0, kCtFilterLabel);

  b.Box(kCtOffsetBox, "Offset", kLeftColumn);
  b.ParameterCheck(param::isCompensateGravitationalLoads, kCtCompensate,
                   "Compensate for gravitational loads", kCtOffsetBox, {0, 0, 1, 3});
  b.ParameterField(param::OffsetCurrent, "Offset current", kCtOffsetEdit, kCtOffsetUnit, kCtOffsetBox, 1,
                   0, kCtOffsetLabel);

  b.Box(kCtPlotBox, "Results", kRightColumn);
  b.Add(kCtGraph, K::Graph, "", kCtPlotBox, {0, 0, 1, 2}, kStyleWide);
  b.Add(kCtFigures, K::Text, "", kCtPlotBox, {1, 0}, kStyleReadOnly | kStyleWide);
  b.Add(kCtSavePlots, K::Button, "S&ave Plots", kCtPlotBox, {1, 1});
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kCurrentTestTemplate, "Current Controller Tuning Test",
                       kCurrentTestHelpContext);
  b.Add(kCtTab, K::Tab, "", 0, {0, 0, 1, 2});
  b.Column(kLeftColumn, 0, 1);
  b.Column(kRightColumn, 1, 1);
  ParametersPage(b);
  TestPage(b);
  b.DialogButtons(kButtonRow, 2, 2, kIdcTestHelp);
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kCurrentTestTemplate, Template);

}  // namespace
}  // namespace dcservo
