// The drive link against peers that do not play fair: a drive that refuses, trickles, lies
// or resets, and clients of the served drive that send what they like.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "host/zel_drive_map.h"
#include "host/zel_modbus_link.h"
#include "tests/app/cli_runner.h"
#include "tests/support/modbus_peers.h"
#include "tests/support/simdrive_process.h"

namespace {

using namespace testing_support;

std::shared_ptr<CZel_ModbusLink> Connect(const std::string& text, ZelLinkTiming timing = {}) {
  ZelDriveAddress address;
  std::string error;
  EXPECT_TRUE(ZelDriveAddress::Parse(text, address, error)) << error;
  auto link = CZel_ModbusLink::Open(address, error, timing);
  EXPECT_TRUE(link) << error;
  return link;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A float64 answer of four registers rewritten to `value`.
void PutAnswerF64(Bytes& answer, double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) answer[9 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
}

// The exception code of an answer's PDU, 0 when it is not an exception.
int ExceptionOf(const Bytes& pdu) { return pdu.size() == 2 && (pdu[0] & 0x80) ? pdu[1] : 0; }

// ---- a drive that refuses ------------------------------------------------------------------

TEST(DriveLinkHostile, AnyRefusalOfTheProgramsSelectionFailsBeforeAnythingRuns) {
  for (int code = 1; code <= 11; ++code) {
    SCOPED_TRACE(code);
    SimDriveProcess server("--listen 127.0.0.1:0 --refuse 0x0100=" + std::to_string(code));
    auto link = Connect(server.Address());
    ASSERT_TRUE(link);
    std::vector<ZelProgramVariable> vars;
    EXPECT_FALSE(link->DescribeProgram("Current_Controller_Tuning_Test", vars));
    EXPECT_TRUE(Has(link->LastError(), "0x0100")) << link->LastError();
    EXPECT_EQ(link->StartProgram("Current_Controller_Tuning_Test", vars), 0u);
    EXPECT_EQ(link->LoadedRun(), 0u) << "a run was started";
  }
  // The command says so and fails.
  SimDriveProcess server("--listen 127.0.0.1:0 --refuse 0x0100=4");
  ExpectRun({"drive run Current_Controller_Tuning_Test --drive " + server.Address(), 1,
             "the drive refused writing registers 0x0100 (program name): Slave device or "
             "server failure (writing register 0x0100 is refused (--refuse))"});
  ExpectRuns({{"simdrive --listen 127.0.0.1:0 --refuse 0x0100", 2, "expected REGISTER=CODE"},
              {"simdrive --listen 127.0.0.1:0 --refuse 0x0100=12", 2, "expected REGISTER=CODE"}});
}

TEST(DriveLinkHostile, ATestRefusedByTheDriveReportsTheDrivesReason) {
  // The log's arming and the program's start both go through the command register.
  for (const std::string code : {"1", "3", "4"}) {
    SCOPED_TRACE(code);
    SimDriveProcess server("--listen 127.0.0.1:0 --refuse 0x0030=" + code);
    const CliResult r = RunDcservo("test current --json --drive " + server.Address());
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Has(r.out, "writing register 0x0030 is refused (--refuse)")) << r.out;
    EXPECT_FALSE(Has(r.out + r.err, "Internal error")) << r.out << r.err;
  }
  // Commissioning's record says it too.
  SimDriveProcess server("--listen 127.0.0.1:0 --refuse 0x0030=4");
  TempDir dir;
  const CliResult r =
      RunDcservo("commission --yes --out " + dir.File("record") + " --drive " +
                 server.Address());
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_TRUE(Has(ReadFile(dir.File("record/report.json")),
                  "\"failure\": \"the drive refused writing register 0x0030 (start program): "
                  "Slave device or server failure (writing register 0x0030 is refused (--refuse))"))
      << r.err;
}

// ---- values the drive must refuse ----------------------------------------------------------

TEST(DriveLinkHostile, TheServedDriveRefusesValuesOutsideItsRangesAndTypes) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  auto link = Connect(server.Address());
  ASSERT_TRUE(link);
  const struct {
    const char* name;
    double value;
    const char* why;
  } refused[] = {
      {"PWMPER", 1, "PWMPER takes values from 100 to 20000 on the drive, not 1"},
      {"CLPER", 0, "CLPER takes values from 1 to 100 on the drive, not 0"},
      {"SLPER", 0, "SLPER takes values from 1 to 1000 on the drive, not 0"},
      {"SFTKPI", 40, "SFTKPI takes values from 0 to 15 on the drive, not 40"},
      {"ACR", 0xFFFF, "ACR asks for an analogue and a digital external reference at once"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(link->WriteParameter(c.name, c.value));
    EXPECT_TRUE(Has(link->LastError(), "Illegal data value (" + std::string(c.why) + ")"))
        << link->LastError();
  }
  EXPECT_TRUE(link->WriteParameter("PWMPER", 2000)) << link->LastError();
  link.reset();

  // Words that no value of the parameter's type is laid out as, and what stays.
  RawClient raw(PortOf(server.Address()));
  ASSERT_TRUE(raw.Connected());
  const struct {
    std::uint16_t address;
    std::uint16_t high, low;
  } words[] = {{0x2000, 0x0001, 0x0000},   // PWMPER, uint16
               {0x2020, 0x0000, 0x8000},   // SFTKPI, int16
               {0x2020, 0xFFFF, 0x0001}};  // int16 with a sign that is not its own
  for (const auto& w : words) {
    SCOPED_TRACE(w.address);
    const Bytes before = raw.ReadRegisters(w.address, 2);
    EXPECT_EQ(ExceptionOf(raw.WriteRegisters(w.address, {w.high, w.low})), 3);
    EXPECT_EQ(raw.ReadRegisters(w.address, 2), before);
  }
  const Bytes why = raw.ReadRegisters(zel_map::kDriveError, 16);
  EXPECT_TRUE(Has(std::string(why.begin(), why.end()), "SFTKPI holds a 16-bit value"));
  // Laid out as its type has it, a value still meets the range.
  EXPECT_EQ(ExceptionOf(raw.WriteRegisters(0x2006, {0xFFFF, 0x8000})), 3) << "SATPWM 0..32767";
  EXPECT_EQ(ExceptionOf(raw.WriteRegisters(0x2020, {0x0000, 0x000F})), 0);
}

// ---- peers that stall the server -----------------------------------------------------------

TEST(DriveLinkHostile, AnotherClientCannotStallTheDrivesAnswers) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  auto link = Connect(server.Address());
  ASSERT_TRUE(link);
  // A second client starts a frame and goes quiet, another sends a header that is not Modbus.
  RawClient stalling(PortOf(server.Address())), garbled(PortOf(server.Address()));
  ASSERT_TRUE(stalling.Send({0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x03}));
  ASSERT_TRUE(garbled.Send({0x00, 0x01, 0x12, 0x34, 0x00, 0x06, 0x01, 0x03}));
  for (int i = 0; i < 5; ++i) {
    double value = 0.0;
    EXPECT_TRUE(link->ReadVariable("var_u2", value)) << link->LastError();
  }
  EXPECT_EQ(link->Retries(), 0u);
  // Both are let go: the one whose frame never came whole, the other at once.
  EXPECT_TRUE(garbled.ClosedByPeer());
  EXPECT_TRUE(stalling.ClosedByPeer());
}

