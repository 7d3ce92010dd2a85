#include "dialogs/motor_setup_dlg.h"

#include <cmath>
#include <numbers>
#include <string>

#include "derive/pipelines.h"
#include "derive/plausibility.h"
#include "derive/protections.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_io_outputs.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "units/control_structure.h"
#include "units/drive_modes.h"

namespace option = dcservo::option;
namespace param = dcservo::param;

namespace dcservo {
namespace {

const char* const kGuidance[] = {
    "Step 1. Select your motor from a database. If your motor does not exist in any database, "
    "proceed through all the next steps in order to define your motor and sensors data. In "
    "either case, use the tests from the next steps to verify/detect the motor and sensors "
    "parameters and operation.",
    "Step 2. Check the values for nominal and peak currents.",
    "Step 3. Check the torque constant value.",
    "Step 4. Check the resistance and inductance values.",
    "Step 5. Check the value of the motor inertia. If you don't know this value, check the "
    "<<Motor inertia is unknown>> checkbox.",
    "Step 6. Select sensor configuration and set the corresponding parameters. If you have "
    "incremental encoder, use the <<Test Connections>> button in order to verify the operation "
    "of the A and B encoder signals.",
    "Step 7. Check the <<Temperature>> checkbox if your motor has a temperature sensor and this "
    "sensor is connected to the drive. Select the temperature sensor type: PTC or NTC.",
    "Step 8. In <<Transmission to load>> select the transmission type and the ratio by setting "
    "the correspondance between the motor and load displacements.",
    "Step 9. If you want to save your motor data, select USER database, then press the "
    "<<Save>> button.",
    "",
};

constexpr char kBrakeTextStart[] = "Motor brake is applied when ";
constexpr char kBrakeSourceEnding[] = "PNP (source) output is connected to +Vlog.";
constexpr char kBrakeSinkEnding[] = "NPN (sink) output is connected to GND.";

// One revolution, in radians: what an empty displacement means.
constexpr double kOneRevolution = 2 * std::numbers::pi;

constexpr int kInertiaSet[] = {kJmLabel, kJmEdit, kJmUnit};
constexpr int kSensorTypeSet[] = {kSensorTypeBox, kSensorNtc, kSensorPtc};
constexpr int kEncoderLinesSet[] = {kEncoderLinesEdit, kEncoderLinesUnit};
constexpr int kEncoderFilterLabels[] = {kFilterEncCheck, kFilterEncLabel, kFilterEncNote};
constexpr int kTachoGainSet[] = {kTachoGainEdit, kTachoGainUnit};
constexpr int kBrakeSet[] = {kBrakeOutputList,   kBrakeText,       kReleaseDelayLabel,
                             kReleaseDelayEdit,  kReleaseDelayUnit, kApplyDelayLabel,
                             kApplyDelayEdit,    kApplyDelayUnit};

constexpr ZelMotorEditorIds kMotorEditorIds{kDatabaseList, kMotorList, kMotorNameEdit, kSaveMotor,
                                            kDeleteMotor};

}  // namespace

const ZelDialogRegistration kMotorSetupRegistration(dialog_names::kMotorSetup,
                                                    ZelFactoryOf<CMotorSetupDialog>());
const ZelDialogRegistration kInertiaQuestionRegistration(dialog_names::kInertiaQuestion,
                                                         ZelFactoryOf<CInertiaQuestion>());

}  // namespace dcservo

using namespace dcservo;

CMotorSetupDialog::CMotorSetupDialog(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kMotorSetupTemplate, 1, kGuidance, parent) {
  BindControls();
  InitializeMotorEditor();
}

CMotorSetupDialog::~CMotorSetupDialog() = default;

bool CMotorSetupDialog::HasEncoderFilter() const {
  return HasParameter(param::isFilterEnc) && HasParameter(param::FilterEncValue);
}

bool CMotorSetupDialog::HasBrakeParameters() const {
  return HasParameter(param::BRAKECFG) && HasParameter(param::isMotorBrake);
}

void CMotorSetupDialog::BindControls() {
  AddSwitchParameterControls(param::Motor_TempSensor_Type, kSensorNtc, kSensorPtc);
  if (HasEncoderFilter()) {
    AddSwitchParameterControls(param::FilterEncValue, kFilterEncList);
    AddCheckParameterControls(param::isFilterEnc, kFilterEncCheck);
  }
  if (HasParameter(param::ReverseCounting)) AddCheckParameterControls(param::ReverseCounting, kReverseCounting);
  AddSwitchParameterControls(param::SensorsConfiguration, kEncoderOnMotor, kEncoderOnLoad);
  AddSwitchParameterControls(param::TransmissionType, kRotaryToRotary, kRotaryToLinear);
  if (HasBrakeParameters()) {
    AddCheckParameterControls(param::isMotorBrake, kBrakeCheck);
    AddSwitchParameterControls(param::MotorBrake_output, kBrakeOutputList);
    AddParameterControls(param::MotorBrake_releasetime, kReleaseDelayEdit, kReleaseDelayUnit);
    AddParameterControls(param::MotorBrake_applytime, kApplyDelayEdit, kApplyDelayUnit);
  }
}

