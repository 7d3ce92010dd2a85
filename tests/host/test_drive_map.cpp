// The drive's register map: how values lie in registers, and the tables against the bundled
// setup and against their documentation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "host/zel_drive_map.h"
#include "host/zel_modbus_link.h"
#include "tests/support/test_setups.h"

namespace {

using namespace zel_map;

TEST(DriveMapLayout, ValuesLieInRegistersHighWordFirst) {
  struct Case {
    double value;
    std::uint16_t high, low;
  };
  // Signed 32 bits, rounded and held within the type.
  for (const Case& c : std::vector<Case>{{0.0, 0x0000, 0x0000},
                                         {-1.0, 0xFFFF, 0xFFFF},
                                         {65536.0, 0x0001, 0x0000},
                                         {2.6, 0x0000, 0x0003},
                                         {-2147483648.0, 0x8000, 0x0000},
                                         {3e9, 0x7FFF, 0xFFFF},
                                         {-3e9, 0x8000, 0x0000}}) {
    std::uint16_t r[2];
    PutI32(r, c.value);
    EXPECT_EQ(r[0], c.high) << c.value;
    EXPECT_EQ(r[1], c.low) << c.value;
    EXPECT_EQ(GetI32(r), std::clamp(std::round(c.value), -2147483648.0, 2147483647.0));
  }
  // Float64: the sign and exponent in the first register; every value crosses exactly.
  std::uint16_t f[4];
  PutF64(f, 1.0);
  EXPECT_EQ(std::vector<std::uint16_t>(f, f + 4), (std::vector<std::uint16_t>{0x3FF0, 0, 0, 0}));
  for (double v : {1.2345e100, -32768.0, 1.0 / 65536.0, 4294967295.0, -0.0}) {
    PutF64(f, v);
    EXPECT_EQ(GetF64(f), v);
    EXPECT_EQ(std::signbit(GetF64(f)), std::signbit(v));
  }
}

TEST(DriveMapLayout, TextIsTwoCharactersToARegisterPaddedAndCut) {
  std::uint16_t r[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  PutText(r, 3, "ABC");
  EXPECT_EQ(r[0], 0x4142);
  EXPECT_EQ(r[1], 0x4300);
  EXPECT_EQ(r[2], 0x0000);
  EXPECT_EQ(GetText(r, 3), "ABC");
  PutText(r, 2, "ABCDEFG");
  EXPECT_EQ(GetText(r, 2), "ABCD");
}

TEST(DriveMapLayout, AChipParameterCarriesTheBitsOfItsType) {
  struct Case {
    ZelStorageType type;
    double value;
    std::uint32_t bits;
    double back;
  };
  for (const Case& c : std::vector<Case>{
           {ZelStorageType::Int16, -1.0, 0xFFFFFFFFu, -1.0},
           {ZelStorageType::Int16, 40000.0, 0x00007FFFu, 32767.0},
           {ZelStorageType::UInt16, 65535.0, 0x0000FFFFu, 65535.0},
           {ZelStorageType::UInt16, -5.0, 0u, 0.0},
           {ZelStorageType::Int32, -2147483648.0, 0x80000000u, -2147483648.0},
           {ZelStorageType::UInt32, 4294967295.0, 0xFFFFFFFFu, 4294967295.0},
       }) {
    SCOPED_TRACE(std::string(StorageTypeName(c.type)) + " " + std::to_string(c.value));
    EXPECT_EQ(EncodeChip(c.type, c.value), c.bits);
    EXPECT_EQ(DecodeChip(c.type, c.bits), c.back);
  }
}

TEST(DriveMap, EveryChipParameterOfTheBundledSetupHasTwoRegistersOfItsOwn) {
  auto setup = testing_support::LoadBundledSetup();
  std::set<std::uint16_t> used;
  const CZel_Parameters& all = setup->GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *all[i];
    if (p.GetType() == ZelStorageType::Double) continue;
    const ChipParameter* entry = FindChipParameter(p.GetName());
    ASSERT_TRUE(entry) << p.GetName();
    EXPECT_EQ(entry->type, p.GetType()) << p.GetName();
    EXPECT_TRUE(used.insert(entry->address).second && used.insert(entry->address + 1).second)
        << p.GetName() << " shares " << Hex(entry->address);
    EXPECT_EQ(ChipParameterAt(entry->address), entry);
  }
  for (const LiveVariable& v : LiveVariables())
    EXPECT_FALSE(used.count(v.address)) << v.name << " lies on a chip parameter";
}

// Rows "| 0x2000 | `PWMPER` | uint16 |" of the documentation's tables.
std::multimap<std::string, std::string> DocumentedRows(const std::string& text) {
  std::multimap<std::string, std::string> rows;
  const std::regex row(R"(\| (0x[0-9A-F]{4}) \| ((?:`\w+`(?:, )?)+) \| ([a-z0-9, ]+) \|)");
  for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
    const std::string names = (*it)[2];
    const std::regex name("`(\\w+)`");
    for (std::sregex_iterator n(names.begin(), names.end(), name); n != end; ++n)
      rows.insert({(*n)[1], std::string((*it)[1]) + " " + std::string((*it)[3])});
  }
  return rows;
}

