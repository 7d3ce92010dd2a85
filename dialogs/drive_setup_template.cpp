// The control template of the drive setup dialog: three columns of boxes above a row of
// dialog buttons. The columns are frameless boxes so that each column stacks its own boxes
// without lining their rows up with the neighbours'.

#include "dialogs/drive_setup_dlg.h"
#include "host/zel_template_builder.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using K = ZelControlKind;

enum : int {
  kLeftColumn = 990,
  kMiddleColumn,
  kRightColumn,
  kButtonRow,
};

// Radio keys for the groups that are not bound (or not always): their buttons share boxes.
enum : int {
  kEnableRadios = 1,
  kLspRadios,
  kLsnRadios,
  kInputTypeRadios,
  kReferenceTypeRadios,
};

void LeftColumn(ZelTemplateBuilder& b) {
  b.Column(kLeftColumn, 0);
  b.Box(kGuidanceBox, "Guideline assistant", kLeftColumn);
  b.Add(kIdcGuidanceText, K::Text, "", kGuidanceBox, {0, 0, 2, 2}, kStyleReadOnly);
  b.Add(kIdcGuidancePrevious, K::Button, "Previous", kGuidanceBox, {2, 0});
  b.Add(kIdcGuidanceNext, K::Button, "Next", kGuidanceBox, {2, 1});
  b.Add(kCommission, K::Button, "Commission...", kGuidanceBox, {3, 0, 1, 2});

  b.Box(kModeBox, "Control mode", kLeftColumn);
  b.Add(kModePosition, K::Radio, "Position", kModeBox, {0, 0});
  b.Add(kModeSpeed, K::Radio, "Speed", kModeBox, {0, 1});
  b.Add(kModeTorque, K::Radio, "Torque", kModeBox, {0, 2});
  b.Add(kAdvanced, K::Button, "Advanced", kModeBox, {1, 2});

  b.Box(kReferenceBox, "External reference", kLeftColumn);
  b.Add(kReferenceNo, K::Radio, "No", kReferenceBox, {0, 0});
  b.Add(kReferenceYes, K::Radio, "Yes", kReferenceBox, {0, 1});
  b.Add(kReferenceSetup, K::Button, "Setup", kReferenceBox, {0, 2});
  // Display only: the reference type is chosen in the reference's own setup.
  b.Add(kDigitalReference, K::Radio, "", kReferenceBox, {1, 0}, kStyleDisabled,
        kReferenceTypeRadios);
  b.Add(kDigitalReferenceLabel, K::Label, "Pulse && Direction", kReferenceBox, {1, 1, 1, 2});
  b.Add(kAnalogueReference, K::Radio, "", kReferenceBox, {2, 0}, kStyleDisabled,
        kReferenceTypeRadios);
  b.Add(kAnalogueReferenceLabel, K::Label, "Analogue", kReferenceBox, {2, 1, 1, 2});
  b.ParameterCheck("isAutoActivatedAfterPowerOn", kAutoActivated,
                   "Automatically activated after Power On", kReferenceBox, {3, 0, 1, 3});

  b.Box(kAxisBox, "Axis ID selection", kLeftColumn);
  b.Add(kSaveAxisId, K::Check, "", kAxisBox, {0, 0});
  b.Add(kAxisIdLabel, K::Label, "Set / change axisID", kAxisBox, {0, 1});
  b.Add(kAxisIdList, K::DropDown, "", kAxisBox, {0, 2});

  b.Box(kCanBox, "CANbus", kLeftColumn);
  b.Add(kSaveCanBaudRate, K::Check, "", kCanBox, {0, 0});
  b.Add(kBaudRateLabel, K::Label, "Baud rate", kCanBox, {0, 1});
  b.Add(kIdcCanBaudRate, K::DropDown, "", kCanBox, {0, 2});
  b.Add(kIdcCanSettings, K::Button, "CANopen settings...", kCanBox, {1, 1, 1, 2});

  b.Box(kInfoBox, "", kLeftColumn);
  b.Add(kDriveInfo, K::Button, "Drive Info", kInfoBox, {0, 0});
}

