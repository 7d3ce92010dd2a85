#include "dialogs/advanced_dlg.h"

#include <cmath>
#include <span>
#include <vector>

#include "derive/gains.h"
#include "derive/pipelines.h"
#include "derive/timing_steps.h"
#include "host/zel_dialog_registry.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/timing.h"

namespace param = dcservo::param;

namespace dcservo {
namespace {

using namespace advanced;

// How a quantity counted in slow-loop samples scales with the period: its internal value is
// multiplied by r^power when the period is divided by r.
struct SlowLoopCount {
  int unit_type;
  int power;
};

constexpr SlowLoopCount kSlowLoopCounts[] = {
    {kUnitTime, 1},
    {kUnitRotarySpeed, -1},
    {kUnitLinearSpeed, -1},
    {kUnitRotaryAcceleration, -2},
    {kUnitLinearAcceleration, -2},
    {kUnitRotaryJerk, -3},
    {kUnitLinearJerk, -3},
    {kUnitCurrentRate, -1},
    {kUnitVoltageRate, -1},
};

// The factor for the parameter, 1 when its value does not follow the slow loop.
double SlowLoopFactor(const CZel_Parameter& p, double r) {
  if (p.IsStoredInBaseUnit()) return 1.0;
  for (const SlowLoopCount& c : kSlowLoopCounts) {
    if (c.unit_type == p.GetUnitType()) return std::pow(r, c.power);
  }
  return 1.0;
}


// What the I2t time of a pair is after the rescaling, if nothing refuses it.
struct I2tPair {
  const char* time;
  const char* current;
};
constexpr I2tPair kI2tPairs[] = {{param::t_I2t_D, param::I_I2t_D},
                                 {param::t_I2t_M, param::I_I2t_M}};

const int kFastLabels[] = {kFastDividerLabel, kFastPeriodLabel};
const int kSlowLabels[] = {kSlowDividerLabel, kSlowPeriodLabel};
const int kSchemeRadios[] = {kPositionOverCurrent, kPositionOverSpeed};
const int kLoopSet[] = {kLoopBox, kSlowLoop, kFastLoop};
const int kFreezeFields[] = {kFreezeBandLabel, kFreezeBandEdit, kFreezeBandUnit,
                             kFreezeTimeLabel, kFreezeTimeEdit, kFreezeTimeUnit};

constexpr unsigned kRed = kZelTextRed;
constexpr unsigned kBlack = kZelTextDefault;

}  // namespace

const ZelDialogRegistration kAdvancedRegistration(dialog_names::kAdvanced,
                                                  ZelFactoryOf<CAdvancedDialog>());

const char* ControlSchemeImage(int control_mode, int sensors, int position_control_type) {
  const bool encoder = sensors == SensorsConfiguration::EncoderOnMotor;
  switch (control_mode) {
    case ControlMode::Position:
      if (!encoder) return "3001";
      return position_control_type == PositionControlType::OverCurrentLoop ? "3017" : "3000";
    case ControlMode::Speed:
      return encoder ? "3062" : "3016";
    default:
      return "3063";
  }
}

void RescaleSlowLoopCounts(CZel_Setup& setup, double r) {
  struct I2tBefore {
    const I2tPair* pair;
    double expected_time;
  };
  std::vector<I2tBefore> i2t;
  for (const I2tPair& pair : kI2tPairs) {
    const CZel_Parameter* t = setup.FindOptionalParameter(pair.time);
    if (t && setup.FindOptionalParameter(pair.current))
      i2t.push_back({&pair, t->GetValueInBaseUnit() * SlowLoopFactor(*t, r)});
  }

  const CZel_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    CZel_Parameter* p = all[i];
    if (!p) continue;
    const double factor = SlowLoopFactor(*p, r);
    if (factor == 1.0) continue;
    const double value = p->GetValueInInternalUnit() * factor;
    const bool taken = p->SetValueInInternalUnit(value) == 1 &&
                       p->GetValueInInternalUnit() == StoreAs(p->GetType(), value);
    if (taken) continue;
    // Refused with the ranges of the old period: bring the layers together and try again.
    SynchroniseSetup(setup);
    p->SetValueInInternalUnit(value);
  }

