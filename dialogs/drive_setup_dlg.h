#pragma once
// The "Drive Setup" dialog: the one page on which a drive is brought into service, and the
// dialog that the host opens through EditSetup. It decides which controls exist, which are
// enabled or shown for the chosen control mode and sensors, and what a change, a click or a
// closing does to the setup; the binding itself is the host base's.

#include <string>

#include "dialogs/my_setup_dlg.h"
#include "names/dialog_names.h"

namespace dcservo {

inline constexpr unsigned kDriveSetupTemplate = 106;
inline constexpr unsigned kDriveSetupHelpContext = 262406;
inline constexpr unsigned kMotorSetupTimer = 2;

// Control ids of the drive setup template. Labels have ids too: the state refresh enables
// and hides them with their fields.
enum DriveSetupControl : int {
  kGuidanceBox = 1000,
  kCommission,

  kCanBox = 1010,
  kSaveCanBaudRate,
  kBaudRateLabel,

  kSupplyBox = 1020,
  kVdcLabel,
  kVdcEdit,
  kVdcUnit,
  kIlimEdit,
  kIlimUnit,
  kDetect,

  kCurrentBox = 1030,
  kCurrentKpLabel,
  kKpCEdit,
  kCurrentKiLabel,
  kKiCEdit,
  kCurrentTune,

  kSpeedBox = 1040,
  kSpeedKpLabel,
  kKpSEdit,
  kSpeedKiLabel,
  kKiSEdit,
  kSpeedIntegralLabel,
  kIPSatSEdit,
  kIPSatSUnit,
  kSpeedFeedforwardLabel,
  kSpeedAccelerationLabel,
  kSpeedKffaEdit,
  kSpeedSpeedLabel,
  kSpeedKffsEdit,
  kSpeedTune,

  kPositionBox = 1060,
  kPositionKpLabel,
  kKpPEdit,
  kPositionKiLabel,
  kKiPEdit,
  kPositionKdLabel,
  kKdPEdit,
  kPositionKdFilterLabel,
  kFilterDEdit,
  kPositionIntegralLabel,
  kIPSatPEdit,
  kIPSatPUnit,
  kPositionFeedforwardLabel,
  kPositionSpeedLabel,
  kPositionKffsEdit,
  kPositionAccelerationLabel,
  kPositionKffaEdit,
  kLimitSpeedLabel,
  kLimitSpeedEdit,
  kLimitSpeedUnit,
  kPositionTune,

  kModeBox = 1090,
  kModePosition,
  kModeSpeed,
  kModeTorque,
  kAdvanced,

  kInfoBox = 1100,
  kDriveInfo,

  kReferenceBox = 1110,
  kReferenceNo,
  kReferenceYes,
  kReferenceSetup,
  kDigitalReference,
  kDigitalReferenceLabel,
  kAnalogueReference,
  kAnalogueReferenceLabel,
  kAutoActivated,

  kAxisBox = 1120,
  kSaveAxisId,
  kAxisIdLabel,
  kAxisIdList,

  kProtectionsBox = 1130,
  kOverCurrent,
  kImaxLabel,
  kImaxEdit,
  kImaxUnit,
  kImaxTimeLabel,
  kImaxTimeEdit,
  kImaxTimeUnit,
  kPositionErrorCheck,
  kPositionErrorLabel,
  kPositionErrorEdit,
  kPositionErrorUnit,
  kPositionErrorTimeLabel,
  kPositionErrorTimeEdit,
  kPositionErrorTimeUnit,
  kSpeedErrorCheck,
  kSpeedErrorLabel,
  kSpeedErrorEdit,
  kSpeedErrorUnit,
  kSpeedErrorTimeLabel,
  kSpeedErrorTimeEdit,
  kSpeedErrorTimeUnit,
  kMotorOverTemp,
  kI2t,
  kI2tCurrentLabel,
  kI2tCurrentEdit,
  kI2tCurrentUnit,
  kI2tTimeLabel,
  kI2tTimeEdit,
  kI2tTimeUnit,

  kBrakeBox = 1170,
  kBrakeConnected,
  kBrakeVoltageLabel,
  kBrakeVoltageEdit,
  kBrakeVoltageUnit,

  kInputsBox = 1180,
  kActiveHighRowLabel,
  kActiveLowRowLabel,
  kEnableLabel,
  kLspLabel,
  kLsnLabel,
  kEnableActiveLow,
  kEnableActiveHigh,
  kLspActiveHigh,
  kLspActiveLow,
  kLsnActiveHigh,
  kLsnActiveLow,
  kInputTypeBox,
  kInputTypeSource,
  kInputTypeSink,

  kSwlsBox = 1200,
  kSwlsCheck,
  kNegativeLimitLabel,
  kNegativeSwlsEdit,
  kNegativeSwlsUnit,
  kPositiveLimitLabel,
  kPositiveSwlsEdit,
  kPositiveSwlsUnit,

  kHelpButton = 1210,
  kMotorSetup,
};

const ZelDialogTemplate& DriveSetupTemplate();

// The axis-ID selector's entries: "1" to "255", then "H/W" for the hardware switches (0).
std::string AxisIdEntry(int index);
int AxisIdOfEntry(const std::string& text);

}  // namespace dcservo

class CDriveSetupDlg : public CMySetupDlg {
 public:
  explicit CDriveSetupDlg(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CDriveSetupDlg() override;

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;
  void OnShowWindow(bool show) override;
  void OnTimer(unsigned id) override;

 private:
  void BindControls();
  void RefreshState();
  void ShowFeedforwardSets();
  void ShowReferenceTypeLabel();
  void ShowInputRowLabels(bool sink);
  void ShowInputType();
  void FillAxisIdList();
  void StoreAxisId();
  void DisableUnbuiltOpeners();
  void OnControlModeChanged(const std::string& name);
  void OnExternalReferenceChanged(const std::string& name);
  void OnSoftwareLimitChanged(const std::string& name);
  void OnSupplyOrSpeedLimitRefreshed(const std::string& name);
  void OnInputsTypeRefreshed(const std::string& name);
  void OnStateClick();
  void OnAxisIdSelected();
  void OnHelp();
  void OnOpener(int button);
  void ShowSetupAfterChild();

  int m_AxisIdSelector = dcservo::kAxisIdList;
};
