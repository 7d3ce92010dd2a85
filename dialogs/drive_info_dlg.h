#pragma once
// The "Drive info" dialog: the drive's identity and ratings. Only the application ID is the
// user's to edit; the rest opens in a service mode that a key combination switches on.

#include <optional>
#include <string>

#include "dialogs/my_setup_dlg.h"

namespace dcservo {

inline constexpr unsigned kDriveInfoTemplate = 3018;

// Ctrl+Shift+Alt and this letter switch the service mode on and off.
inline constexpr int kServiceModeKey = 'S';
inline constexpr unsigned kServiceModeModifiers = kKeyCtrl | kKeyShift | kKeyAlt;
inline constexpr int kApplicationIdLength = 40;

namespace drive_info {

// Ids keep their numbers where labels that nothing reads gave theirs up: scripts name controls
// by id.
enum Control : int {
  kIdentityColumn = 1490,
  kDescriptionBox = 1491,
  kDescriptionEdit,
  kProductIdBox,
  kProductIdEdit,
  kE2romBox,
  kE2romEdit,
  kFirmwareIdBox = 1498,
  kFirmwareIdEdit,
  kApplicationIdBox,
  kApplicationIdEdit,

  kDriveDataBox = 1510,
  kVmotMinEdit = 1513,
  kVmotMinUnit,
  kVmotMaxEdit = 1516,
  kVmotMaxUnit,
  kVlogMinEdit = 1520,
  kVlogMinUnit,
  kVlogMaxEdit = 1523,
  kVlogMaxUnit,
  kNominalCurrentEdit = 1526,
  kNominalCurrentUnit,
  kPeakCurrentEdit = 1529,
  kPeakCurrentUnit,
  kVdcMaxEdit = 1532,
  kVdcMaxUnit,
  kInputsRangeEdit = 1535,
  kInputsRangeUnit,
  kTemperatureSensor,
  kSensorGainLabel,
  kSensorGainEdit,
  kSensorGainUnit,
  kOutputAt0Label,
  kOutputAt0Edit,
  kOutputAt0Unit,

  kProtectionsBox = 1550,
  kOverVoltage,
  kUmaxLabel,
  kUmaxEdit,
  kUmaxUnit,
  kUnderVoltage,
  kUminLabel,
  kUminEdit,
  kUminUnit,
  kDriveI2t,
  kI2tCurrentLabel,
  kI2tCurrentEdit,
  kI2tCurrentUnit,
  kI2tTimeLabel,
  kI2tTimeEdit,
  kI2tTimeUnit,
  kDriveOverTemp,
  kTemp2Label,
  kTemp2Edit,
  kTemp2Unit,
};

}  // namespace drive_info

const ZelDialogTemplate& DriveInfoTemplate();

// The E2ROM size in words that a field typed in Kwords gives: its leading decimal number
// times 1024, 0 without one; none when it does not fit the 16-bit size (64 Kwords or more).
std::optional<std::uint16_t> E2romWordsOfField(const std::string& text);

}  // namespace dcservo

class CDriveInfo : public CMySetupDlg {
 public:
  explicit CDriveInfo(CZel_Setup& setup, CZel_Dialog* parent = nullptr);

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  bool OnKey(int key, unsigned modifiers) override;
  int OnInitDialog() override;
  void OnOK() override;

  bool InServiceMode() const { return m_ServiceMode != 0; }

 private:
  void RefreshState();
  void OnProtectionClick();

  int m_ServiceMode = 0;
};
