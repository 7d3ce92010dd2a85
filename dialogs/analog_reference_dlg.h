#pragma once
// The "External Reference Setup" dialog: where the drive takes its reference from when an
// external device supplies it. Analogue: a voltage mapped linearly onto a position, speed or
// current range (by control mode), with a filter and a dead band. Digital: pulse and
// direction or an encoder signal, followed through a gear ratio.

#include <string>

#include "dialogs/my_setup_dlg.h"

namespace dcservo {

inline constexpr unsigned kExternalReferenceTemplate = 111;
inline constexpr unsigned kExternalReferenceHelpContext = 262401;

namespace external_reference {

enum Control : int {
  kSourceBox = 1400,
  kDigital,
  kAnalogue,

  kAnalogueBox = 1410,
  kMaximumLabel,
  kMaximumEdit,
  kMaximumUnit,
  kMinimumLabel,
  kMinimumEdit,
  kPicture,
  kLowVoltageLabel,
  kHighVoltageLabel,
  kUseFilter,
  kFilterLabel,
  kFilterEdit,
  kFilterUnit,
  kDeadBandPointLabel,
  kDeadBandPointEdit,
  kDeadBandPointUnit,
  kDeadBandRangeLabel,
  kDeadBandRangeEdit,
  kTest,

  kDigitalBox = 1440,
  kPulseDirection,
  kIncrementalEncoder,
  kGearRatioLabel,
  kSlaveLabel,
  kSlaveEdit,
  kYourMotorLabel,
  kMasterLabel,
  kMasterEdit,
  kReferenceLabel,

  kLimitBox = 1460,
  kLimitCheck,
  kFirstLimitEdit,
  kFirstLimitUnit,
  kSecondLimitEdit,
  kSecondLimitUnit,

  kHelpButton = 1470,
};

}  // namespace external_reference

const ZelDialogTemplate& ExternalReferenceTemplate();

// The input voltages at the ends of the picture's signal axis, by `AnalogueInputsRange`.
struct InputVoltageLabels {
  const char* low;
  const char* high;
};
InputVoltageLabels InputVoltageLabelsFor(int analogue_inputs_range);

}  // namespace dcservo

class CAnalogReferenceDlg : public CMySetupDlg {
 public:
  explicit CAnalogReferenceDlg(CZel_Setup& setup, CZel_Dialog* parent = nullptr);

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnChangedParameterUnit(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;

 private:
  int Mode() const;
  bool Analogue() const;
  void BindReferenceRange(const char* maximum, const char* minimum);
  void BindDeadBand();
  void FollowLeaderUnit(const char* leader, const char* partner);
  const char* LimitCheckText() const;
  void RefreshState();
  void ShowFilter();
  void OnUseFilterChanged(const std::string& name);
  void OnSourceChanged(const std::string& name);
  void OnDeadBandChanged(const std::string& name);
  void OnStateClick();
  void OnTest();
  void OnHelp();

  bool m_HasAnalogueInput = false;
};
