// The control template of the drive info dialog: the identity on the left, the ratings in
// the middle, the drive's protections on the right.

#include "dialogs/drive_info_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

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
  b.Add(0, K::Label, "Kwords", kE2romBox, {0, 1});
  b.Box(kFirmwareIdBox, "Firmware ID", kIdentityColumn);
  b.Add(kFirmwareIdEdit, K::Edit, "", kFirmwareIdBox, {0, 0}, kStyleWide);
  b.Box(kApplicationIdBox, "Application ID", kIdentityColumn);
  b.Add(kApplicationIdEdit, K::Edit, "", kApplicationIdBox, {0, 0}, kStyleWide);
}

void DataColumn(ZelTemplateBuilder& b) {
  b.Column(kDataColumn, 1);
  b.Box(kDriveDataBox, "Drive data", kDataColumn);
  const int d = kDriveDataBox;
  b.Add(0, K::Label, "Power supply (motor)", d, {0, 0, 1, 3});
  b.ParameterField(param::VMOT_min, "min. value", kVmotMinEdit, kVmotMinUnit, d, 1);
  b.ParameterField(param::VMOT_max, "max. value", kVmotMaxEdit, kVmotMaxUnit, d, 2);
  b.Add(0, K::Label, "Logic supply", d, {3, 0, 1, 3});
  b.ParameterField(param::VLOG_min, "min. value", kVlogMinEdit, kVlogMinUnit, d, 4);
  b.ParameterField(param::VLOG_max, "max. value", kVlogMaxEdit, kVlogMaxUnit, d, 5);
  b.ParameterField(param::InPS, "Nominal current", kNominalCurrentEdit, kNominalCurrentUnit, d, 6);
  b.ParameterField(param::ImaxPS, "Peak current", kPeakCurrentEdit, kPeakCurrentUnit, d, 7);
  b.ParameterField(param::VdcMaxMeasurable, "Maximum measurable DC voltage", kVdcMaxEdit,
                   kVdcMaxUnit, d, 8);
  b.ParameterField(param::AnalogueInputsRange, "Analogue inputs range", kInputsRangeEdit,
                   kInputsRangeUnit, d, 9);
  b.ParameterCheck(param::isDriveTemperatureSensor, kTemperatureSensor, "Temperature sensor", d,
                   {10, 0, 1, 3});
  b.ParameterField(param::DriveTempSensorGain, "Sensor gain", kSensorGainEdit, kSensorGainUnit, d,
                   11, 0, kSensorGainLabel);
  b.ParameterField(param::DriveTempOutputAt0oC, "Output at 0\xC2\xB0" "C", kOutputAt0Edit,
                   kOutputAt0Unit, d, 12, 0, kOutputAt0Label);
}

void ProtectionsColumn(ZelTemplateBuilder& b) {
  b.Column(kProtectionsColumn, 2);
  b.Box(kProtectionsBox, "Protections", kProtectionsColumn);
  const int p = kProtectionsBox;
  b.ParameterCheck(param::isOverVoltage, kOverVoltage, "Over voltage", p, {0, 0, 1, 3});
  b.ParameterField(param::UMAX_PROT, "Trigger if power supply >", kUmaxEdit, kUmaxUnit, p, 1, 0,
                   kUmaxLabel);
  b.ParameterCheck(param::isUnderVoltage, kUnderVoltage, "Under voltage", p, {2, 0, 1, 3});
  b.ParameterField(param::UMIN_PROT, "Trigger if power supply <", kUminEdit, kUminUnit, p, 3, 0,
                   kUminLabel);
  b.ParameterCheck(param::isDriveI2t, kDriveI2t, "I2t", p, {4, 0, 1, 3});
  b.ParameterField(param::I_I2t_D, "Support over current", kI2tCurrentEdit, kI2tCurrentUnit, p, 5,
                   0, kI2tCurrentLabel);
  b.ParameterField(param::t_I2t_D, "for", kI2tTimeEdit, kI2tTimeUnit, p, 6, 0, kI2tTimeLabel);
  b.ParameterCheck(param::isDriveOverTemp, kDriveOverTemp, "Drive temperature", p, {7, 0, 1, 3});
  b.ParameterField(param::Temp_2, "Trigger if T > T2max", kTemp2Edit, kTemp2Unit, p, 8, 0,
                   kTemp2Label);
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kDriveInfoTemplate, "Drive info");
  IdentityColumn(b);
  DataColumn(b);
  ProtectionsColumn(b);
  b.DialogButtons(kButtonRow, 1, 3, 0, 1);
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kDriveInfoTemplate, Template);

}  // namespace

const ZelDialogTemplate& DriveInfoTemplate() { return Template(); }

}  // namespace dcservo
