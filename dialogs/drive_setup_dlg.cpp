#include "dialogs/drive_setup_dlg.h"

#include <cctype>
#include <cmath>
#include <string_view>

#include "derive/gains.h"
#include "derive/parameter_ranges.h"
#include "derive/pipelines.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_names.h"
#include "host/zel_numeric.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "units/control_structure.h"
#include "units/drive_modes.h"

namespace option = dcservo::option;
namespace param = dcservo::param;

namespace dcservo {
namespace {

const char* const kGuidance[] = {
    "Step 1. In the <<Control mode>> group box, select what do you want to control: position, "
    "speed or torque.",
    "Step 2. In the <<External reference>> group box, select <<Yes>> if your drive gets a "
    "position, speed or torque reference from an external device. Press the <<Setup>> button "
    "to select the reference type: analogue or pulse & direction or incremental encoder and its "
    "parameters.",
    "Step 3.\tIn the <<Drive operation parameters>> group box, set the value of the DC voltage "
    "power supply. Use the <<Detect>> button to measure its actual value as applied to the "
    "drive. Also set the <<Current limit>> parameter, i.e. the maximum current value used by "
    "the drive to control the motor.",
    "Step 4.\tIn the <<Current controller>> group box, set the current controller parameters "
    "Kp (proportional) and Ki (integral). Use the <<Tune & Test>> button to automatically "
    "compute the current controller parameters and to test the current loop behavior.",
    "Step 5.\tIn the <<Speed Controller>> group box, set the speed controller parameters Kp "
    "(proportional), Ki (integral), Integral limit (saturation limit for the integral term of "
    "the controller) and the acceleration Feedforward. Use the <<Tune & Test>> button to "
    "automatically compute the speed controller parameters and to test the speed loop "
    "response. Before tuning the speed controller, make sure to set the right value for the "
    "ratio load inertia /motor inertia or to identify the total inertia. Note that the "
    "controller tuning does not include the acceleration feedforward. Set initially this value "
    "to 0, and then establish the other controller parameters. Finally increase gradually the "
    "acceleration feedforward and check the speed loop response.",
    "Step 6.\tIn the <<Position Controller>> group box, set the position controller parameters "
    "Kp (proportional), Ki (integral), Kd (derivative), Kd filter (filtering coefficient for "
    "the derivative term), Integral limit (saturation limit for the integral term of the "
    "controller), Speed limit (saturation limit for the position controller output, seen as a "
    "speed reference value), acceleration and speed feedforward. Use the <<Tune & Test>> "
    "button to automatically compute the position controller parameters and to test the "
    "position loop behavior. Before tuning the position controller, make sure to set the right "
    "value for the ratio load inertia /motor inertia or to identify the total inertia. Note "
    "that the controller tuning does not include the acceleration and speed feedforward. Set "
    "initially these values to 0, and then establish the other controller parameters. Finally "
    "increase gradually the acceleration and speed feedforward and check the speed loop "
    "behavior.",
    "Step 7.\tIn the <<Axis ID Selection>> group box, choose the desired axis ID of the drive "
    "for network communication. Select \"H/W\" if you want to set the axis ID automatically "
    "using the dedicated hardware switches, jumpers or solder joints.",
    "Step 8. In the <<Protections>> group box, select and parameterize the protections that "
    "you want to activate.",
    "Step 9. In the <<External brake resistor>> group box, check <<Connected>> if you have a "
    "brake resistor connected to the drive. Set the voltage level at which the drive starts to "
    "clamp the supply via the brake resistor.",
    "Step 10. In the <<Inputs polarity>> check box, select the active levels for the Enable "
    "and the two limit switch inputs.",
    "",
};

constexpr const char kCanOpenAxisWarning[] =
    "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any "
    "value over 127 will set the drive as non-configured and further CANopen communication "
    "will be disabled until a valid Axis ID will be set in the drive. Leave the drive with a "
    "non-configured axis ID only if you intend to set the Axis ID later via a CANopen master "
    "using CiA305 LSS protocol.";

constexpr int kAxisIdEntries = 256;
constexpr int kHardwareAxisEntry = 255;
// Entries 127 to 254 are the identifiers 128 to 255, which CANopen does not accept.
constexpr int kFirstNonCanOpenEntry = 127;

// --- sets of controls that the rules enable or show together ------------------------------

constexpr int kCurrentControllerSet[] = {kCurrentBox, kCurrentKpLabel, kCurrentKiLabel, kKpCEdit,
                                         kKiCEdit,    kCurrentTune};
constexpr int kSpeedControllerSet[] = {
    kSpeedBox,   kSpeedKpLabel,  kSpeedKiLabel,   kSpeedIntegralLabel, kSpeedFeedforwardLabel,
    kSpeedAccelerationLabel,     kKpSEdit,        kKiSEdit,            kIPSatSEdit,
    kIPSatSUnit, kSpeedKffaEdit, kSpeedTune};
constexpr int kPositionControllerSet[] = {
    kPositionBox,        kPositionKpLabel,           kPositionKiLabel,  kPositionKdLabel,
    kPositionKdFilterLabel,      kPositionIntegralLabel,     kPositionFeedforwardLabel,
    kLimitSpeedLabel,    kPositionSpeedLabel,        kPositionAccelerationLabel,
    kKpPEdit,            kKiPEdit,                   kKdPEdit,          kFilterDEdit,
    kIPSatPEdit,         kIPSatPUnit,                kPositionKffsEdit, kLimitSpeedEdit,
    kLimitSpeedUnit,     kPositionTune};
constexpr int kLoadSpeedLimitSet[] = {kLimitSpeedLabel, kLimitSpeedEdit, kLimitSpeedUnit};
constexpr int kSpeedFeedforwardSet[] = {kSpeedFeedforwardLabel, kSpeedKffaEdit, kSpeedKffsEdit,
                                        kSpeedAccelerationLabel, kSpeedSpeedLabel};
constexpr int kPositionFeedforwardSet[] = {kPositionFeedforwardLabel, kPositionKffaEdit,
                                           kPositionKffsEdit, kPositionAccelerationLabel,
                                           kPositionSpeedLabel};
constexpr int kBrakeVoltageSet[] = {kBrakeVoltageLabel, kBrakeVoltageEdit, kBrakeVoltageUnit};
constexpr int kEnablePolaritySet[] = {kEnableLabel, kEnableActiveLow, kEnableActiveHigh};
constexpr int kSwlsSwitchSet[] = {kSwlsBox, kSwlsCheck};
constexpr int kSwlsLimitSet[] = {kNegativeLimitLabel, kPositiveLimitLabel, kNegativeSwlsEdit,
                                 kPositiveSwlsEdit,   kNegativeSwlsUnit,   kPositiveSwlsUnit};
constexpr int kOverCurrentSet[] = {kImaxLabel,     kImaxTimeLabel, kImaxEdit,
                                   kImaxTimeEdit,  kImaxUnit,      kImaxTimeUnit};
constexpr int kI2tSet[] = {kI2tCurrentLabel, kI2tTimeLabel, kI2tCurrentEdit,
                           kI2tTimeEdit,     kI2tCurrentUnit, kI2tTimeUnit};
constexpr int kPositionErrorSet[] = {kPositionErrorLabel, kPositionErrorTimeLabel,
                                     kPositionErrorEdit,  kPositionErrorTimeEdit,
                                     kPositionErrorUnit,  kPositionErrorTimeUnit};
constexpr int kSpeedErrorSet[] = {kSpeedErrorLabel, kSpeedErrorTimeLabel, kSpeedErrorEdit,
                                  kSpeedErrorTimeEdit, kSpeedErrorUnit, kSpeedErrorTimeUnit};
constexpr int kCanSet[] = {kBaudRateLabel, kIdcCanBaudRate};
constexpr int kAxisSet[] = {kAxisIdLabel, kAxisIdList};

// Clicks after which the enabled state may have changed.
constexpr int kStateClicks[] = {kModePosition,  kModeSpeed,      kModeTorque,      kReferenceNo,
                                kReferenceYes,  kOverCurrent,    kPositionErrorCheck,
                                kSpeedErrorCheck, kI2t,          kBrakeConnected,  kSwlsCheck,
                                kSaveCanBaudRate, kSaveAxisId};

// --- the buttons that open other dialogs ---------------------------------------------------

enum BeforeOpening : unsigned {
  kSyncBefore = 0x1,
  kNoticeBlockedShaft = 0x2,
  kRangesBefore = 0x4,
};

struct Opener {
  int button;
  const char* dialog;  // its name in the dialog registry
  unsigned before;
};

constexpr Opener kOpeners[] = {
    {kDetect, dialog_names::kVdcTest, kSyncBefore},
    {kCurrentTune, dialog_names::kCurrentTest, kSyncBefore | kNoticeBlockedShaft},
    {kSpeedTune, dialog_names::kSpeedTest, kSyncBefore | kRangesBefore},
    {kPositionTune, dialog_names::kPositionTest, kSyncBefore},
    {kReferenceSetup, dialog_names::kExternalReference, kSyncBefore},
    {kMotorSetup, dialog_names::kMotorSetup, kSyncBefore},
    {kAdvanced, dialog_names::kAdvanced, kSyncBefore},
    {kDriveInfo, dialog_names::kDriveInfo, kSyncBefore},
    {kCommission, dialog_names::kCommission, kSyncBefore},
};

const Opener* FindOpener(int button) {
  for (const Opener& o : kOpeners) {
    if (o.button == button) return &o;
  }
  return nullptr;
}

const int kOpenerButtons[] = {kDetect,         kCurrentTune, kSpeedTune, kPositionTune,
                              kReferenceSetup, kMotorSetup,  kAdvanced,  kDriveInfo,
                              kCommission};

// --- reading the setup; presence and optional names are probed without error reports ------

bool HasParameter(const CZel_Setup& setup, std::string_view name) {
  return setup.FindOptionalParameter(name) != nullptr;
}

bool BrakeDisabled(const CZel_Setup& setup) {
  return setup.GetIntOption(option::DisableBrake) == 1;
}
bool EnablePolarityHidden(const CZel_Setup& setup) {
  return setup.GetIntOption(option::hideEnablePolarity) == 1;
}
bool HasSaveChecks(const CZel_Setup& setup) {
  return HasParameter(setup, param::save_CAN_baudrate) && HasParameter(setup, param::save_axis_id);
}

// -1 when the drive does not say whether its input type can be programmed.
int InputsTypeProgrammable(const CZel_Setup& setup) {
  if (setup.GetOptionNoError(option::IsInputsTypeProgrammable).empty()) return -1;
  return setup.GetIntOption(option::IsInputsTypeProgrammable);
}

// 0 becomes 1, anything else 0; a missing parameter is left alone.
void InvertPolarity(CZel_Setup& setup, std::string_view name) {
  CZel_Parameter* p = setup.FindOptionalParameter(name);
  if (p) p->SetValueInBaseUnit(p->GetValueInBaseUnit() == 0.0 ? 1.0 : 0.0);
}

std::string FormatInteger(double value) {
  return std::to_string(ZelSaturatingCast<long long>(value));
}

}  // namespace

const ZelDialogRegistration kRegistration(dialog_names::kDriveSetup,
                                          ZelFactoryOf<CDriveSetupDlg>());

std::string AxisIdEntry(int index) {
  return index == kHardwareAxisEntry ? "H/W" : std::to_string(index + 1);
}

int AxisIdOfEntry(const std::string& text) {
  int value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = value * 10 + (c - '0');
    if (value > 1000000) break;  // no entry is that long; keeps the number in range
  }
  return value;
}

}  // namespace dcservo

