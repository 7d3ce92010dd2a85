// The control template of the drive info dialog: the identity on the left, the ratings in
// the middle, the drive's protections on the right.

#include "dialogs/drive_info_dlg.h"
#include "host/zel_template_builder.h"

namespace dcservo {
namespace {

using K = ZelControlKind;
using namespace drive_info;

enum : int {
  kDataColumn = 1480,
  kProtectionsColumn,
  kButtonRow,
};

void IdentityColumn(ZelTemplateBuilder& b) {
  b.Column(kIdentityColumn, 0);
  b.Box(kDescriptionBox, "Intelligent drive name", kIdentityColumn);
  b.Add(kDescriptionEdit, K::Edit, "", kDescriptionBox, {0, 0}, kStyleWide);
  b.Box(kProductIdBox, "Product ID", kIdentityColumn);
  b.Add(kProductIdEdit, K::Edit, "", kProductIdBox, {0, 0}, kStyleWide);
  b.Box(kE2romBox, "E2ROM size", kIdentityColumn);
  b.Add(kE2romEdit, K::Edit, "", kE2romBox, {0, 0});
  b.Add(kE2romUnitLabel, K::Label, "Kwords", kE2romBox, {0, 1});
  b.Box(kFirmwareIdBox, "Firmware ID", kIdentityColumn);
  b.Add(kFirmwareIdEdit, K::Edit, "", kFirmwareIdBox, {0, 0}, kStyleWide);
  b.Box(kApplicationIdBox, "Application ID", kIdentityColumn);
  b.Add(kApplicationIdEdit, K::Edit, "", kApplicationIdBox, {0, 0}, kStyleWide);
}

void DataColumn(ZelTemplateBuilder& b) {
  b.Column(kDataColumn, 1);
  b.Box(kDriveDataBox, "Drive data", kDataColumn);
  const int d = kDriveDataBox;
  b.Add(kMotorSupplyLabel, K::Label, "Power supply (motor)", d, {0, 0, 1, 3});
  b.Field(kVmotMinLabel, "min. value", kVmotMinEdit, kVmotMinUnit, d, 1);
  b.Field(kVmotMaxLabel, "max. value", kVmotMaxEdit, kVmotMaxUnit, d, 2);
  b.Add(kLogicSupplyLabel, K::Label, "Logic supply", d, {3, 0, 1, 3});
  b.Field(kVlogMinLabel, "min. value", kVlogMinEdit, kVlogMinUnit, d, 4);
  b.Field(kVlogMaxLabel, "max. value", kVlogMaxEdit, kVlogMaxUnit, d, 5);
  b.Field(kNominalCurrentLabel, "Nominal current", kNominalCurrentEdit, kNominalCurrentUnit, d, 6);
  b.Field(kPeakCurrentLabel, "Peak current", kPeakCurrentEdit, kPeakCurrentUnit, d, 7);
  b.Field(kVdcMaxLabel, "Maximum measurable DC voltage", kVdcMaxEdit, kVdcMaxUnit, d, 8);
  b.Field(kInputsRangeLabel, "Analogue inputs range", kInputsRangeEdit, kInputsRangeUnit, d, 9);
  b.Add(kTemperatureSensor, K::Check, "Temperature sensor", d, {10, 0, 1, 3});
  b.Field(kSensorGainLabel, "Sensor gain", kSensorGainEdit, kSensorGainUnit, d, 11);
  b.Field(kOutputAt0Label, "Output at 0\xC2\xB0" "C", kOutputAt0Edit, kOutputAt0Unit, d, 12);
}

void ProtectionsColumn(ZelTemplateBuilder& b) {
  b.Column(kProtectionsColumn, 2);
  b.Box(kProtectionsBox, "Protections", kProtectionsColumn);
  const int p = kProtectionsBox;
  b.Add(kOverVoltage, K::Check, "Over voltage", p, {0, 0, 1, 3});
  b.Field(kUmaxLabel, "Trigger if power supply >", kUmaxEdit, kUmaxUnit, p, 1);
  b.Add(kUnderVoltage, K::Check, "Under voltage", p, {2, 0, 1, 3});
  b.Field(kUminLabel, "Trigger if power supply <", kUminEdit, kUminUnit, p, 3);
  b.Add(kDriveI2t, K::Check, "I2t", p, {4, 0, 1, 3});
  b.Field(kI2tCurrentLabel, "Support over current", kI2tCurrentEdit, kI2tCurrentUnit, p, 5);
  b.Field(kI2tTimeLabel, "for", kI2tTimeEdit, kI2tTimeUnit, p, 6);
  b.Add(kDriveOverTemp, K::Check, "Drive temperature", p, {7, 0, 1, 3});
  b.Field(kTemp2Label, "Trigger if T > T2max", kTemp2Edit, kTemp2Unit, p, 8);
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kDriveInfoTemplate, "Drive info");
  IdentityColumn(b);
  DataColumn(b);
  ProtectionsColumn(b);
  b.DialogButtons(kButtonRow, 1, 3, 0, 1);
  return b.Build();
}

const ZelDialogTemplate kTemplate = MakeTemplate();
const ZelTemplateRegistration kRegistration(kTemplate);

}  // namespace

const ZelDialogTemplate& DriveInfoTemplate() { return kTemplate; }

}  // namespace dcservo