  // An I2t time that could not keep its value keeps the protection's I2t instead.
  for (const I2tBefore& before : i2t) {
    const double now = setup.GetParameterValueInBaseUnit(before.pair->time);
    if (now == before.expected_time || now <= 0.0) continue;
    const double current = setup.GetParameterValueInBaseUnit(before.pair->current);
    setup.SetParameterValueInBaseUnit(before.pair->current,
                                      current * std::sqrt(before.expected_time / now));
  }
}

}  // namespace dcservo

using namespace dcservo;
using namespace dcservo::advanced;

CAdvancedDialog::CAdvancedDialog(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kAdvancedTemplate, 1, nullptr, parent) {
  AddSwitchParameterControls(param::PositionControlType, kPositionOverCurrent, kPositionOverSpeed);
  if (HasParameter(param::PosSpd_in_FastLoop))
    AddSwitchParameterControls(param::PosSpd_in_FastLoop, kSlowLoop, kFastLoop);
  if (HasParameter(param::isSpeedEstimator))
    AddCheckParameterControls(param::isSpeedEstimator, kSpeedEstimator);
  if (HasParameter(param::SpeedForward))
    AddSwitchParameterControls(param::SpeedForward, kFeedforwardSpeedLoop, kFeedforwardCurrentLoop);
  if (HasFreezeControl()) {
    AddCheckParameterControls(param::isFreezeControl, kFreezeCheck);
    AddParameterControls(param::FreezeControl_errband, kFreezeBandEdit, kFreezeBandUnit);
    AddParameterControls(param::FreezeControl_time, kFreezeTimeEdit, kFreezeTimeUnit);
  }
}

const ZelMessageMap* CAdvancedDialog::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {ZelOnClickedEach(kSchemeRadios, &CAdvancedDialog::OnSchemeClick),
       {ZelOnClicked(kHelpButton, &CAdvancedDialog::OnHelp)}});
  return &map;
}

bool CAdvancedDialog::FeedforwardChoice() const {
  return HasParameter(param::SpeedForward) && QuietInt(param::ControlMode) != ControlMode::Current;
}

bool CAdvancedDialog::HasFreezeControl() const {
  return HasParameter(param::POSOKLIM_FC) && HasParameter(param::TONPOSOK_FC);
}

// --- initialisation and the state refresh ---------------------------------------------------

int CAdvancedDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  const int mode = QuietInt(param::ControlMode);
  const int sensors = QuietInt(param::SensorsConfiguration);
  const bool position = mode == ControlMode::Position;
  const bool encoder = sensors == SensorsConfiguration::EncoderOnMotor;

  ShowChildren(kSchemeRadios, position && encoder);
  const bool ff = FeedforwardChoice();
  EnableChild(kFeedforwardBox, ff);
  EnableChild(kFeedforwardCurrentLoop, ff);

  const bool freeze = HasFreezeControl() && position;
  EnableChild(kFreezeBox, freeze);
  EnableChild(kFreezeCheck, freeze);
  EnableChildren(kFreezeFields, freeze);

  if (!HasParameter(param::PosSpd_in_FastLoop)) {
    ShowChildren(kLoopSet, 0);
  } else {
    EnableChild(kLoopBox, mode < ControlMode::Current);
    EnableChild(kSlowLoop, mode < ControlMode::Current);
    EnableChild(kFastLoop,
                mode < ControlMode::Current && sensors < SensorsConfiguration::TachoAndEncoderOnLoad);
  }
  const bool estimator = HasParameter(param::isSpeedEstimator) && encoder;
  EnableChild(kSpeedComputationBox, estimator);
  EnableChild(kSpeedEstimator, estimator);

  m_LastSlowPeriod = m_SlowTarget = QuietValue(param::Ts_S);
  m_FastTarget = QuietValue(param::Ts_C);

  SetChildTextColour(kFastMarker, kRed);
  SetChildTextColour(kSlowMarker, kRed);
  ShowChild(kFastMarker, 0);
  ShowChild(kSlowMarker, 0);
  UpdateData(0);
  return 1;
}

