// The control template of the external reference setup: the source and the analogue mapping
// on the left, the digital reference and the limit on the right. The two limit fields share
// one place; the state refresh shows one of them at a time.

#include "dialogs/analog_reference_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;
using namespace external_reference;

enum : int {
  kLeftColumn = 1390,
  kRightColumn,
  kButtonRow,
};

void AnalogueColumn(ZelTemplateBuilder& b) {
  b.Column(kLeftColumn, 0);
  b.Box(kSourceBox, "Reference source", kLeftColumn);
  b.Add(kDigital, K::Radio, "Digital", kSourceBox, {0, 0});
  b.Add(kAnalogue, K::Radio, "Analogue", kSourceBox, {0, 1});

  b.Box(kAnalogueBox, "Analogue reference", kLeftColumn);
  const int a = kAnalogueBox;
  // The longest label text sizes the column; the dialog sets the one for its mode.
  b.Field(kMaximumLabel, "Maximum Position", kMaximumEdit, kMaximumUnit, a, 0);
  b.Field(kMinimumLabel, "Minimum Position", kMinimumEdit, 0, a, 1);
  b.Add(kPicture, K::Picture, "", a, {2, 0, 1, 3});
  b.Add(kLowVoltageLabel, K::Label, "0", a, {3, 0});
  b.Add(kHighVoltageLabel, K::Label, "3.3", a, {3, 2});
  b.Add(kUseFilter, K::Check, "Use a filter for the analogue reference input", a, {4, 0, 1, 3});
  b.Field(kFilterLabel, "Filter bandwidth", kFilterEdit, kFilterUnit, a, 5);
  b.Field(kDeadBandPointLabel, "DeadBand Point", kDeadBandPointEdit, kDeadBandPointUnit, a, 6);
  b.Field(kDeadBandRangeLabel, "DeadBand Range +/-", kDeadBandRangeEdit, 0, a, 7);
  b.Add(kTest, K::Button, "&Test", a, {8, 0});
}

void DigitalColumn(ZelTemplateBuilder& b) {
  b.Column(kRightColumn, 1);
  b.Box(kDigitalBox, "Digital reference", kRightColumn);
  const int d = kDigitalBox;
  b.Add(kPulseDirection, K::Radio, "Pulse && Direction", d, {0, 0, 1, 2});
  b.Add(kIncrementalEncoder, K::Radio, "Incremental Encoder", d, {1, 0, 1, 2});
  b.Add(kGearRatioLabel, K::Label, "with gear ratio", d, {2, 0});
  b.Add(kSlaveLabel, K::Label, "Slave", d, {3, 0});
  b.ParameterEdit(param::GEARSLAVE, kSlaveEdit, d, {3, 1});
  b.Add(kYourMotorLabel, K::Label, "(your motor)", d, {3, 2});
  b.Add(kMasterLabel, K::Label, "Master", d, {4, 0});
  b.ParameterEdit(param::GEARMASTER, kMasterEdit, d, {4, 1});
  b.Add(kReferenceLabel, K::Label, "(reference)", d, {4, 2});

  b.Box(kLimitBox, "Limit", kRightColumn);
  b.Add(kLimitCheck, K::Check, "Limit maximum acceleration at", kLimitBox, {0, 0, 1, 2});
  b.Add(kFirstLimitEdit, K::Edit, "", kLimitBox, {1, 0});
  b.Add(kFirstLimitUnit, K::DropDown, "", kLimitBox, {1, 1});
  b.Add(kSecondLimitEdit, K::Edit, "", kLimitBox, {1, 0});
  b.Add(kSecondLimitUnit, K::DropDown, "", kLimitBox, {1, 1});
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kExternalReferenceTemplate, "External Reference Setup",
                       kExternalReferenceHelpContext);
  AnalogueColumn(b);
  DigitalColumn(b);
  b.DialogButtons(kButtonRow, 1, 2, kHelpButton, 0);
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kExternalReferenceTemplate, Template);

}  // namespace

const ZelDialogTemplate& ExternalReferenceTemplate() { return Template(); }

}  // namespace dcservo
