// The control template of the motor setup dialog: the database and the assistant on the
// left, the motor's data and its sensors in the middle, brake and transmission on the right.

#include "dialogs/motor_setup_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

enum : int {
  kLeftColumn = 3090,
  kMiddleColumn,
  kRightColumn,
  kButtonRow,
};

void LeftColumn(ZelTemplateBuilder& b) {
  b.Column(kLeftColumn, 0);
  b.Box(kDatabaseBox, "Database", kLeftColumn);
  b.Add(kDatabaseList, K::DropDown, "", kDatabaseBox, {0, 0, 1, 2});
  b.Box(kMotorBox, "Motor", kLeftColumn);
  b.Add(kMotorList, K::DropDown, "", kMotorBox, {0, 0, 1, 2});
  b.Add(kMotorNameLabel, K::Label, "Name", kMotorBox, {1, 0});
  b.Add(kMotorNameEdit, K::Edit, "", kMotorBox, {1, 1});
  b.Add(kSaveMotor, K::Button, "Save to User Database", kMotorBox, {2, 0, 1, 2});
  b.Add(kDeleteMotor, K::Button, "Delete", kMotorBox, {3, 1});
  b.Box(kMotorGuidanceBox, "Guideline assistant", kLeftColumn);
  b.Add(kIdcGuidanceText, K::Text, "", kMotorGuidanceBox, {0, 0, 4, 2}, kStyleReadOnly);
  b.Add(kIdcGuidancePrevious, K::Button, "Previous", kMotorGuidanceBox, {4, 0});
  b.Add(kIdcGuidanceNext, K::Button, "Next", kMotorGuidanceBox, {4, 1});
}

void MiddleColumn(ZelTemplateBuilder& b) {
  b.Column(kMiddleColumn, 1);
  b.Box(kMotorDataBox, "Motor data", kMiddleColumn);
  const int d = kMotorDataBox;
  b.ParameterField(param::In, "Nominal current", kInEdit, kInUnit, d, 0, 0, kInLabel);
  b.ParameterField(param::ImaxM, "Peak current", kImaxMEdit, kImaxMUnit, d, 1, 0, kImaxMLabel);
  b.ParameterField(param::K, "Torque constant", kKEdit, kKUnit, d, 2, 0, kKLabel);
  b.ParameterField(param::R, "Phase resistance (motor + drive)", kREdit, kRUnit, d, 3, 0, kRLabel);
  b.ParameterField(param::L, "Phase inductance (motor + drive)", kLEdit, kLUnit, d, 4, 0, kLLabel);
  b.ParameterField(param::Jm, "Motor inertia", kJmEdit, kJmUnit, d, 5, 0, kJmLabel);
  b.ParameterCheck(param::isMotorInertiaUnknown, kInertiaUnknown, "Motor inertia is unknown", d,
                   {6, 0, 1, 3});

  b.Box(kSensorsBox, "Motor and load sensors", kMiddleColumn);
  const int s = kSensorsBox;
  b.Add(kEncoderOnMotor, K::Radio, "Incremental encoder on motor", s, {0, 0, 1, 3});
  b.Add(kTachoOnMotor, K::Radio, "Tacho on motor", s, {1, 0, 1, 3});
  b.Add(kEncoderOnLoad, K::Radio, "Incremental encoder on load and tacho on motor", s,
        {2, 0, 1, 4});
  b.ParameterField(param::No_encoder_lines, "No. of lines/rev", kEncoderLinesEdit, kEncoderLinesUnit, s,
                   3, 0, kEncoderLinesLabel);
  b.Add(kTestConnections, K::Button, "Test Connections", s, {3, 3});
  b.ParameterField(param::Tacho_gain, "Tacho gain", kTachoGainEdit, kTachoGainUnit, s, 4, 0,
                   kTachoGainLabel);
  b.Add(kFilterEncCheck, K::Check, "Filter encoder inputs to", s, {5, 0});
  b.Add(kFilterEncList, K::DropDown, "", s, {5, 1});
  b.Add(kFilterEncLabel, K::Label, "of maximum bandwith", s, {5, 2, 1, 2});
  b.Add(kFilterEncNote, K::Label, "(only for single-ended encoders)", s, {6, 0, 1, 3});
  b.Add(kReverseCounting, K::Check, "Reverse encoder counting", s, {7, 0, 1, 3});
  b.ParameterCheck(param::isMotorTemperatureSensor, kTemperatureCheck, "Temperature", s, {8, 0});
  b.Add(kSensorTypeBox, K::Group, "Sensor type", s, {8, 1, 1, 3});
  b.Add(kSensorNtc, K::Radio, "NTC", kSensorTypeBox, {0, 0});
  b.Add(kSensorPtc, K::Radio, "PTC", kSensorTypeBox, {0, 1});
}