void CMotorSetupDialog::InitializeMotorEditor() {
  m_MotorEditor.Initialize(*this, kMotorEditorIds, ZelMotorDatabase::Default());
}

const ZelMessageMap* CMotorSetupDialog::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {{ZelOnClicked(kTestConnections, &CMotorSetupDialog::OnTestConnections),
        ZelOnClicked(kLimitSwitchButton, &CMotorSetupDialog::OnLimitSwitchWarning),
        ZelOnClicked(kBrakeCheck, &CMotorSetupDialog::OnBrakeClicked),
        ZelOnClicked(kMotorHelpButton, &CMotorSetupDialog::OnHelp),
        ZelOnClicked(kMotorSetupOkCommand, &CMotorSetupDialog::OnOK),
        ZelOnSelChange(kDatabaseList, &CMotorSetupDialog::OnDatabaseSelected),
        ZelOnSelChange(kMotorList, &CMotorSetupDialog::OnMotorSelected),
        ZelOnClicked(kSaveMotor, &CMotorSetupDialog::OnSaveMotor),
        ZelOnClicked(kDeleteMotor, &CMotorSetupDialog::OnDeleteMotor)}});
  return &map;
}

// --- initialisation ------------------------------------------------------------------------

int CMotorSetupDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetButtonImage(kIdOk, "TO_DRIVESETUP");
  SetButtonImage(kLimitSwitchButton, "WARN_SWITCH_HW_LS");
  ShowChild(kLimitSwitchButton, 0);
  EnableChild(kTachoOnMotor, m_Setup.GetIntOption(option::DisableTacho) == 0);
  EnableChild(kEncoderOnLoad, m_Setup.GetIntOption(option::DisableTachoAndEncoder) == 0);

  const bool filter = HasEncoderFilter();
  EnableChildren(kEncoderFilterLabels, filter);
  EnableChild(kFilterEncList, filter && QuietInt(param::isFilterEnc) == 1);
  if (filter) {
    FillEncoderFilterList();
    RefreshParameterControls(param::FilterEncValue);
  }

  const bool brake = HasBrakeParameters() && GetNumberOfBrakeOutputs(&m_Setup) > 0;
  EnableChild(kBrakeBox, brake);
  EnableChild(kBrakeCheck, brake);
  EnableChildren(kBrakeSet, brake);
  FillIOBrakeCombo(&m_Setup, *this, kBrakeOutputList,
                   brake ? QuietInt(param::MotorBrake_output) : 0);
  if (HasBrakeParameters()) RefreshParameterControls(param::MotorBrake_output);

  SetImage(m_BrakePicture, kBrakeTimingImage);
  ShowChild(m_BrakePicture, 1);
  UpdateData(0);
  return 1;
}

void CMotorSetupDialog::FillEncoderFilterList() {
  ListResetContent(kFilterEncList);
  for (int value = 0; value < static_cast<int>(std::size(kEncoderFilterDivisors)); ++value) {
    const int index =
        ListAddString(kFilterEncList, "1/" + std::to_string(kEncoderFilterDivisors[value]));
    if (index >= 0) ListSetItemData(kFilterEncList, index, value);
  }
}

// --- the state refresh ----------------------------------------------------------------------

void CMotorSetupDialog::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CMotorSetupDialog::RefreshState() {
  EnableChildren(kInertiaSet, QuietInt(param::isMotorInertiaUnknown) == 0);
  EnableChildren(kSensorTypeSet, QuietInt(param::isMotorTemperatureSensor) == 1);

  const int sensors = QuietInt(param::SensorsConfiguration);
  const bool encoder = sensors != SensorsConfiguration::TachoOnMotor;
  EnableChildren(kEncoderLinesSet, encoder);
  const bool encoder_test = ZelIsDialogRegistered(dialog_names::kEncoderTest);
  EnableChild(kTestConnections, encoder && encoder_test);
  SetChildTooltip(kTestConnections, encoder_test ? "" : kNotBuiltTooltip);
  EnableChild(kReverseCounting, HasParameter(param::ReverseCounting) && encoder);
  const bool filter = HasEncoderFilter() && encoder;
  EnableChildren(kEncoderFilterLabels, filter);
  EnableChild(kFilterEncList, filter && QuietInt(param::isFilterEnc) == 1);
  EnableChildren(kTachoGainSet, sensors > 0);

  if (HasBrakeParameters()) {
    // Without an output to drive it the brake cannot be set up, whatever the flag says.
    EnableChildren(kBrakeSet,
                   QuietInt(param::isMotorBrake) == 1 && GetNumberOfBrakeOutputs(&m_Setup) > 0);
    ShowBrakeText();
  }
  if (m_Setup.GetIntOption(option::hasNegTransmission) != 1) {
    const double ratio =
        QuietValue(param::Motor_transmission) / QuietValue(param::Load_transmission);
    ShowChild(kLimitSwitchButton, ratio < 0);
  }
}

