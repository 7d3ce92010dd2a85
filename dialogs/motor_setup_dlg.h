#pragma once
// The "DC Motor Setup" dialog: the motor's data, the sensors on motor and load, the motor's
// temperature sensor and brake, and the transmission to the load, with a motor database to
// pick the data from. The drive setup opens it as soon as it is shown.

#include "dialogs/my_setup_dlg.h"
#include "host/zel_motor_editor.h"

namespace dcservo {

inline constexpr unsigned kMotorSetupTemplate = 3058;
inline constexpr unsigned kMotorSetupHelpContext = 262407;
// The brake timing illustration: bitmap 3065 of the user-interface module.
inline constexpr char kBrakeTimingImage[] = "BRAKE_TIMING";
// A command that no control carries and that closes the dialog as OK does.
inline constexpr int kMotorSetupOkCommand = 10018;

enum MotorSetupControl : int {
  kDatabaseBox = 3100,
  kDatabaseList,
  kMotorBox,
  kMotorList,
  kMotorNameLabel,
  kMotorNameEdit,
  kSaveMotor,
  kDeleteMotor,
  kMotorGuidanceBox,

  kMotorDataBox = 3110,
  kInLabel,
  kInEdit,
  kInUnit,
  kImaxMLabel,
  kImaxMEdit,
  kImaxMUnit,
  kKLabel,
  kKEdit,
  kKUnit,
  kRLabel,
  kREdit,
  kRUnit,
  kLLabel,
  kLEdit,
  kLUnit,
  kJmLabel,
  kJmEdit,
  kJmUnit,
  kInertiaUnknown,

  kSensorsBox = 3140,
  kEncoderOnMotor,
  kTachoOnMotor,
  kEncoderOnLoad,
  kEncoderLinesLabel,
  kEncoderLinesEdit,
  kEncoderLinesUnit,
  kTachoGainLabel,
  kTachoGainEdit,
  kTachoGainUnit,
  kTestConnections,
  kFilterEncCheck,
  kFilterEncList,
  kFilterEncLabel,
  kFilterEncNote,
  kReverseCounting,
  kTemperatureCheck,
  kSensorTypeBox,
  kSensorNtc,
  kSensorPtc,

  kBrakeBox = 3170,
  kBrakeCheck,
  kBrakeOutputList,
  kBrakeText,
  kBrakePicture,
  kReleaseDelayLabel,
  kReleaseDelayEdit,
  kReleaseDelayUnit,
  kApplyDelayLabel,
  kApplyDelayEdit,
  kApplyDelayUnit,

  kTransmissionBox = 3190,
  kTransmissionTypeLabel,
  kRotaryToRotary,
  kRotaryToLinear,
  kMotorDisplacementLabel,
  kMotorTransmissionEdit,
  kMotorTransmissionUnit,
  kLoadDisplacementLabel,
  kLoadTransmissionEdit,
  kLoadTransmissionUnit,
  kLimitSwitchButton,

  kMotorHelpButton = 3210,
};

// The encoder filter list: entry i filters to 1/kEncoderFilterDivisors[i] of the maximum
// bandwidth and stands for FilterEncValue i.
inline constexpr int kEncoderFilterDivisors[] = {3, 6, 12, 18, 24, 30, 36, 42, 48, 54, 60, 66, 72};

inline constexpr char kLimitSwitchWarning[] =
    "When there is only a position sensor on the motor and the load moves in opposite "
    "direction (i.e. transmission is negative), the h/w limit switches connections need to be "
    "reversed. \n\nConnect positive limit switch sensor to drive's LSN input and negative "
    "limit switch sensor to drive's LSP input.";

}  // namespace dcservo

class CMotorSetupDialog : public CMySetupDlg {
 public:
  explicit CMotorSetupDialog(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CMotorSetupDialog() override;

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnOK() override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;

 private:
  void BindControls();
  void InitializeMotorEditor();
  void RefreshState();
  void ShowBrakeText();
  bool HasEncoderFilter() const;
  bool HasBrakeParameters() const;
  void FillEncoderFilterList();
  void ApplySensorsConfiguration();
  void ClearFreezeControlOutsidePosition();
  void OnControlModeChanged(const std::string& name);
  void OnPeakCurrentChanged(const std::string& name);
  void OnStateParameterChanged(const std::string& name);
  void OnTransmissionTypeChanged(const std::string& name);
  void OnDisplacementRefreshed(const std::string& name);
  void OnTestConnections();
  void OnLimitSwitchWarning();
  void OnBrakeClicked();
  void OnHelp();
  void OnDatabaseSelected() { m_MotorEditor.OnDatabaseSelected(); }
  void OnMotorSelected() { m_MotorEditor.OnMotorSelected(); }
  void OnSaveMotor() { m_MotorEditor.OnSave(); }
  void OnDeleteMotor() { m_MotorEditor.OnDelete(); }

  int m_BrakePicture = dcservo::kBrakePicture;
  ZelMotorEditor m_MotorEditor;
};

// "Motor inertia": asked by the speed and position tuning tests when the motor's inertia
// is above the total inertia.
namespace dcservo {
inline constexpr unsigned kInertiaQuestionTemplate = 3056;
enum InertiaQuestionControl : int {
  kInertiaQuestionText = 3300,
  kIncreaseTotalInertia,
  kDisregardMotorInertia,
};
inline constexpr char kNoSelectionMessage[] =
    "No selection has been made. The dialog can only close if you make a selection.";
}  // namespace dcservo

class CInertiaQuestion : public CMySetupDlg {
 public:
  explicit CInertiaQuestion(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CInertiaQuestion() override;

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnOK() override;

  // 1: raise the total inertia to the motor's; 2: disregard the motor inertia; 0: none yet.
  int GetChoice() const { return m_nChoice; }

 private:
  void OnChoice(int id);

  int m_nChoice = 1;
};