TEST(DriveLinkHostile, FramesAreFollowedByTheirLength) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  RawClient raw(PortOf(server.Address()));
  ASSERT_TRUE(raw.Connected());
  const struct {
    const char* what;
    Bytes pdu;
    int exception;
  } cases[] = {
      {"an unknown function with data", {0x41, 1, 2, 3, 4, 5, 6, 7, 8}, 1},
      {"a read cut short", {0x03, 0x00}, 3},
      {"a write of many registers cut short", {0x10, 0x00, 0x00, 0x00}, 3},
      {"a byte count that disagrees", {0x10, 0x20, 0x00, 0x00, 0x02, 0x03, 0, 0, 0, 0}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ExceptionOf(raw.Ask(c.pdu)), c.exception);
    // The next request is read where it starts.
    const Bytes version = raw.ReadRegisters(zel_map::kVersion, 1);
    EXPECT_EQ(version, (Bytes{3, 2, 0, zel_map::kMapVersion}));
  }
  // Another unit id than the drive's.
  EXPECT_EQ(ExceptionOf(raw.Ask({3, 0, 0, 0, 1}, 9)), 11);
}

TEST(DriveLinkHostile, ClientsBeyondTheDescriptorsAreLetGoAndTheHolderIsServed) {
  // Room for a few connections only.
  SimDriveProcess server("--listen 127.0.0.1:0", "ulimit -n 12; ");
  ASSERT_FALSE(server.Address().empty());
  auto link = Connect(server.Address());
  ASSERT_TRUE(link);
  std::vector<std::unique_ptr<RawClient>> crowd;
  for (int i = 0; i < 16; ++i)
    crowd.push_back(std::make_unique<RawClient>(PortOf(server.Address())));
  // The newest cannot all be kept: they hear so instead of waiting.
  EXPECT_TRUE(crowd.back()->ClosedByPeer());
  double value = 0.0;
  EXPECT_TRUE(link->ReadVariable("var_u2", value)) << link->LastError();
  EXPECT_EQ(value, 52352.0);
}

