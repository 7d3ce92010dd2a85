#include "dialogs/analog_reference_dlg.h"

#include "derive/parameter_ranges.h"
#include "derive/probes.h"
#include "host/zel_dialog_registry.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"

namespace option = dcservo::option;
namespace param = dcservo::param;

namespace dcservo {
namespace {

using namespace external_reference;

// What the analogue range means in each control mode.
struct ModeTexts {
  const char* maximum;
  const char* minimum;
  const char* picture;
};
constexpr ModeTexts kModeTexts[] = {
    {"Maximum Position", "Minimum Position", "3003"},
    {"Maximum Speed", "Minimum Speed", "3044"},
    {"Maximum Current", "Minimum Current", "3002"},
};

// A partner edit has no unit selector: it shows its leader's unit.
struct Partner {
  const char* leader;
  const char* partner;
};
constexpr Partner kPartners[] = {{param::POS_max, param::POS_min},
                                 {param::SPD_max, param::SPD_min},
                                 {param::CRT_max, param::CRT_min},
                                 {param::DeadBand_Point, param::DeadBand_Range}};

// Each limit of a pair is bounded by the other.
struct RangePair {
  const char* minimum;
  const char* maximum;
  void (*minimum_range)(CZel_Setup&);
  void (*maximum_range)(CZel_Setup&);
};
constexpr RangePair kRangePairs[] = {
    {param::POS_min, param::POS_max, SetPOS_minRange, SetPOS_maxRange},
    {param::SPD_min, param::SPD_max, SetSPD_minRange, SetSPD_maxRange},
    {param::CRT_min, param::CRT_max, SetCRT_minRange, SetCRT_maxRange},
};

const int kFilterSet[] = {kFilterLabel, kFilterEdit, kFilterUnit};
const int kFirstLimit[] = {kFirstLimitEdit, kFirstLimitUnit};
const int kSecondLimit[] = {kSecondLimitEdit, kSecondLimitUnit};
const int kVoltageLabels[] = {kLowVoltageLabel, kHighVoltageLabel};
const int kAnalogueSet[] = {kMaximumLabel,       kMinimumLabel,      kMaximumEdit,
                            kMinimumEdit,        kMaximumUnit,       kDeadBandPointLabel,
                            kDeadBandRangeLabel, kDeadBandPointEdit, kDeadBandRangeEdit,
                            kDeadBandPointUnit,  kUseFilter,         kFilterLabel,
                            kFilterEdit,         kFilterUnit,        kLowVoltageLabel,
                            kHighVoltageLabel};
const int kDigitalSet[] = {kPulseDirection, kIncrementalEncoder, kGearRatioLabel,
                           kSlaveLabel,     kYourMotorLabel,     kSlaveEdit,
                           kMasterEdit,     kMasterLabel,        kReferenceLabel};
const int kStateClicks[] = {kLimitCheck, kDigital, kAnalogue};

}  // namespace

const ZelDialogRegistration kExternalReferenceRegistration(dialog_names::kExternalReference,
                                                           ZelFactoryOf<CAnalogReferenceDlg>());

InputVoltageLabels InputVoltageLabelsFor(int analogue_inputs_range) {
  switch (analogue_inputs_range) {
    case AnalogueInputsRange::Bipolar10V: return {"-10", "10"};
    case AnalogueInputsRange::Unipolar5V: return {"0", "5"};
    default: return {"0", "3.3"};
  }
}

}  // namespace dcservo

using namespace dcservo;
using namespace dcservo::external_reference;

CAnalogReferenceDlg::CAnalogReferenceDlg(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kExternalReferenceTemplate, 1, nullptr, parent),
      m_HasAnalogueInput(HasAnalogueInput(setup) != 0) {
  const bool a = m_HasAnalogueInput;
  switch (Mode()) {
    case ControlMode::Position:
      if (a) BindReferenceRange(param::POS_max, param::POS_min);
      AddCheckParameterControls(param::isLimitMaximum, kLimitCheck);
      AddParameterControls(param::ErefMaxSpeed, kFirstLimitEdit, kFirstLimitUnit);
      AddParameterControls(param::ErefMaxAcceleration, kSecondLimitEdit, kSecondLimitUnit);
      break;
    case ControlMode::Speed:
      if (a) BindReferenceRange(param::SPD_max, param::SPD_min);
      AddCheckParameterControls(param::isLimitMaximum, kLimitCheck);
      AddParameterControls(param::ErefMaxAcceleration, kFirstLimitEdit, kFirstLimitUnit);
      break;
    case ControlMode::Current:
      if (a) BindReferenceRange(param::CRT_max, param::CRT_min);
      break;
    default:
      break;
  }
  if (a) BindDeadBand();
  AddSwitchParameterControls(param::isAnalogueReference, kDigital, kAnalogue);
  AddSwitchParameterControls(param::DigitalReferenceType, kPulseDirection, kIncrementalEncoder);
  if (a) {
    AddCheckParameterControls(param::UseFilter, kUseFilter);
    AddParameterControls(param::filter, kFilterEdit, kFilterUnit);
  }
}

void CAnalogReferenceDlg::BindReferenceRange(const char* maximum, const char* minimum) {
  AddParameterControls(maximum, kMaximumEdit, kMaximumUnit);
  AddParameterControls(minimum, kMinimumEdit);
  FollowLeaderUnit(maximum, minimum);
}

void CAnalogReferenceDlg::BindDeadBand() {
  AddParameterControls(param::DeadBand_Point, kDeadBandPointEdit, kDeadBandPointUnit);
  AddParameterControls(param::DeadBand_Range, kDeadBandRangeEdit);
  FollowLeaderUnit(param::DeadBand_Point, param::DeadBand_Range);
}