void MiddleColumn(ZelTemplateBuilder& b) {
  b.Column(kMiddleColumn, 1);
  b.Box(kSupplyBox, "Drive operation parameters", kMiddleColumn);
  b.ParameterField(param::Vdc, "Power supply", kVdcEdit, kVdcUnit, kSupplyBox, 0, 0, kVdcLabel);
  b.Add(kDetect, K::Button, "Detect", kSupplyBox, {0, 3});
  b.ParameterField(param::IlimPS, "Current limit", kIlimEdit, kIlimUnit, kSupplyBox, 1);

  b.Box(kCurrentBox, "Current controller", kMiddleColumn);
  b.ParameterField(param::Kp_C_scl, "Kp", kKpCEdit, 0, kCurrentBox, 0, 0, kCurrentKpLabel);
  b.ParameterField(param::Ki_C_scl, "Ki", kKiCEdit, 0, kCurrentBox, 1, 0, kCurrentKiLabel);
  b.Add(kCurrentTune, K::Button, "Tune && Test", kCurrentBox, {0, 3});

  b.Box(kSpeedBox, "Speed controller", kMiddleColumn);
  b.ParameterField(param::Kp_S_scl, "Kp", kKpSEdit, 0, kSpeedBox, 0, 0, kSpeedKpLabel);
  b.ParameterField(param::Ki_S_scl, "Ki", kKiSEdit, 0, kSpeedBox, 1, 0, kSpeedKiLabel);
  b.ParameterField(param::IPSatS, "Integral limit", kIPSatSEdit, kIPSatSUnit, kSpeedBox, 2, 0,
                   kSpeedIntegralLabel);
  b.Add(kSpeedFeedforwardLabel, K::Label, "Feedforward", kSpeedBox, {3, 0});
  b.ParameterEdit(param::KFFA_scl, kSpeedKffaEdit, kSpeedBox, {3, 1});
  b.Add(kSpeedAccelerationLabel, K::Label, "(Acceleration)", kSpeedBox, {3, 2});
  b.ParameterEdit(param::KFFS_scl, kSpeedKffsEdit, kSpeedBox, {4, 1});
  b.Add(kSpeedSpeedLabel, K::Label, "(Speed)", kSpeedBox, {4, 2});
  b.Add(kSpeedTune, K::Button, "Tune && Test", kSpeedBox, {0, 3});

  b.Box(kPositionBox, "Position controller", kMiddleColumn);
  b.ParameterField(param::Kp_P_scl, "Kp", kKpPEdit, 0, kPositionBox, 0, 0, kPositionKpLabel);
  b.ParameterField(param::Ki_P_scl, "Ki", kKiPEdit, 0, kPositionBox, 1, 0, kPositionKiLabel);
  b.ParameterField(param::Kd_P_scl, "Kd", kKdPEdit, 0, kPositionBox, 2, 0, kPositionKdLabel);
  // The derivative's filter beside its gain: the middle column, the tallest, keeps to the
  // height of a 1366 x 768 screen.
  b.Add(kPositionKdFilterLabel, K::Label, "Kd filter", kPositionBox, {2, 2});
  b.ParameterEdit(param::filter_D, kFilterDEdit, kPositionBox, {2, 3});
  b.ParameterField(param::IPSatP, "Integral limit", kIPSatPEdit, kIPSatPUnit, kPositionBox, 3, 0,
                   kPositionIntegralLabel);
  b.Add(kPositionFeedforwardLabel, K::Label, "Feedforward", kPositionBox, {4, 0});
  b.ParameterEdit(param::KFFS_scl, kPositionKffsEdit, kPositionBox, {4, 1});
  b.Add(kPositionSpeedLabel, K::Label, "(Speed)", kPositionBox, {4, 2});
  b.ParameterEdit(param::KFFA_scl, kPositionKffaEdit, kPositionBox, {5, 1});
  b.Add(kPositionAccelerationLabel, K::Label, "(Acceleration)", kPositionBox, {5, 2});
  b.ParameterField(param::Limit_Speed, "Load speed limit", kLimitSpeedEdit, kLimitSpeedUnit,
                   kPositionBox, 6, 0, kLimitSpeedLabel);
  b.Add(kPositionTune, K::Button, "Tune && Test", kPositionBox, {0, 3});

  b.Box(kSwlsBox, "Software limit switches", kMiddleColumn);
  b.Add(kSwlsCheck, K::Check, "Restrict movement between:", kSwlsBox, {0, 0, 1, 3});
  b.Field(kNegativeLimitLabel, "Negative Limit", kNegativeSwlsEdit, kNegativeSwlsUnit, kSwlsBox,
          1);
  b.Field(kPositiveLimitLabel, "Positive Limit", kPositiveSwlsEdit, kPositiveSwlsUnit, kSwlsBox,
          2);
}

