#include "dialogs/drive_info_dlg.h"

#include <cctype>

#include "derive/pipelines.h"
#include "host/zel_dialog_registry.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"

namespace param = dcservo::param;

namespace dcservo {
namespace {

using namespace drive_info;

constexpr char kFirmwareIdRefused[] = "Error setting the firmware ID!";
constexpr unsigned kWordsPerKword = 1024;
// The host keeps the size in 16 bits: 63 Kwords is the largest whole number that fits.
constexpr unsigned kLargestE2romKwords = 0xFFFF / kWordsPerKword;

// Editable in service mode only: the ratings and the identity.
constexpr int kServiceSet[] = {
    kVmotMinEdit,       kVmotMaxEdit,    kVlogMinEdit,    kVlogMaxEdit,
    kNominalCurrentEdit, kPeakCurrentEdit, kVdcMaxEdit,   kInputsRangeEdit,
    kTemperatureSensor, kOverVoltage,    kUnderVoltage,   kDriveI2t,
    kDescriptionEdit,   kProductIdEdit,  kE2romEdit,      kFirmwareIdEdit};
constexpr int kSensorValues[] = {kSensorGainEdit, kOutputAt0Edit, kDriveOverTemp};
constexpr int kSensorLabels[] = {kSensorGainLabel, kOutputAt0Label, kSensorGainUnit,
                                 kOutputAt0Unit};
constexpr int kI2tValues[] = {kI2tCurrentEdit, kI2tTimeEdit};
constexpr int kI2tLabels[] = {kI2tCurrentLabel, kI2tTimeLabel, kI2tCurrentUnit, kI2tTimeUnit};
constexpr int kUmaxLabels[] = {kUmaxLabel, kUmaxUnit};
constexpr int kUminLabels[] = {kUminLabel, kUminUnit};
constexpr int kTemp2Labels[] = {kTemp2Label, kTemp2Unit};
constexpr int kProtectionClicks[] = {kTemperatureSensor, kOverVoltage, kUnderVoltage, kDriveI2t,
                                     kDriveOverTemp};

std::string E2romLimitMessage(std::uint16_t kept_words) {
  return "The E2ROM size must be below 64 Kwords: the drive's size is kept in 16 bits, at most " +
         std::to_string(kLargestE2romKwords) + " Kwords. The size stays " +
         std::to_string(kept_words / kWordsPerKword) + " Kwords.";
}

}  // namespace

const ZelDialogRegistration kDriveInfoRegistration(dialog_names::kDriveInfo,
                                                   ZelFactoryOf<CDriveInfo>());

std::optional<std::uint16_t> E2romWordsOfField(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  unsigned kwords = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    kwords = kwords * 10 + static_cast<unsigned>(text[i] - '0');
    if (kwords > kLargestE2romKwords) return std::nullopt;
  }
  return static_cast<std::uint16_t>(kwords * kWordsPerKword);
}

}  // namespace dcservo

using namespace dcservo;
using namespace dcservo::drive_info;

CDriveInfo::CDriveInfo(CZel_Setup& setup, CZel_Dialog* parent)
    : CMySetupDlg(setup, kDriveInfoTemplate, 1, nullptr, parent) {}

const ZelMessageMap* CDriveInfo::GetMessageMap() const {
  static const ZelMessageMap map = ZelMessageMapOf(
      CMySetupDlg::GetMessageMap(),
      {ZelOnClickedEach(kProtectionClicks, &CDriveInfo::OnProtectionClick)});
  return &map;
}

int CDriveInfo::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetChildText(kE2romEdit, std::to_string(m_Setup.GetE2ROMSize() >> 10));
  SetChildText(kFirmwareIdEdit, m_Setup.GetFirmwareID());
  SetChildText(kProductIdEdit, m_Setup.GetProductID());
  SetChildText(kDescriptionEdit, m_Setup.GetDescription());
  SetChildText(kApplicationIdEdit, m_Setup.GetUserAppID());
  LimitText(kApplicationIdEdit, kApplicationIdLength);
  UpdateData(0);
  return 1;
}

bool CDriveInfo::OnKey(int key, unsigned modifiers) {
  if (key != kServiceModeKey || (modifiers & kServiceModeModifiers) != kServiceModeModifiers)
    return false;
  m_ServiceMode = m_ServiceMode ? 0 : 1;
  UpdateData(0);
  return true;
}

void CDriveInfo::DoDataExchange(ZelDataExchange* pDX) {
  CMySetupDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) RefreshState();
}

void CDriveInfo::RefreshState() {
  const bool service = InServiceMode();
  const bool sensor = QuietInt(param::isDriveTemperatureSensor) == 1;
  const bool over_voltage = QuietInt(param::isOverVoltage) == 1;
  const bool under_voltage = QuietInt(param::isUnderVoltage) == 1;
  const bool i2t = QuietInt(param::isDriveI2t) == 1;
  const bool over_temperature = QuietInt(param::isDriveOverTemp) == 1;
  EnableChildren(kServiceSet, service);
  EnableChildren(kSensorValues, service && sensor);
  EnableChild(kUmaxEdit, service && over_voltage);
  EnableChild(kUminEdit, service && under_voltage);
  EnableChildren(kI2tValues, service && i2t);
  EnableChild(kTemp2Edit, service && over_temperature);
  EnableChildren(kSensorLabels, sensor);
  EnableChildren(kUmaxLabels, over_voltage);
  EnableChildren(kUminLabels, under_voltage);
  EnableChildren(kI2tLabels, i2t);
  EnableChildren(kTemp2Labels, over_temperature);
}

void CDriveInfo::OnProtectionClick() {
  // No drive temperature protection without the sensor that measures it.
  if (QuietInt(param::isDriveTemperatureSensor) == 0 && QuietInt(param::isDriveOverTemp) == 1) {
    m_Setup.SetParameterValueInBaseUnit(param::isDriveOverTemp, 0);
    RefreshParameterControls(param::isDriveOverTemp);
  }
  UpdateData(0);
}

void CDriveInfo::OnOK() {
  const std::optional<std::uint16_t> words = E2romWordsOfField(GetChildText(kE2romEdit));
  if (!words) {
    MessageBox(E2romLimitMessage(m_Setup.GetE2ROMSize()), {}, kMbOk | kMbIconWarning);
    return;
  }
  m_Setup.SetE2ROMSize(*words);
  m_Setup.SetUserAppID(GetChildText(kApplicationIdEdit));
  m_Setup.SetProductID(GetChildText(kProductIdEdit));
  m_Setup.SetDescription(GetChildText(kDescriptionEdit));
  if (!m_Setup.SetFirmwareID(GetChildText(kFirmwareIdEdit)))
    MessageBox(kFirmwareIdRefused, {}, kMbOk);
  ComputeChipParameters(m_Setup);
  CMySetupDlg::OnOK();
}
