#include "host/zel_drive_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/zel_names.h"

namespace zel_map {

namespace {

// Names that the setups use for the same memory share its address.
constexpr LiveVariable kLive[] = {
    {"MER", 0x1000, true},
    {"APOS", 0x1002, false},
    {"APOS_MT", 0x1002, false},
    {"Motor_Position", 0x1002, false},
    {"APOS_LD", 0x1004, false},
    {"Load_Position", 0x1004, false},
    {"ASPD", 0x1006, false},
    {"ASPD_MT", 0x1006, false},
    {"Motor_Speed", 0x1006, false},
    {"ASPD_LD", 0x1008, false},
    {"Load_Speed", 0x1008, false},
    {"TPOS", 0x100A, false},
    {"Target_Position", 0x100A, false},
    {"TSPD", 0x100C, false},
    {"Target_Speed", 0x100C, false},
    {"SPDREF", 0x100E, false},
    {"Speed_Reference", 0x100E, false},
    {"Motor_Speed_Reference", 0x100E, false},
    {"SPDREFL", 0x100E, false},
    {"POSERR", 0x1010, false},
    {"Position_Error", 0x1010, false},
    {"SPDERR", 0x1012, false},
    {"Speed_Error", 0x1012, false},
    {"IQREF", 0x1014, false},
    {"Current_Reference", 0x1014, false},
    {"IQ", 0x1016, false},
    {"Motor_Current", 0x1016, false},
    {"UQREF", 0x1018, false},
    {"Voltage_Reference", 0x1018, false},
    {"AD5", 0x101A, false},
    {"AD2", 0x101C, false},
    {"AD2FIL_VAL", 0x101C, false},
    {"var_u2", 0x101E, false},
    {"var_i2", 0x1020, true},
    {"Current_Injection", 0x1022, false},
};

// In the order the bundled setup lists them.
constexpr ChipParameter kChip[] = {
    {"PWMPER", 0x2000, ZelStorageType::UInt16},
    {"CLPER", 0x2002, ZelStorageType::UInt16},
    {"SLPER", 0x2004, ZelStorageType::UInt16},
    {"SATPWM", 0x2006, ZelStorageType::Int16},
    {"SATID", 0x2008, ZelStorageType::Int16},
    {"SATIQ", 0x200A, ZelStorageType::Int16},
    {"UPGRADE", 0x200C, ZelStorageType::UInt16},
    {"MTSTYPE", 0x200E, ZelStorageType::UInt16},
    {"SCR", 0x2010, ZelStorageType::UInt16},
    {"COUNTINGDIR", 0x2012, ZelStorageType::UInt16},
    {"QUAL", 0x2014, ZelStorageType::UInt16},
    {"QUAL_ACT", 0x2016, ZelStorageType::UInt32},
    {"QUAL_AQ2", 0x2018, ZelStorageType::UInt32},
    {"TRANSMISION", 0x201A, ZelStorageType::Int16},
    {"SATS", 0x201C, ZelStorageType::Int16},
    {"KPI", 0x201E, ZelStorageType::Int16},
    {"SFTKPI", 0x2020, ZelStorageType::Int16},
    {"KII", 0x2022, ZelStorageType::Int16},
    {"SFTKII", 0x2024, ZelStorageType::Int16},
    {"FILTERQ", 0x2026, ZelStorageType::Int16},
    {"FFL", 0x2028, ZelStorageType::Int16},
    {"KFFL", 0x202A, ZelStorageType::Int16},
    {"KPS", 0x202C, ZelStorageType::Int16},
    {"SFTKPS", 0x202E, ZelStorageType::Int16},
    {"KIS", 0x2030, ZelStorageType::Int16},
    {"SFTKIS", 0x2032, ZelStorageType::Int16},
    {"IMAXS", 0x2034, ZelStorageType::Int16},
    {"KPP", 0x2036, ZelStorageType::Int16},
    {"SFTKPP", 0x2038, ZelStorageType::Int16},
    {"KIP", 0x203A, ZelStorageType::Int16},
    {"SFTKIP", 0x203C, ZelStorageType::Int16},
    {"KDP", 0x203E, ZelStorageType::Int16},
    {"SFTKDP", 0x2040, ZelStorageType::Int16},
    {"KDFP", 0x2042, ZelStorageType::Int16},
    {"SATP", 0x2044, ZelStorageType::Int16},
    {"IMAXP", 0x2046, ZelStorageType::Int16},
    {"KFFS", 0x2048, ZelStorageType::Int16},
    {"SFTSFFW", 0x204A, ZelStorageType::Int16},
    {"KFFA", 0x204C, ZelStorageType::Int16},
    {"SFTAFFW", 0x204E, ZelStorageType::Int16},
    {"SFTKFF", 0x2050, ZelStorageType::Int16},
    {"PCR", 0x2052, ZelStorageType::UInt16},
    {"UMAXPROT", 0x2054, ZelStorageType::UInt16},
    {"UMINPROT", 0x2056, ZelStorageType::UInt16},
    {"T2MAXPROT", 0x2058, ZelStorageType::UInt16},
    {"T1MAXPROT", 0x205A, ZelStorageType::UInt16},
    {"II2TPROT_D", 0x205C, ZelStorageType::UInt16},
    {"SFI2T_D", 0x205E, ZelStorageType::UInt16},
    {"I2TINTLIM_D", 0x2060, ZelStorageType::UInt32},
    {"II2TWARLIM_D", 0x2062, ZelStorageType::UInt32},
    {"II2TPROT_M", 0x2064, ZelStorageType::UInt16},
    {"SFI2T_M", 0x2066, ZelStorageType::UInt16},
    {"I2TINTLIM_M", 0x2068, ZelStorageType::UInt32},
    {"I2TWARLIM_M", 0x206A, ZelStorageType::UInt32},
    {"IMAXPROT", 0x206C, ZelStorageType::UInt16},
    {"TIMAXPROT", 0x206E, ZelStorageType::UInt16},
    {"ERRMAX", 0x2070, ZelStorageType::UInt16},
    {"TERRMAX", 0x2072, ZelStorageType::UInt16},
    {"SERRMAX", 0x2074, ZelStorageType::UInt16},
    {"TSERRMAX", 0x2076, ZelStorageType::UInt16},
    {"OSR", 0x2078, ZelStorageType::UInt16},
    {"BRAKELIM", 0x207A, ZelStorageType::UInt16},
    {"ACR", 0x207C, ZelStorageType::UInt16},
    {"CSPD", 0x207E, ZelStorageType::Int32},
    {"CACC", 0x2080, ZelStorageType::Int32},
    {"GEAR", 0x2082, ZelStorageType::Int32},
    {"CADIN", 0x2084, ZelStorageType::Int16},
    {"SFTADIN", 0x2086, ZelStorageType::Int16},
    {"AD5OFF", 0x2088, ZelStorageType::Int16},
    {"FILTER1", 0x208A, ZelStorageType::Int16},
    {"LEVEL_AD5", 0x208C, ZelStorageType::UInt16},
    {"E_LEVEL_AD5", 0x208E, ZelStorageType::UInt16},
    {"DIGIN_ACTIVE_LEVEL", 0x2090, ZelStorageType::UInt16},
    {"ASR", 0x2092, ZelStorageType::UInt16},
    {"SWNEGLS", 0x2094, ZelStorageType::Int32},
    {"SWPOSLS", 0x2096, ZelStorageType::Int32},
    {"AAR_table", 0x2098, ZelStorageType::UInt16},
    {"LSS_Active", 0x209A, ZelStorageType::UInt16},
    {"BRAKECFG", 0x209C, ZelStorageType::UInt16},
    {"BRAKERELEASEDELAY", 0x209E, ZelStorageType::UInt16},
    {"BRAKEAPPLYDELAY", 0x20A0, ZelStorageType::UInt16},
    {"POSOKLIM_FC", 0x20A2, ZelStorageType::UInt16},
    {"TONPOSOK_FC", 0x20A4, ZelStorageType::UInt16},
    {"BQ1B0", 0x20A6, ZelStorageType::Int32},
    {"BQ1B1", 0x20A8, ZelStorageType::Int32},
    {"BQ1B2", 0x20AA, ZelStorageType::Int32},
    {"BQ1A1", 0x20AC, ZelStorageType::Int32},
    {"BQ1A2", 0x20AE, ZelStorageType::Int32},
    {"BQ1SF", 0x20B0, ZelStorageType::UInt16},
    {"BQ2B0", 0x20B2, ZelStorageType::Int32},
    {"BQ2B1", 0x20B4, ZelStorageType::Int32},
    {"BQ2B2", 0x20B6, ZelStorageType::Int32},
    {"BQ2A1", 0x20B8, ZelStorageType::Int32},
    {"BQ2A2", 0x20BA, ZelStorageType::Int32},
    {"BQ2SF", 0x20BC, ZelStorageType::UInt16},
    {"BQ3B0", 0x20BE, ZelStorageType::Int32},
    {"BQ3B1", 0x20C0, ZelStorageType::Int32},
    {"BQ3B2", 0x20C2, ZelStorageType::Int32},
    {"BQ3A1", 0x20C4, ZelStorageType::Int32},
    {"BQ3A2", 0x20C6, ZelStorageType::Int32},
    {"BQ3SF", 0x20C8, ZelStorageType::UInt16},
    {"SPDREF_BQ_INI", 0x20CA, ZelStorageType::UInt16},
    {"IQREF_BQ_INI", 0x20CC, ZelStorageType::UInt16},
    {"ASPD_BQ_INI", 0x20CE, ZelStorageType::UInt16},
};

template <typename Entry>
const Entry* ByName(std::span<const Entry> table, std::string_view name) {
  for (const Entry& e : table)
    if (zel::NamesEqual(e.name, name)) return &e;
  return nullptr;
}

template <typename Entry>
const Entry* ByAddress(std::span<const Entry> table, std::uint16_t address) {
  for (const Entry& e : table)
    if (e.address == address) return &e;
  return nullptr;
}

}  // namespace

std::span<const LiveVariable> LiveVariables() { return kLive; }
std::span<const ChipParameter> ChipParameters() { return kChip; }

const LiveVariable* FindLiveVariable(std::string_view name) {
  return ByName(LiveVariables(), name);
}
const LiveVariable* LiveVariableAt(std::uint16_t address) {
  return ByAddress(LiveVariables(), address);
}
const ChipParameter* FindChipParameter(std::string_view name) {
  return ByName(ChipParameters(), name);
}
const ChipParameter* ChipParameterAt(std::uint16_t address) {
  return ByAddress(ChipParameters(), address);
}

void PutU32(std::uint16_t* r, std::uint32_t value) {
  r[0] = static_cast<std::uint16_t>(value >> 16);
  r[1] = static_cast<std::uint16_t>(value & 0xFFFF);
}

std::uint32_t GetU32(const std::uint16_t* r) {
  return (static_cast<std::uint32_t>(r[0]) << 16) | r[1];
}

void PutI32(std::uint16_t* r, double value) {
  const double held =
      std::isfinite(value) ? std::clamp(std::round(value), -2147483648.0, 2147483647.0) : 0.0;
  PutU32(r, static_cast<std::uint32_t>(static_cast<std::int32_t>(held)));
}

double GetI32(const std::uint16_t* r) { return static_cast<std::int32_t>(GetU32(r)); }

void PutF64(std::uint16_t* r, double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) r[i] = static_cast<std::uint16_t>(bits >> (48 - 16 * i));
}

