// The control template of the advanced dialog: the control structure on the left, the timing
// on the right. The "OUTSIDE LIMITS ->" markers sit between a period's label and its field.

#include "dialogs/advanced_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;
using namespace advanced;

enum : int {
  kLeftColumn = 1290,
  kRightColumn,
  kFormulasBox,
  kButtonRow,
};

void StructureColumn(ZelTemplateBuilder& b) {
  b.Column(kLeftColumn, 0);
  b.Box(kSchemeBox, "Control scheme", kLeftColumn);
  b.Add(kSchemePicture, K::Picture, "", kSchemeBox, {0, 0});
  b.Add(kPositionOverCurrent, K::Radio, "Close only position and current loop", kSchemeBox,
        {1, 0});
  b.Add(kPositionOverSpeed, K::Radio, "Close position, speed and current loop", kSchemeBox,
        {2, 0});

  b.Box(kSpeedComputationBox, "Speed computation", kLeftColumn);
  b.Add(kSpeedEstimator, K::Check, "Enable high resolution speed estimator",
        kSpeedComputationBox, {0, 0});

  b.Box(kFeedforwardBox, "Apply speed feedforward to", kLeftColumn);
  b.Add(kFeedforwardSpeedLoop, K::Radio, "speed loop", kFeedforwardBox, {0, 0});
  b.Add(kFeedforwardCurrentLoop, K::Radio, "current loop", kFeedforwardBox, {0, 1});

  b.Box(kLoopBox, "Execute position and/or speed control in", kLeftColumn);
  b.Add(kSlowLoop, K::Radio, "slow loop", kLoopBox, {0, 0});
  b.Add(kFastLoop, K::Radio, "fast loop", kLoopBox, {0, 1});
}

void TimingColumn(ZelTemplateBuilder& b) {
  b.Column(kRightColumn, 1);
  b.Box(kInputBox, "Input data", kRightColumn);
  b.ParameterField(param::PWM_freq, "PWM frequency", kPwmFrequencyEdit, kPwmFrequencyUnit, kInputBox, 0,
                   0, kPwmFrequencyLabel);
  b.ParameterField(param::CLPER, "Fast loop sampling frequency divider", kFastDividerEdit, 0, kInputBox,
                   1, 0, kFastDividerLabel);
  b.ParameterField(param::SLPER, "Slow loop sampling frequency divider", kSlowDividerEdit, 0, kInputBox,
                   2, 0, kSlowDividerLabel);

  // Each formula on one row, split at its "=" so that neither half needs to wrap.
  b.Box(kFormulasBox, "", kRightColumn);
  b.Add(0, K::Label, "Computation formulas:", kFormulasBox, {0, 0, 1, 2});
  b.Add(0, K::Label, "PWM period  =", kFormulasBox, {1, 0});
  b.Add(0, K::Label, "1 /  PWM frequency", kFormulasBox, {1, 1});
  b.Add(0, K::Label, "Current loop sampling period =", kFormulasBox, {2, 0});
  b.Add(0, K::Label, "PWM period  x  Current loop divider", kFormulasBox, {2, 1});
  b.Add(0, K::Label, "Speed/position loop sampling period =", kFormulasBox, {3, 0});
  b.Add(0, K::Label, "PWM period  x  Speed/position loop divider", kFormulasBox, {3, 1});

  b.Box(kComputedBox, "Computed parameters", kRightColumn);
  const int c = kComputedBox;
  b.Add(kPwmPeriodLabel, K::Label, "PWM period", c, {0, 0});
  b.Add(kPwmPeriodEdit, K::Edit, "", c, {0, 2}, kStyleReadOnly).Binds(param::PWMperiod);
  b.Add(kPwmPeriodUnit, K::DropDown, "", c, {0, 3}).Binds(param::PWMperiod);
  b.Add(kFastPeriodLabel, K::Label, "Fast loop sampling period", c, {1, 0});
  b.Add(kFastMarker, K::Label, "OUTSIDE LIMITS ->", c, {1, 1}, kStyleHidden);
  b.Add(kFastPeriodEdit, K::Edit, "", c, {1, 2}, kStyleReadOnly).Binds(param::Ts_C);
  b.Add(kFastPeriodUnit, K::DropDown, "", c, {1, 3}).Binds(param::Ts_C);
  b.Add(kSlowPeriodLabel, K::Label, "Slow loop sampling period", c, {2, 0});
  b.Add(kSlowMarker, K::Label, "OUTSIDE LIMITS ->", c, {2, 1}, kStyleHidden);
  b.Add(kSlowPeriodEdit, K::Edit, "", c, {2, 2}, kStyleReadOnly).Binds(param::Ts_S);
  b.Add(kSlowPeriodUnit, K::DropDown, "", c, {2, 3}).Binds(param::Ts_S);

  b.Box(kFreezeBox, "Freeze control", kRightColumn);
  b.Add(kFreezeCheck, K::Check, "Set freeze control parameters", kFreezeBox, {0, 0, 1, 3});
  b.Field(kFreezeBandLabel, "Position accepted error band", kFreezeBandEdit, kFreezeBandUnit,
          kFreezeBox, 1);
  b.Field(kFreezeTimeLabel, "Trigger time", kFreezeTimeEdit, kFreezeTimeUnit, kFreezeBox, 2);
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kAdvancedTemplate, "Advanced", kAdvancedHelpContext);
  StructureColumn(b);
  TimingColumn(b);
  b.DialogButtons(kButtonRow, 1, 2, kHelpButton, 0);
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kAdvancedTemplate, Template);

}  // namespace

const ZelDialogTemplate& AdvancedTemplate() { return Template(); }

}  // namespace dcservo