using namespace dcservo;

CDriveSetupDlg::CDriveSetupDlg(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kDriveSetupTemplate, 1, kGuidance, parent) {
  ComputeScaledParameters(m_Setup);
  ComputeParameterRanges(m_Setup);
  if (HasParameter(param::SpeedForward)) ApplySpeedForwardRule(m_Setup);
  BindControls();
  EnableCANSettings();
}

CDriveSetupDlg::~CDriveSetupDlg() = default;

void CDriveSetupDlg::BindControls() {
  AddSwitchParameterControls(param::ControlMode, kModePosition, kModeTorque);
  AddSwitchParameterControls(param::ExternalReference, kReferenceNo, kReferenceYes);
  AddSwitchParameterControls(param::isAnalogueReference, {kDigitalReference, kAnalogueReference});

  if (!BrakeDisabled(m_Setup)) {
    AddCheckParameterControls(param::isBrakeResistor, kBrakeConnected);
    AddParameterControls(param::Vbrake, kBrakeVoltageEdit, kBrakeVoltageUnit);
  }
  // The enable input's buttons sit the other way round from the limit switches': value 0 is
  // its active-low row.
  if (!EnablePolarityHidden(m_Setup))
    AddSwitchParameterControls(param::EnablePolarity, {kEnableActiveLow, kEnableActiveHigh});
  AddSwitchParameterControls(param::LSPPolarity, {kLspActiveHigh, kLspActiveLow});
  AddSwitchParameterControls(param::LSNPolarity, {kLsnActiveHigh, kLsnActiveLow});
  if (HasParameter(param::InputsPolarityType))
    AddSwitchParameterControls(param::InputsPolarityType, {kInputTypeSource, kInputTypeSink});
  if (HasParameter(param::isSWLS)) {
    AddCheckParameterControls(param::isSWLS, kSwlsCheck);
    AddParameterControls(param::Negative_SWLS, kNegativeSwlsEdit, kNegativeSwlsUnit);
    AddParameterControls(param::Positive_SWLS, kPositiveSwlsEdit, kPositiveSwlsUnit);
  }
  if (HasSaveChecks(m_Setup)) {
    AddCheckParameterControls(param::save_CAN_baudrate, kSaveCanBaudRate);
    AddCheckParameterControls(param::save_axis_id, kSaveAxisId);
  }
}