void CMotorSetupDialog::ShowBrakeText() {
  const int out = QuietInternalInt(param::MotorBrake_output);
  const bool sourcing = (IsBrakePortEnable(&m_Setup, out) & kIoDriveMask) == kIoDriveSource;
  // An inverted port applies the brake at the other level.
  const bool pnp = sourcing != IsIOZel3PortInverted(&m_Setup, out);
  SetChildText(kBrakeText,
               std::string(kBrakeTextStart) + (pnp ? kBrakeSourceEnding : kBrakeSinkEnding));
}

// --- changes --------------------------------------------------------------------------------

void CMotorSetupDialog::OnChangedParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CMotorSetupDialog> kHandlers[] = {
      {param::ControlMode, &CMotorSetupDialog::OnControlModeChanged},
      {param::ImaxM, &CMotorSetupDialog::OnPeakCurrentChanged},
      {param::isMotorInertiaUnknown, &CMotorSetupDialog::OnStateParameterChanged},
      {param::isMotorTemperatureSensor, &CMotorSetupDialog::OnStateParameterChanged},
      {param::SensorsConfiguration, &CMotorSetupDialog::OnStateParameterChanged},
      {param::isFilterEnc, &CMotorSetupDialog::OnStateParameterChanged},
      {param::ReverseCounting, &CMotorSetupDialog::OnStateParameterChanged},
      {param::MotorBrake_output, &CMotorSetupDialog::OnStateParameterChanged},
      {param::Motor_transmission, &CMotorSetupDialog::OnStateParameterChanged},
      {param::Load_transmission, &CMotorSetupDialog::OnStateParameterChanged},
      {param::TransmissionType, &CMotorSetupDialog::OnTransmissionTypeChanged},
  };
  CMySetupDlg::OnChangedParameterValue(name);
  ZelDispatchByName(*this, kHandlers, name);
}

void CMotorSetupDialog::OnControlModeChanged(const std::string&) {
  ClearFreezeControlOutsidePosition();
}

void CMotorSetupDialog::ClearFreezeControlOutsidePosition() {
  if (QuietInt(param::ControlMode) != ControlMode::Position &&
      QuietInt(param::isFreezeControl) == 1)
    m_Setup.SetParameterValueInBaseUnit(param::isFreezeControl, 0);
}

void CMotorSetupDialog::OnPeakCurrentChanged(const std::string&) {
  // The nominal current cannot exceed the peak current.
  if (CZel_Parameter* in = m_Setup.FindParameter(param::In))
    in->SetMaxInBaseUnit(m_Setup.GetParameterValueInBaseUnit(param::ImaxM));
}

void CMotorSetupDialog::OnStateParameterChanged(const std::string&) { UpdateData(0); }

void CMotorSetupDialog::OnTransmissionTypeChanged(const std::string&) {
  // The load side's unit follows the transmission type.
  AssignUnitTypes(m_Setup);
  RefreshParameterControls(param::Load_transmission);
}

void CMotorSetupDialog::OnRefreshParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CMotorSetupDialog> kHandlers[] = {
      {param::Motor_transmission, &CMotorSetupDialog::OnDisplacementRefreshed},
      {param::Load_transmission, &CMotorSetupDialog::OnDisplacementRefreshed},
  };
  CMySetupDlg::OnRefreshParameterValue(name);
  ZelDispatchByName(*this, kHandlers, name);
}

void CMotorSetupDialog::OnDisplacementRefreshed(const std::string& name) {
  // A ratio needs both sides; an empty one means one revolution.
  if (QuietValue(name) == 0) m_Setup.SetParameterValueInBaseUnit(name, kOneRevolution);
  RefreshParameterControls(name);
  UpdateData(0);
}

// --- commands -------------------------------------------------------------------------------

