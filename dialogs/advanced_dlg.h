#pragma once
// The "Advanced" dialog: the control structure and the timing of the drive. Its own work is
// keeping the timing consistent: a new PWM frequency keeps the loop periods, a new slow-loop
// period keeps the physical value of everything counted in slow-loop samples, and periods
// below the drive's minimum are marked while editing and refused on OK.

#include <span>
#include <string>

#include "dialogs/my_setup_dlg.h"

namespace dcservo {

inline constexpr unsigned kAdvancedTemplate = 110;
inline constexpr unsigned kAdvancedHelpContext = 262419;

namespace advanced {

enum Control : int {
  kSchemeBox = 1300,
  kSchemePicture,
  kPositionOverCurrent,
  kPositionOverSpeed,

  kSpeedComputationBox = 1310,
  kSpeedEstimator,

  kFeedforwardBox = 1320,
  kFeedforwardSpeedLoop,
  kFeedforwardCurrentLoop,

  kInputBox = 1330,
  kPwmFrequencyLabel,
  kPwmFrequencyEdit,
  kPwmFrequencyUnit,
  kFastDividerLabel,
  kFastDividerEdit,
  kSlowDividerLabel,
  kSlowDividerEdit,

  kComputedBox = 1340,
  kPwmPeriodLabel,
  kPwmPeriodEdit,
  kPwmPeriodUnit,
  kFastPeriodLabel,
  kFastMarker,
  kFastPeriodEdit,
  kFastPeriodUnit,
  kSlowPeriodLabel,
  kSlowMarker,
  kSlowPeriodEdit,
  kSlowPeriodUnit,

  kLoopBox = 1360,
  kSlowLoop,
  kFastLoop,

  kFreezeBox = 1370,
  kFreezeCheck,
  kFreezeBandLabel,
  kFreezeBandEdit,
  kFreezeBandUnit,
  kFreezeTimeLabel,
  kFreezeTimeEdit,
  kFreezeTimeUnit,

  kHelpButton = 1390,
};

}  // namespace advanced

const ZelDialogTemplate& AdvancedTemplate();

// The picture of the control scheme in force: "3017", "3000", ... (images of the user
// interface, named by their numbers).
const char* ControlSchemeImage(int control_mode, int sensors, int position_control_type);

// After the slow-loop period went from T_old to T_new (r = T_old / T_new), every parameter
// kept in internal units that are counted in slow-loop samples gets its internal value
// rescaled so that its physical value stays: times by r, speeds and rates by 1/r,
// accelerations by 1/r^2, jerks by 1/r^3. A value the store cannot take as written is
// written again after a sync. Parameters kept in base units are physical already and stay.
void RescaleSlowLoopCounts(CZel_Setup& setup, double r);

}  // namespace dcservo

class CAdvancedDialog : public CMySetupDlg {
 public:
  explicit CAdvancedDialog(CZel_Setup& setup, CZel_Dialog* parent = nullptr);

  const ZelMessageMap* GetMessageMap() const override;
  void DoDataExchange(ZelDataExchange* pDX) override;
  int OnInitDialog() override;
  void OnOK() override;
  void OnChangedParameterValue(const std::string& name) override;
  void OnRefreshParameterValue(const std::string& name) override;

 private:
  void RefreshState();
  bool FeedforwardChoice() const;
  bool HasFreezeControl() const;
  void DeriveTiming();
  bool RescaleIfSlowPeriodMoved();
  void MarkPeriod(double minimum, double period, int marker, std::span<const int> labels);
  void MarkPeriods();
  void OnSchemeClick();
  void OnHelp();

  double m_LastSlowPeriod = 0.0;
  double m_FastTarget = 0.0;
  double m_SlowTarget = 0.0;
};