const ZelMessageMap* CDriveSetupDlg::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {ZelOnClickedEach(kStateClicks, &CDriveSetupDlg::OnStateClick),
       ZelOnClickedEach(kOpenerButtons, &CDriveSetupDlg::OnOpener),
       {ZelOnSelChange(kAxisIdList, &CDriveSetupDlg::OnAxisIdSelected),
        ZelOnClicked(kHelpButton, &CDriveSetupDlg::OnHelp)}});
  return &map;
}

// --- the state refresh ----------------------------------------------------------------------

void CDriveSetupDlg::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CDriveSetupDlg::RefreshState() {
  const CZel_Setup& s = m_Setup;
  const int mode = QuietInt(param::ControlMode);
  const bool P = mode == ControlMode::Position, S = mode == ControlMode::Speed;
  const bool position_over_speed =
      IsPositionOverSpeedLoop(mode, QuietInt(param::PositionControlType));
  const bool tacho_only =
      QuietInt(param::SensorsConfiguration) == SensorsConfiguration::TachoOnMotor;

  EnableChild(kModePosition, !tacho_only);
  EnableChildren(kCurrentControllerSet, 1);
  EnableChildren(kSpeedControllerSet, S || position_over_speed);
  EnableChildren(kPositionControllerSet, P);
  ShowChildren(kLoadSpeedLimitSet, position_over_speed);
  EnableChild(kPositionKffaEdit, position_over_speed);
  ShowFeedforwardSets();

  EnableChild(kMotorOverTemp, s.GetIntOption(option::DisableMotorTemperature) == 0 &&
                                  QuietInt(param::isMotorTemperatureSensor) == 1);
  EnableChildren(kBrakeVoltageSet, QuietInt(param::isBrakeResistor) == 1 && !BrakeDisabled(s));
  ShowChildren(kEnablePolaritySet, !EnablePolarityHidden(s));

  const bool swls_usable = HasParameter(param::isSWLS) && !tacho_only;
  EnableChildren(kSwlsSwitchSet, swls_usable);
  EnableChildren(kSwlsLimitSet, swls_usable && QuietInt(param::isSWLS) == 1);

  const bool external = QuietInt(param::ExternalReference) == 1;
  EnableChild(kReferenceSetup, external);
  EnableChildren(kOverCurrentSet, QuietInt(param::isOverCurrent) == 1);
  EnableChildren(kI2tSet, QuietInt("isMotori2t") != 0);
  EnableChild(kPositionErrorCheck, P);
  EnableChildren(kPositionErrorSet, P && QuietInt(param::isPositionControlError) != 0);
  EnableChild(kSpeedErrorCheck, S);
  EnableChildren(kSpeedErrorSet, S && QuietInt(param::isSpeedControlError) != 0);
  EnableChild(kAutoActivated, external);

  if (HasSaveChecks(s)) {
    EnableChildren(kCanSet, QuietInt(param::save_CAN_baudrate) == 1);
    EnableChildren(kAxisSet, QuietInt(param::save_axis_id) == 1);
  } else {
    ShowChild(kSaveCanBaudRate, 0);
    ShowChild(kSaveAxisId, 0);
  }
  ShowReferenceTypeLabel();
  RefreshAllParameters(0);
  DisableUnbuiltOpeners();
}