void RightColumn(ZelTemplateBuilder& b) {
  b.Column(kRightColumn, 2);
  b.Box(kProtectionsBox, "Protections", kRightColumn);
  const int p = kProtectionsBox;
  b.ParameterCheck(param::isOverCurrent, kOverCurrent, "Over current", p, {0, 0, 1, 3});
  b.ParameterField(param::Imax_Prot, "Motor current >", kImaxEdit, kImaxUnit, p, 1, 0, kImaxLabel);
  b.ParameterField(param::time_Imax_Prot, "for more than", kImaxTimeEdit, kImaxTimeUnit, p, 2, 0,
                   kImaxTimeLabel);
  b.ParameterCheck(param::isPositionControlError, kPositionErrorCheck, "Control error", p, {3, 0, 1, 3});
  b.ParameterField(param::ERR_position, "Position error >", kPositionErrorEdit, kPositionErrorUnit, p, 4,
                   0, kPositionErrorLabel);
  b.ParameterField(param::time_ERR_pos, "for more than", kPositionErrorTimeEdit, kPositionErrorTimeUnit,
                   p, 5, 0, kPositionErrorTimeLabel);
  b.ParameterCheck(param::isSpeedControlError, kSpeedErrorCheck, "Control error", p, {6, 0, 1, 3});
  b.ParameterField(param::ERR_speed, "Speed error >", kSpeedErrorEdit, kSpeedErrorUnit, p, 7, 0,
                   kSpeedErrorLabel);
  b.ParameterField(param::time_ERR_spd, "for more than", kSpeedErrorTimeEdit, kSpeedErrorTimeUnit, p, 8,
                   0, kSpeedErrorTimeLabel);
  b.ParameterCheck(param::isMotorOverTemp, kMotorOverTemp, "Motor over temperature", p, {9, 0, 1, 3});
  b.ParameterCheck("isMotori2t", kI2t, "I2t", p, {10, 0, 1, 3});
  b.ParameterField(param::I_I2t_M, "Over current", kI2tCurrentEdit, kI2tCurrentUnit, p, 11, 0,
                   kI2tCurrentLabel);
  b.ParameterField(param::t_I2t_M, "for", kI2tTimeEdit, kI2tTimeUnit, p, 12, 0, kI2tTimeLabel);

  b.Box(kBrakeBox, "External brake resistor", kRightColumn);
  b.Add(kBrakeConnected, K::Check, "Connected", kBrakeBox, {0, 0, 1, 3});
  b.Field(kBrakeVoltageLabel, "Activate if power supply >", kBrakeVoltageEdit, kBrakeVoltageUnit,
          kBrakeBox, 1);

  b.Box(kInputsBox, "Inputs polarity", kRightColumn);
  const int in = kInputsBox;
  b.Add(kEnableLabel, K::Label, "Enable", in, {0, 1});
  b.Add(kLspLabel, K::Label, "Limit switch+", in, {0, 2});
  b.Add(kLsnLabel, K::Label, "Limit switch-", in, {0, 3});
  // The row labels follow the input type at run time; the longest texts size the column.
  b.Add(kActiveHighRowLabel, K::Label, "Active high (Connected to +Vlog)", in, {1, 0});
  b.Add(kEnableActiveHigh, K::Radio, "", in, {1, 1}, 0, kEnableRadios);
  b.Add(kLspActiveHigh, K::Radio, "", in, {1, 2}, 0, kLspRadios);
  b.Add(kLsnActiveHigh, K::Radio, "", in, {1, 3}, 0, kLsnRadios);
  b.Add(kActiveLowRowLabel, K::Label, "Active low (Open/No connection)", in, {2, 0});
  b.Add(kEnableActiveLow, K::Radio, "", in, {2, 1}, 0, kEnableRadios);
  b.Add(kLspActiveLow, K::Radio, "", in, {2, 2}, 0, kLspRadios);
  b.Add(kLsnActiveLow, K::Radio, "", in, {2, 3}, 0, kLsnRadios);
  b.Add(kInputTypeBox, K::Group, "Type", in, {3, 0, 1, 4});
  b.Add(kInputTypeSink, K::Radio, "Sink (PNP)", kInputTypeBox, {0, 0}, 0, kInputTypeRadios);
  b.Add(kInputTypeSource, K::Radio, "Source(NPN)", kInputTypeBox, {0, 1}, 0, kInputTypeRadios);

}

ZelDialogTemplate MakeTemplate() {
  ZelTemplateBuilder b(kDriveSetupTemplate, "Drive Setup", kDriveSetupHelpContext);
  LeftColumn(b);
  MiddleColumn(b);
  RightColumn(b);
  b.DialogButtons(kButtonRow, 1, 3, kHelpButton);
  b.Add(kMotorSetup, K::BitmapButton, "Motor setup", kButtonRow, {0, 0}).Image("TO_MOTORSETUP");
  return b.Build();
}

// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& Template() {
  static const ZelDialogTemplate tmpl = MakeTemplate();
  return tmpl;
}
const ZelTemplateRegistration kRegistration(kDriveSetupTemplate, Template);

}  // namespace

const ZelDialogTemplate& DriveSetupTemplate() { return Template(); }

}  // namespace dcservo