void CMotorSetupDialog::OnTestConnections() {
  if (!ZelIsDialogRegistered(dialog_names::kEncoderTest)) return;
  SynchroniseSetup(m_Setup);
  if (std::unique_ptr<CZel_Dialog> test = ZelCreateDialog(dialog_names::kEncoderTest, m_Setup, this))
    test->DoModal();
  SynchroniseSetup(m_Setup);
  RefreshAllParameters(0);
}

void CMotorSetupDialog::OnLimitSwitchWarning() { MessageBox(kLimitSwitchWarning, {}, kMbOk); }

void CMotorSetupDialog::OnBrakeClicked() { UpdateData(0); }

void CMotorSetupDialog::OnHelp() { ShowHelpTopic(kMotorSetupHelpContext); }

// --- closing --------------------------------------------------------------------------------

void CMotorSetupDialog::OnOK() {
  if (const std::string why = ImplausibleMotorData(m_Setup); !why.empty()) {
    MessageBox("These motor data cannot be stored: " + why + ".", {}, kMbOk | kMbIconError);
    return;
  }
  // No over-temperature protection without a sensor to trip it.
  if (QuietInt(param::isMotorTemperatureSensor) == 0 && QuietInt(param::isMotorOverTemp) == 1)
    m_Setup.SetParameterValueInBaseUnit(param::isMotorOverTemp, 0);
  ApplySensorsConfiguration();
  ClearFreezeControlOutsidePosition();
  CMySetupDlg::OnOK();
}

void CMotorSetupDialog::ApplySensorsConfiguration() {
  const int sensors = QuietInt(param::SensorsConfiguration);
  const auto osr = static_cast<unsigned>(QuietInternalInt(param::OSR));
  switch (sensors) {
    case SensorsConfiguration::EncoderOnMotor:
      m_Setup.SetParameterValueInInternalUnit(param::OSR, osr & ~kOsrEncoderOnLoad);
      break;
    case SensorsConfiguration::TachoOnMotor:
      // Without a position sensor the drive can only control speed, from a reference it can
      // follow without one.
      m_Setup.SetParameterValueInInternalUnit(param::OSR, osr & ~kOsrEncoderOnLoad);
      if (HasParameter(param::isSWLS)) m_Setup.SetParameterValueInBaseUnit(param::isSWLS, 0);
      if (QuietInt(param::ControlMode) == ControlMode::Position) {
        m_Setup.SetParameterValueInBaseUnit(param::ControlMode, ControlMode::Speed);
        if (QuietInt(param::ExternalReference) == 1 && QuietInt(param::isAnalogueReference) == 0)
          m_Setup.SetParameterValueInBaseUnit(param::isAnalogueReference, 1);
      }
      break;
    case SensorsConfiguration::TachoAndEncoderOnLoad:
      m_Setup.SetParameterValueInInternalUnit(param::OSR, osr | kOsrEncoderOnLoad);
      if (QuietInt(param::ControlMode) == ControlMode::Position &&
          QuietInt(param::PositionControlType) == PositionControlType::OverCurrentLoop)
        m_Setup.SetParameterValueInBaseUnit(param::PositionControlType,
                                            PositionControlType::OverSpeedLoop);
      break;
    default: break;
  }
  UpdateData(0);
}

// --- the motor inertia question -------------------------------------------------------------

CInertiaQuestion::CInertiaQuestion(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kInertiaQuestionTemplate, 1, nullptr, parent) {}

CInertiaQuestion::~CInertiaQuestion() = default;

const ZelMessageMap* CInertiaQuestion::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {{ZelOnRange(ZelNotify::Clicked, kIncreaseTotalInertia, kDisregardMotorInertia,
                   &CInertiaQuestion::OnChoice)}});
  return &map;
}

int CInertiaQuestion::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  CheckRadioButton(kIncreaseTotalInertia, kDisregardMotorInertia, kIncreaseTotalInertia);
  return 1;
}

void CInertiaQuestion::OnChoice(int id) {
  m_nChoice = id == kIncreaseTotalInertia ? 1 : 2;
  UpdateData(0);
}

void CInertiaQuestion::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) EnableChild(kIdOk, m_nChoice == 1 || m_nChoice == 2);
}

void CInertiaQuestion::OnOK() {
  if (m_nChoice == 0) {
    MessageBox(kNoSelectionMessage, {}, kMbOk);
    return;
  }
  if (m_nChoice == 1)
    m_Setup.SetParameterValueInBaseUnit(param::Jt,
                                        m_Setup.GetParameterValueInBaseUnit(param::Jm) * 1.01);
  else
    m_Setup.SetParameterValueInBaseUnit(param::isMotorInertiaUnknown, 1);
  CMySetupDlg::OnOK();
}