// ---- a drive that trickles, lies or resets -------------------------------------------------

TEST(DriveLinkHostile, ADriveThatTricklesItsAnswersIsGivenUpOn) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  // One byte every 0.2 s: each comes before libmodbus's wait between two bytes ends.
  ModbusProxy proxy(PortOf(server.Address()), [](const Bytes& request, Bytes&) {
    return RequestAddress(request) == 0x1006 ? ProxyAction::Trickle : ProxyAction::Pass;
  });
  auto link = Connect(proxy.Address());
  ASSERT_TRUE(link);
  double value = 0.0;
  EXPECT_FALSE(link->ReadVariable("ASPD", value));
  EXPECT_TRUE(link->Lost());
  EXPECT_TRUE(Has(link->LastError(), "was lost")) << link->LastError();
  EXPECT_TRUE(Has(link->LastError(), "0x1006")) << link->LastError();
}

TEST(DriveLinkHostile, AnAnswerFromAnotherUnitIsNotTaken) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  ModbusProxy proxy(PortOf(server.Address()), [](const Bytes& request, Bytes& answer) {
    if (RequestAddress(request) == 0x101E) answer[6] = 9;
    return ProxyAction::Pass;
  });
  auto link = Connect(proxy.Address());
  ASSERT_TRUE(link);
  double value = 0.0;
  EXPECT_FALSE(link->ReadVariable("var_u2", value));
  EXPECT_TRUE(Has(link->LastError(), "Response not from requested slave (reading registers "
                                     "0x101E (var_u2))"))
      << link->LastError();
}

TEST(DriveLinkHostile, AnOperationOfManyRequestsHasADeadlineOfItsOwn) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  // Each answer of the declarations comes in time, all of them together do not.
  ModbusProxy proxy(PortOf(server.Address()), [](const Bytes& request, Bytes&) {
    if (RequestAddress(request) >= zel_map::kProgramDeclarations &&
        RequestAddress(request) < zel_map::kProgramStartValues)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return ProxyAction::Pass;
  });
  ZelLinkTiming timing;
  timing.give_up_s = 0.3;
  timing.request_budget_s = 0.05;
  auto link = Connect(proxy.Address(), timing);
  ASSERT_TRUE(link);
  std::vector<ZelProgramVariable> vars;
  EXPECT_FALSE(link->DescribeProgram("Speed_Controller_Tuning_Test", vars));
  EXPECT_TRUE(Has(link->LastError(), "it answered too slowly")) << link->LastError();
  EXPECT_TRUE(Has(link->LastError(), "0x0200")) << link->LastError();
}