double GetF64(const std::uint16_t* r) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) bits = (bits << 16) | r[i];
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutText(std::uint16_t* r, int count, std::string_view text) {
  for (int i = 0; i < count; ++i) {
    const auto at = [&](std::size_t k) {
      return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
    };
    r[i] = static_cast<std::uint16_t>((at(2 * i) << 8) | at(2 * i + 1));
  }
}

std::string GetText(const std::uint16_t* r, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    for (const unsigned c : {unsigned{r[i]} >> 8u, unsigned{r[i]} & 0xFFu}) {
      if (c == 0) return text;
      text += static_cast<char>(c);
    }
  }
  return text;
}

std::uint32_t EncodeChip(ZelStorageType type, double value) {
  const double held = StoreAs(type, value);
  if (type == ZelStorageType::UInt16 || type == ZelStorageType::UInt32)
    return static_cast<std::uint32_t>(held);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(held));
}

double DecodeChip(ZelStorageType type, std::uint32_t bits) {
  switch (type) {
    case ZelStorageType::Int16:
      return static_cast<std::int16_t>(bits & 0xFFFF);
    case ZelStorageType::UInt16:
      return bits & 0xFFFF;
    case ZelStorageType::Int32:
      return static_cast<std::int32_t>(bits);
    default:
      return bits;
  }
}

bool DecodeChipExact(ZelStorageType type, std::uint32_t bits, double& value) {
  value = DecodeChip(type, bits);
  return EncodeChip(type, value) == bits;
}

std::string Hex(std::uint16_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", address);
  return text;
}

}  // namespace zel_map