void CDriveSetupDlg::ShowFeedforwardSets() {
  if (!HasParameter(param::SpeedForward)) {
    ShowChild(kSpeedKffsEdit, 0);
    ShowChild(kSpeedSpeedLabel, 0);
    return;
  }
  const int mode = QuietInt(param::ControlMode);
  const int structure = QuietInt(param::PositionControlType);
  // Only the slow loop has feedforward inputs; with the loops in the fast one neither shows,
  // and torque control has no outer loop to feed forward.
  const bool slow_loop = QuietInt(param::PosSpd_in_FastLoop) == 0;
  const bool speed_set = slow_loop && mode == ControlMode::Speed;
  const bool position_set =
      slow_loop && mode == ControlMode::Position &&
      (structure == PositionControlType::OverCurrentLoop ||
       structure == PositionControlType::OverSpeedLoop);
  ShowChildren(kSpeedFeedforwardSet, speed_set);
  ShowChildren(kPositionFeedforwardSet, position_set);
  if (speed_set) EnableChildren(kSpeedFeedforwardSet, 1);
  if (position_set) EnableChildren(kPositionFeedforwardSet, 1);
}

void CDriveSetupDlg::ShowReferenceTypeLabel() {
  SetChildText(kDigitalReferenceLabel, QuietInt(param::DigitalReferenceType) == 0
                                           ? "Pulse && Direction"
                                           : "Incremental Encoder");
}