void CAdvancedDialog::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CAdvancedDialog::RefreshState() {
  const int mode = QuietInt(param::ControlMode);
  const int sensors = QuietInt(param::SensorsConfiguration);
  const int structure = QuietInt(param::PositionControlType);
  SetImage(kSchemePicture, ControlSchemeImage(mode, sensors, structure));

  const bool ff = FeedforwardChoice();
  EnableChild(kFeedforwardBox, ff);
  EnableChild(kFeedforwardCurrentLoop, ff);
  // Feedforward into the speed loop needs a speed loop behind the position loop.
  EnableChild(kFeedforwardSpeedLoop, ff && sensors == SensorsConfiguration::EncoderOnMotor &&
                                         IsPositionOverSpeedLoop(mode, structure));

  EnableChildren(kFreezeFields, HasFreezeControl() && QuietInt(param::isFreezeControl) == 1 &&
                                    mode == ControlMode::Position);
}

// --- changes --------------------------------------------------------------------------------

void CAdvancedDialog::OnChangedParameterValue(const std::string& name) {
  // Nothing here is a gain or the sensors: no other name goes to the base handlers, whose
  // recomputations would run on a timing that is still moving.
  if (!zel::NamesEqual(name, param::PWM_freq)) return;
  ApplyPwmFrequencyChange(m_Setup, m_FastTarget, m_SlowTarget);
  for (const char* shown : {param::CLPER, param::SLPER, param::Ts_S, param::Ts_C, param::PWMperiod})
    RefreshParameterControls(shown);
  UpdateData(0);
}

void CAdvancedDialog::DeriveTiming() {
  ComputeTs_S(m_Setup);
  ComputeTs_C(m_Setup);
  ComputePWMPER(m_Setup);
  ComputeSATPWM(m_Setup);
  ComputePWMperiod(m_Setup);
  if (HasParameter(param::SpeedForward)) ApplySpeedForwardRule(m_Setup);
}

bool CAdvancedDialog::RescaleIfSlowPeriodMoved() {
  const double now = QuietValue(param::Ts_S);
  if (!(m_LastSlowPeriod > 0.0) || now == m_LastSlowPeriod || !(now > 0.0)) return false;
  const double r = m_LastSlowPeriod / now;
  m_LastSlowPeriod = now;
  RescaleSlowLoopCounts(m_Setup, r);
  return true;
}

void CAdvancedDialog::OnRefreshParameterValue(const std::string& name) {
  const bool slow_divider = zel::NamesEqual(name, param::SLPER);
  const bool fast_divider = zel::NamesEqual(name, param::CLPER);
  // The slow loop is never faster than the fast loop.
  const bool lifted = QuietValue(param::CLPER) > QuietValue(param::SLPER);
  if (lifted) m_Setup.SetParameterValueInBaseUnit(param::SLPER, QuietValue(param::CLPER));
  DeriveTiming();

  // A slow divider lifted by the fast one moves the slow period as much as a typed one.
  const bool rescaled = RescaleIfSlowPeriodMoved();
  if (rescaled || slow_divider || zel::NamesEqual(name, param::PWM_freq)) Sync();

  MarkPeriods();
  if (fast_divider) m_FastTarget = QuietValue(param::Ts_C);
  if (slow_divider || lifted) m_SlowTarget = QuietValue(param::Ts_S);
  RefreshAllParameters(0);
  UpdateData(0);
}

void CAdvancedDialog::MarkPeriod(double minimum, double period, int marker,
                                 std::span<const int> labels) {
  if (!(minimum > 0.0)) return;
  const bool outside = minimum > period;
  for (int id : labels) SetChildTextColour(id, outside ? kRed : kBlack);
  ShowChild(marker, outside);
}

// Both periods, whatever moved them: a new PWM frequency moves both.
void CAdvancedDialog::MarkPeriods() {
  MarkPeriod(FastLoopPeriodMinimum(m_Setup), QuietValue(param::Ts_C), kFastMarker, kFastLabels);
  MarkPeriod(SlowLoopPeriodMinimum(m_Setup), QuietValue(param::Ts_S), kSlowMarker, kSlowLabels);
}

// --- commands -------------------------------------------------------------------------------

void CAdvancedDialog::OnSchemeClick() { UpdateData(0); }

void CAdvancedDialog::OnHelp() { ShowHelpTopic(kAdvancedHelpContext); }

void CAdvancedDialog::OnOK() {
  const std::vector<std::string> refusals = CheckMinimumPeriods(m_Setup);
  for (const std::string& text : refusals) MessageBox(text, {}, kMbOk | kMbIconWarning);
  if (refusals.empty()) CMySetupDlg::OnOK();
}