void CAnalogReferenceDlg::FollowLeaderUnit(const char* leader, const char* partner) {
  const CZel_Parameter* l = m_Setup.FindOptionalParameter(leader);
  CZel_Parameter* p = m_Setup.FindOptionalParameter(partner);
  if (!l || !p) return;
  p->ChangeUnitType(l->GetSelectedUnit().GetName().c_str());
  RefreshParameterControls(partner);
}

int CAnalogReferenceDlg::Mode() const { return QuietInt(param::ControlMode); }
bool CAnalogReferenceDlg::Analogue() const { return QuietInt(param::isAnalogueReference) == 1; }

const char* CAnalogReferenceDlg::LimitCheckText() const {
  return Analogue() && Mode() == ControlMode::Position ? "Limit maximum speed at"
                                                       : "Limit maximum acceleration at";
}

const ZelMessageMap* CAnalogReferenceDlg::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {ZelOnClickedEach(kStateClicks, &CAnalogReferenceDlg::OnStateClick),
       {ZelOnClicked(kTest, &CAnalogReferenceDlg::OnTest),
        ZelOnClicked(kHelpButton, &CAnalogReferenceDlg::OnHelp)}});
  return &map;
}

// --- initialisation and the state refresh ---------------------------------------------------

int CAnalogReferenceDlg::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  const InputVoltageLabels volts = InputVoltageLabelsFor(QuietInt(param::AnalogueInputsRange));
  SetChildText(kLowVoltageLabel, volts.low);
  SetChildText(kHighVoltageLabel, volts.high);

  const int mode = Mode();
  if (mode >= ControlMode::Position && mode <= ControlMode::Current) {
    const ModeTexts& texts = kModeTexts[mode];
    SetChildText(kMaximumLabel, texts.maximum);
    SetChildText(kMinimumLabel, texts.minimum);
    SetImage(kPicture, texts.picture);
  }
  SetChildText(kLimitCheck, LimitCheckText());
  if (mode == ControlMode::Current) {
    ShowChild(kLimitCheck, 0);
    ShowChildren(kFirstLimit, 0);
  }
  EnableChildren(kVoltageLabels, 0);
  EnableChild(kAnalogue, m_HasAnalogueInput);
  UpdateData(0);
  return 1;
}

void CAnalogReferenceDlg::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CAnalogReferenceDlg::ShowFilter() {
  ShowChildren(kFilterSet, m_HasAnalogueInput && QuietInt(param::UseFilter) != 0);
}

void CAnalogReferenceDlg::RefreshState() {
  const int mode = Mode();
  const bool analogue = Analogue();
  const bool limit = QuietInt(param::isLimitMaximum) == 1 && mode < ControlMode::Current;
  ShowFilter();
  ShowChildren(kSecondLimit, !analogue && limit);
  ShowChildren(kFirstLimit, analogue && limit);
  EnableChildren(kAnalogueSet, analogue);
  EnableOpener(kTest, dialog_names::kAnalogueTest, analogue);
  EnableChildren(kDigitalSet, !analogue && mode == ControlMode::Position);
  EnableChild(kDigital, mode == ControlMode::Position &&
                            m_Setup.GetIntOption(option::DisableExternalDigitalReference) == 0);
}

// --- changes --------------------------------------------------------------------------------

void CAnalogReferenceDlg::OnChangedParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CAnalogReferenceDlg> kHandlers[] = {
      {param::UseFilter, &CAnalogReferenceDlg::OnUseFilterChanged},
      {param::isAnalogueReference, &CAnalogReferenceDlg::OnSourceChanged},
      {param::DeadBand_Point, &CAnalogReferenceDlg::OnDeadBandChanged},
      {param::DeadBand_Range, &CAnalogReferenceDlg::OnDeadBandChanged},
  };
  ZelDispatchByName(*this, kHandlers, name);
  CMySetupDlg::OnChangedParameterValue(name);
}

void CAnalogReferenceDlg::OnUseFilterChanged(const std::string&) { ShowFilter(); }

void CAnalogReferenceDlg::OnSourceChanged(const std::string&) {
  SetChildText(kLimitCheck, LimitCheckText());
  UpdateData(0);
}

// The width's room depends on where the point sits, and the other way round.
void CAnalogReferenceDlg::OnDeadBandChanged(const std::string&) {
  SetDeadBandWidthRange(m_Setup);
  RefreshParameterControls(param::DeadBand_Range);
  RefreshParameterControls(param::DeadBand_Point);
}

void CAnalogReferenceDlg::OnChangedParameterUnit(const std::string& name) {
  for (const Partner& p : kPartners) {
    if (zel::NamesEqual(p.leader, name)) FollowLeaderUnit(p.leader, p.partner);
  }
  CMySetupDlg::OnChangedParameterUnit(name);
}

void CAnalogReferenceDlg::OnRefreshParameterValue(const std::string& name) {
  for (const RangePair& pair : kRangePairs) {
    if (!zel::NamesEqual(pair.minimum, name) && !zel::NamesEqual(pair.maximum, name)) continue;
    pair.minimum_range(m_Setup);
    pair.maximum_range(m_Setup);
    RefreshAllParameters(0);
  }
  CMySetupDlg::OnRefreshParameterValue(name);
}

// --- commands -------------------------------------------------------------------------------

void CAnalogReferenceDlg::OnStateClick() { UpdateData(0); }

void CAnalogReferenceDlg::OnTest() {
  Sync();
  if (std::unique_ptr<CZel_Dialog> test = ZelCreateDialog(dialog_names::kAnalogueTest, m_Setup, this))
    test->DoModal();
  Sync();
}

void CAnalogReferenceDlg::OnHelp() { ShowHelpTopic(kExternalReferenceHelpContext); }