TEST(DriveLinkHostile, AValueOutsideItsVariablesTypeIsAFaultNamingTheRegister) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  // delta_speed is the inertia program's seventh variable: 0x0700 + 4 x 6.
  std::atomic<double> sent{0.0};
  ModbusProxy proxy(PortOf(server.Address()), [&sent](const Bytes& request, Bytes& answer) {
    if (RequestFunction(request) == 3 && RequestAddress(request) == 0x0718)
      PutAnswerF64(answer, sent);
    return ProxyAction::Pass;
  });
  auto link = Connect(proxy.Address());
  ASSERT_TRUE(link);
  std::vector<ZelProgramVariable> vars;
  ASSERT_TRUE(link->DescribeProgram("Total_Inertia_Identification_Test", vars));
  ASSERT_NE(link->StartProgram("Total_Inertia_Identification_Test", vars), 0u)
      << link->LastError();
  link->StopProgram();
  for (const double value : {1e-300, std::nan(""), 1e6, -40000.0, 0.5 / 65536}) {
    SCOPED_TRACE(value);
    sent = value;
    double read = 0.0;
    EXPECT_FALSE(link->ReadProgramVariable("delta_speed", read));
    EXPECT_TRUE(Has(link->LastError(), "at register 0x0718")) << link->LastError();
    EXPECT_FALSE(link->Lost());
  }
  for (const double value : {kZelNoResultYet, -12.25, 3.0 / 65536}) {
    sent = value;
    double read = 0.0;
    EXPECT_TRUE(link->ReadProgramVariable("delta_speed", read)) << link->LastError();
    EXPECT_EQ(read, value);
  }
}

TEST(DriveLinkHostile, AResetDuringARunFailsItSayingSo) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  std::atomic<int> resets{0};
  ModbusProxy proxy(PortOf(server.Address()), [&resets](const Bytes& request, Bytes&) {
    if (RequestAddress(request) == zel_map::kStatus && resets > 0) {
      --resets;
      return ProxyAction::Reset;
    }
    return ProxyAction::Pass;
  });
  auto link = Connect(proxy.Address());
  ASSERT_TRUE(link);
  // It runs until the host says so; the reset makes the drive stop it.
  std::vector<ZelProgramVariable> vars;
  ASSERT_TRUE(link->DescribeProgram("Encoder_Connection_Test", vars));
  const std::uint64_t run = link->StartProgram("Encoder_Connection_Test", vars);
  ASSERT_NE(run, 0u) << link->LastError();
  link->AdvanceTo(link->Now() + 0.05);
  resets = 1;
  EXPECT_FALSE(link->ProgramRunning());
  EXPECT_TRUE(Has(link->LastError(), "broke during run " + std::to_string(run) +
                                         " of \"Encoder_Connection_Test\""))
      << link->LastError();
  double value = 0.0;
  EXPECT_FALSE(link->ReadProgramVariable("STARTED", value));
  EXPECT_EQ(link->LoadedRun(), run);
  EXPECT_FALSE(link->Lost());

  // A reset while a run starts leaves nothing to trust either.
  resets = 1;
  EXPECT_EQ(link->StartProgram("Encoder_Connection_Test", vars), 0u);
  EXPECT_TRUE(Has(link->LastError(), "broke while \"Encoder_Connection_Test\" started"))
      << link->LastError();

  // A run that ended before the reset keeps its results.
  ASSERT_TRUE(link->DescribeProgram("VDC_Detection_Test", vars));
  ASSERT_NE(link->StartProgram("VDC_Detection_Test", vars), 0u) << link->LastError();
  for (int i = 0; i < 200 && link->ProgramRunning(); ++i) link->AdvanceTo(link->Now() + 0.02);
  ASSERT_FALSE(link->ProgramRunning()) << link->LastError();
  resets = 1;
  link->AdvanceTo(link->Now() + 0.01);
  EXPECT_TRUE(link->ReadProgramVariable("STARTED", value)) << link->LastError();
  EXPECT_EQ(resets, 0);
}

}  // namespace