void CDriveSetupDlg::ShowInputRowLabels(bool sink) {
  SetChildText(kActiveHighRowLabel, sink ? "Active high (Connected to +Vlog)"
                                         : "Active high (Open/No connection)");
  SetChildText(kActiveLowRowLabel,
               sink ? "Active low (Open/No connection)" : "Active low (Connected to GND)");
}

void CDriveSetupDlg::ShowInputType() {
  const bool has_type = HasParameter(param::InputsPolarityType);
  const int programmable = InputsTypeProgrammable(m_Setup);
  EnableChild(kInputTypeSink, has_type && programmable == 1);
  EnableChild(kInputTypeSource, has_type && programmable == 1);
  auto show_type = [this](bool sink) {
    CheckDlgButton(kInputTypeSink, sink);
    CheckDlgButton(kInputTypeSource, !sink);
    ShowInputRowLabels(sink);
  };
  if (programmable == -1) {
    // Drives of the BX family have sinking inputs.
    show_type(m_Setup.GetDescription().find("BX") != std::string::npos);
  } else if (has_type) {
    ShowInputRowLabels(QuietInt(param::InputsPolarityType) == 1);
  } else {
    const int asr = QuietInternalInt(param::ASR);
    show_type((asr & 0x4) == 0);
  }
}

void CDriveSetupDlg::DisableUnbuiltOpeners() {
  for (const Opener& o : kOpeners) {
    if (!ZelIsDialogRegistered(o.dialog)) EnableOpener(o.button, o.dialog, false);
  }
}

// --- initialisation ------------------------------------------------------------------------