TEST(DriveMap, TheDocumentedTablesAreTheMap) {
  const auto rows = DocumentedRows(
      testing_support::ReadFile(std::string(DCSERVO_RESOURCE_DIR) + "/../docs/drive-link.md"));
  std::multimap<std::string, std::string> expected;
  for (const ChipParameter& p : ChipParameters())
    expected.insert({p.name, Hex(p.address) + " " + StorageTypeName(p.type)});
  for (const LiveVariable& v : LiveVariables())
    expected.insert({v.name, Hex(v.address) + (v.writable ? " read, write" : " read")});
  EXPECT_EQ(rows, expected);
}

TEST(DriveAddress, ParsedOrRefusedWithTheReason) {
  struct Case {
    const char* text;
    const char* error;  // "" when it parses
    const char* host = "";
    const char* port = "";
    const char* device = "";
    int baud = 115200, unit = 1;
  };
  for (const Case& c : std::vector<Case>{
           {"tcp://127.0.0.1:502", "", "127.0.0.1", "502", "", 115200, 1},
           {"tcp://drive-3.local:1502,17", "", "drive-3.local", "1502", "", 115200, 17},
           {"rtu:/dev/ttyUSB0", "", "", "", "/dev/ttyUSB0", 115200, 1},
           {"rtu:/dev/pts/3,19200,5", "", "", "", "/dev/pts/3", 19200, 5},
           {"tcp://127.0.0.1", "expected tcp://HOST:PORT"},
           {"tcp://127.0.0.1:0", "the port is a whole number from 1 to 65535"},
           {"tcp://127.0.0.1:70000", "the port is a whole number from 1 to 65535"},
           {"tcp://127.0.0.1:502,248", "the unit id is a whole number from 1 to 247"},
           {"tcp://127.0.0.1:502,1,2", "too many fields"},
           {"rtu:", "no device is named"},
           {"rtu:/dev/ttyS0,fast", "the baud rate is a whole number"},
           {"udp://127.0.0.1:502", "expected tcp://HOST:PORT[,UNIT] or rtu:"},
       }) {
    SCOPED_TRACE(c.text);
    ZelDriveAddress a;
    std::string why;
    const bool ok = ZelDriveAddress::Parse(c.text, a, why);
    EXPECT_EQ(ok, !*c.error);
    if (!ok) {
      EXPECT_NE(why.find(c.error), std::string::npos) << why;
      continue;
    }
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.device, c.device);
    EXPECT_EQ(a.baud, c.baud);
    EXPECT_EQ(a.unit, c.unit);
  }
}

}  // namespace