void RightColumn(ZelTemplateBuilder& b) {
  b.Column(kRightColumn, 2);
  b.Box(kBrakeBox, "Motor brake", kRightColumn);
  const int m = kBrakeBox;
  b.Add(kBrakeCheck, K::Check, "Motor brake on output line :", m, {0, 0, 1, 2});
  b.Add(kBrakeOutputList, K::DropDown, "", m, {0, 2});
  b.Add(kBrakeText, K::Label, "Motor brake is applied when NPN (sink) output is connected to GND.",
        m, {1, 0, 1, 3});
  b.Add(kBrakePicture, K::Picture, "", m, {2, 0, 1, 3}).Image(kBrakeTimingImage);
  b.Field(kReleaseDelayLabel, "Brake release delay :", kReleaseDelayEdit, kReleaseDelayUnit, m, 3);
  b.Field(kApplyDelayLabel, "Brake apply delay :", kApplyDelayEdit, kApplyDelayUnit, m, 4);

  b.Box(kTransmissionBox, "Transmission to load", kRightColumn);
  const int t = kTransmissionBox;
  b.Add(kTransmissionTypeLabel, K::Label, "Transmission type:", t, {0, 0});
  b.Add(kRotaryToRotary, K::Radio, "Rotary to rotary", t, {0, 1});
  b.Add(kRotaryToLinear, K::Radio, "Rotary to linear", t, {0, 2});
  b.ParameterField(param::Motor_transmission, "Motor displacement of", kMotorTransmissionEdit,
                   kMotorTransmissionUnit, t, 1, 0, kMotorDisplacementLabel);
  b.ParameterField(param::Load_transmission, "corresponds on load to", kLoadTransmissionEdit,
                   kLoadTransmissionUnit, t, 2, 0, kLoadDisplacementLabel);
  b.Add(kLimitSwitchButton, K::BitmapButton, "Switch h/w \nlimit switches", t, {3, 0, 1, 3})
      .Image("WARN_SWITCH_HW_LS");
}

void ButtonRow(ZelTemplateBuilder& b) {
  b.Add(kButtonRow, K::Group, "", 0, {1, 0, 1, 3}, kStyleHidden);
  // OK returns to the drive setup, and says so with its picture.
  b.Add(kIdOk, K::BitmapButton, "OK", kButtonRow, {0, 2}).Image("TO_DRIVESETUP");
  b.Add(kIdCancel, K::Button, "Cancel", kButtonRow, {0, 3});
  b.Add(kMotorHelpButton, K::Button, "Help", kButtonRow, {0, 4});
}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kMotorSetupTemplate, "DC Motor Setup", kMotorSetupHelpContext);
  LeftColumn(b);
  MiddleColumn(b);
  RightColumn(b);
  ButtonRow(b);
  return b.Build();
}

// Both built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kMotorSetupTemplate, Template);

// "Motor inertia": a question and its two answers, OK only.
ZelDialogTemplate MakeInertiaQuestionTemplate() {
  ZelTemplateBuilder b(kInertiaQuestionTemplate, "Motor inertia");
  b.Add(kInertiaQuestionText, K::Label,
        "Motor inertia is bigger than the value previously set for total inertia (motor + "
        "load). You have the following options:",
        0, {0, 0, 2, 3}, kStyleWide);  // two rows: the wrapped text needs them
  b.Add(kIncreaseTotalInertia, K::Radio,
        "Increase total inertia to match your motor inertia (default)", 0, {2, 0, 1, 3});
  b.Add(kDisregardMotorInertia, K::Radio,
        "Leave total inertia unchanged and disregard motor inertia", 0, {3, 0, 1, 3});
  b.Add(kIdOk, K::Button, "OK", 0, {4, 2});
  return b.Build();
}

const ZelDialogTemplate& InertiaQuestionTemplate() {
  static const ZelDialogTemplate tmpl = MakeInertiaQuestionTemplate();
  return tmpl;
}
const ZelTemplateRegistration kInertiaRegistration(kInertiaQuestionTemplate,
                                                   InertiaQuestionTemplate);

}  // namespace
}  // namespace dcservo