int CDriveSetupDlg::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetButtonImage(kMotorSetup, "TO_MOTORSETUP");
  {
    const bool analogue_input = m_Setup.FindVariable(param::CADIN, 0) != nullptr &&
                                m_Setup.FindOptionalParameter(param::CADIN) != nullptr;
    EnableChild(kAnalogueReferenceLabel, analogue_input);
  }
  const bool brake = !BrakeDisabled(m_Setup);
  EnableChild(kBrakeConnected, brake);
  EnableChild(kBrakeBox, brake);
  FillAxisIdList();
  ShowReferenceTypeLabel();
  ShowInputType();
  CenterWindow();
  return 1;
}

void CDriveSetupDlg::FillAxisIdList() {
  ListResetContent(m_AxisIdSelector);
  for (int i = 0; i < kAxisIdEntries; ++i) ListAddString(m_AxisIdSelector, AxisIdEntry(i));
  const int id = QuietInt(param::Axis_ID_list);
  const std::string wanted = id == 0 ? "H/W" : FormatInteger(id);
  for (int i = 0; i < kAxisIdEntries; ++i) {
    if (ListGetText(m_AxisIdSelector, i) == wanted) {
      ListSetCurSel(m_AxisIdSelector, i);
      return;
    }
  }
}

void CDriveSetupDlg::OnShowWindow(bool show) {
  CMySetupDlg::OnShowWindow(show);
  if (!show) return;
  CenterWindow();
  SetTimer(kMotorSetupTimer, 1);
}

void CDriveSetupDlg::OnTimer(unsigned id) {
  if (id != kMotorSetupTimer) {
    CMySetupDlg::OnTimer(id);
    return;
  }
  KillTimer(kMotorSetupTimer);
  std::unique_ptr<CZel_Dialog> motor = ZelCreateDialog(dialog_names::kMotorSetup, m_Setup, this);
  if (!motor) return;
  motor->DoModal();
  ShowSetupAfterChild();
}

// --- changes --------------------------------------------------------------------------------

void CDriveSetupDlg::OnChangedParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CDriveSetupDlg> kHandlers[] = {
      {param::ControlMode, &CDriveSetupDlg::OnControlModeChanged},
      {param::ExternalReference, &CDriveSetupDlg::OnExternalReferenceChanged},
      {param::Negative_SWLS, &CDriveSetupDlg::OnSoftwareLimitChanged},
      {param::Positive_SWLS, &CDriveSetupDlg::OnSoftwareLimitChanged},
  };
  ZelDispatchByName(*this, kHandlers, name);
  CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveSetupDlg::OnControlModeChanged(const std::string&) {
  if (HasParameter(param::SpeedForward)) ApplySpeedForwardRule(m_Setup);
  // Outside position control the drive follows its own reference, not a master's.
  if (QuietInt(param::ControlMode) == ControlMode::Position) return;
  m_Setup.SetParameterValueInBaseUnit(param::GEARMASTER, 1);
  m_Setup.SetParameterValueInBaseUnit(param::GEARSLAVE, 1);
  m_Setup.SetParameterValueInBaseUnit(param::isAnalogueReference, 1);
  RefreshAllParameters(0);
}

void CDriveSetupDlg::OnExternalReferenceChanged(const std::string&) {
  if (QuietInt(param::ExternalReference) != 0) return;
  m_Setup.SetParameterValueInBaseUnit("isAutoActivatedAfterPowerOn", 0);
  RefreshParameterControls("isAutoActivatedAfterPowerOn");
}

void CDriveSetupDlg::OnSoftwareLimitChanged(const std::string& name) {
  // The limit just typed gives way to the other one.
  const double negative = QuietValue(param::Negative_SWLS);
  const double positive = QuietValue(param::Positive_SWLS);
  if (negative <= positive) return;
  const bool negative_typed = zel::NamesEqual(name, param::Negative_SWLS);
  m_Setup.SetParameterValueInBaseUnit(negative_typed ? param::Negative_SWLS : param::Positive_SWLS,
                                      negative_typed ? positive : negative);
}

void CDriveSetupDlg::OnRefreshParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CDriveSetupDlg> kHandlers[] = {
      {param::Vdc, &CDriveSetupDlg::OnSupplyOrSpeedLimitRefreshed},
      {param::Limit_Speed, &CDriveSetupDlg::OnSupplyOrSpeedLimitRefreshed},
      {param::InputsPolarityType, &CDriveSetupDlg::OnInputsTypeRefreshed},
  };
  ZelDispatchByName(*this, kHandlers, name);
  CMySetupDlg::OnRefreshParameterValue(name);
}

void CDriveSetupDlg::OnSupplyOrSpeedLimitRefreshed(const std::string&) {
  // The speed limit's range follows the supply.
  RunStep(m_Setup, param::SATP, Direction::ToChip);
  RunStep(m_Setup, param::Limit_Speed, Direction::ToScaled);
  ComputeParameterRanges(m_Setup);
  RefreshAllParameters(0);
}

void CDriveSetupDlg::OnInputsTypeRefreshed(const std::string&) {
  // The inputs keep their electrical meaning when the type changes.
  InvertPolarity(m_Setup, param::EnablePolarity);
  InvertPolarity(m_Setup, param::LSNPolarity);
  InvertPolarity(m_Setup, param::LSPPolarity);
  ShowInputRowLabels(QuietInt(param::InputsPolarityType) == 1);
  RefreshAllParameters(0);
}

void CDriveSetupDlg::OnStateClick() {
  // With the encoder on the load the position loop cannot close without the speed loop.
  if (QuietInternalInt(param::SensorsConfiguration) ==
          SensorsConfiguration::TachoAndEncoderOnLoad &&
      QuietInternalInt(param::ControlMode) == ControlMode::Position &&
      QuietInternalInt(param::PositionControlType) == PositionControlType::OverCurrentLoop)
    m_Setup.SetParameterValueInBaseUnit(param::PositionControlType, 1);
  UpdateData(0);
}

void CDriveSetupDlg::OnAxisIdSelected() {
  const int index = ListGetCurSel(m_AxisIdSelector);
  if (index >= kFirstNonCanOpenEntry && index < kHardwareAxisEntry)
    MessageBox(kCanOpenAxisWarning, {}, kMbOk | kMbIconInformation);
}

void CDriveSetupDlg::OnHelp() { ShowHelpTopic(kDriveSetupHelpContext); }

// --- other dialogs --------------------------------------------------------------------------

void CDriveSetupDlg::OnOpener(int button) {
  const Opener* o = FindOpener(button);
  if (!o || !ZelIsDialogRegistered(o->dialog)) return;
  if (o->before & kSyncBefore) Sync();
  if (o->before & kRangesBefore) ComputeParameterRanges(m_Setup);
  if (o->before & kNoticeBlockedShaft)
    MessageBox(dialog_names::kBlockedShaftNotice, {}, kMbOk, ZelAskedAction::BlockShaft);
  std::unique_ptr<CZel_Dialog> child = ZelCreateDialog(o->dialog, m_Setup, this);
  if (!child) return;
  child->DoModal();
  child.reset();
  if (o->before & kNoticeBlockedShaft) ZelEndAskedAction(ZelAskedAction::BlockShaft);
  ShowSetupAfterChild();
}

// A child keeps in the setup what it changed however it closes (a test writes its gains
// through while it runs, and Cancel does not take them back), so whichever way it closed the
// page shows the setup again, as OK would save it.
void CDriveSetupDlg::ShowSetupAfterChild() {
  Sync();
  RefreshAllParameters(0);
  UpdateData(0);
}

// --- closing --------------------------------------------------------------------------------

void CDriveSetupDlg::StoreAxisId() {
  if (!HasParameter(param::Axis_ID_list)) return;
  const int index = ListGetCurSel(m_AxisIdSelector);
  // A stored identifier that no entry shows is kept rather than read as "H/W".
  if (index < 0) return;
  const std::string text = ListGetText(m_AxisIdSelector, index);
  if (text != FormatInteger(QuietValue(param::Axis_ID_list)))
    m_Setup.SetParameterValueInBaseUnit(param::Axis_ID_list, AxisIdOfEntry(text));
}

void CDriveSetupDlg::OnOK() {
  StoreAxisId();
  ComputeChipParameters(m_Setup);
  ComputeControlStructureOptions(m_Setup);
  CMySetupDlg::OnOK();
}

void CDriveSetupDlg::OnCancel() { CMySetupDlg::OnCancel(); }
