// The drive at the other end of a real Modbus link: `dcservo simdrive` in its own process on
// a loopback port or a pseudo-terminal pair, met by the commands with --drive and by the
// link itself.

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <tuple>

#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_drive_map.h"
#include "host/zel_modbus_link.h"
#include "names/dialog_names.h"
#include "sim/simulated_drive.h"
#include "tests/app/cli_runner.h"
#include "tests/support/simdrive_process.h"
#include "tests/support/tuning_run.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::shared_ptr<CZel_ModbusLink> OpenLink(const std::string& text) {
  ZelDriveAddress address;
  std::string error;
  EXPECT_TRUE(ZelDriveAddress::Parse(text, address, error)) << error;
  auto link = CZel_ModbusLink::Open(address, error);
  EXPECT_TRUE(link) << error;
  return link;
}

// Two pseudo-terminals joined by the test, as a cable joins two serial ports: what is written
// to one side is read on the other. It can spoil the next answers of the drive.
class SerialCable {
 public:
  SerialCable() {
    for (End& e : ends_) {
      char name[128];
      openpty(&e.master, &e.slave, name, nullptr, nullptr);
      termios raw{};
      tcgetattr(e.slave, &raw);
      cfmakeraw(&raw);
      tcsetattr(e.slave, TCSANOW, &raw);
      e.name = name;
    }
    thread_ = std::thread([this] { Carry(); });
  }
  ~SerialCable() {
    stop_ = true;
    thread_.join();
    for (End& e : ends_) {
      close(e.master);
      close(e.slave);
    }
  }
  const std::string& DriveEnd() const { return ends_[0].name; }
  const std::string& HostEnd() const { return ends_[1].name; }
  std::atomic<int> spoil_answers{0};

 private:
  struct End {
    int master = -1, slave = -1;
    std::string name;
  };
  void Carry() {
    char buffer[512];
    while (!stop_) {
      pollfd p[2] = {{ends_[0].master, POLLIN, 0}, {ends_[1].master, POLLIN, 0}};
      if (poll(p, 2, 20) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
        if (n <= 0) continue;
        if (i == 0 && spoil_answers > 0) {
          buffer[n - 1] = static_cast<char>(buffer[n - 1] ^ 0x5A);  // the checksum's last byte
          --spoil_answers;
        }
        (void)!write(ends_[1 - i].master, buffer, static_cast<std::size_t>(n));
      }
    }
  }
  End ends_[2];
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- the commands through the link ---------------------------------------------------------

// The time of the last row of a plot's CSV, in its first column.
double LastTime(const std::string& csv) {
  const auto last = csv.find_last_of('\n', csv.size() - 2);
  return std::stod(csv.substr(last + 1));
}

// One served drive met by a reading, a program's run, the current test and a tuning test in
// turn: what the setup alone decides is the same as in process, and the measured run comes
// over the link.
TEST(DriveLink, CommandsMeetTheServedDriveAsTheyMeetTheOneInProcess) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  ASSERT_FALSE(server.Address().empty());
  const std::string drive = " --drive " + server.Address();
  for (const std::string args :
       {"drive read --internal var_u2 AD5 APOS MER",
        "drive run Current_Controller_Tuning_Test --var In1=1000 --var Imax_Prot_Test=30000 "
        "--log Motor_Current --log-points 400 --csv -"}) {
    SCOPED_TRACE(args);
    const CliResult local = RunDcservo(args);
    const CliResult remote = RunDcservo(args + drive);
    ASSERT_EQ(remote.exit_code, 0) << remote.err;
    EXPECT_EQ(local.exit_code, 0);
    // The log starts where the drive's time happens to be; the run's results do not.
    EXPECT_EQ(remote.out.substr(0, remote.out.find("Time [s]")),
              local.out.substr(0, local.out.find("Time [s]")));
  }

  // The current test with the shaft held: the gains come from the setup alone.
  const CliResult local = RunDcservo("test current --json");
  const CliResult remote = RunDcservo("test current --json" + drive);
  ASSERT_EQ(remote.exit_code, 0) << remote.err;
  EXPECT_NE(remote.out.find("\"verdict\": \"passed\""), std::string::npos) << remote.out;
  const auto gains = [](const std::string& out) {
    return out.substr(out.find("\"gains\""), out.find("\"results\"") - out.find("\"gains\""));
  };
  EXPECT_EQ(gains(remote.out), gains(local.out));

  // A tuning test logs its whole profile. The drive stretches the log over the profile only
  // if nothing was recorded yet: arming it and starting the run are two requests on a link,
  // with the drive's time going on between.
  TempDir dir;
  const std::string local_csv = dir.File("local.csv"), remote_csv = dir.File("remote.csv");
  ASSERT_EQ(RunDcservo("test position --csv " + local_csv).exit_code, 0);
  const CliResult r = RunDcservo("test position --csv " + remote_csv + drive);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(LastTime(ReadFile(remote_csv)), LastTime(ReadFile(local_csv)),
              0.02 * LastTime(ReadFile(local_csv)));
}

TEST(DriveLink, RefusedBeforeAnythingIsWrittenToTheDrive) {
  TempDir dir;
  const std::string other = dir.File("other.json");
  std::string text = ReadFile(BundledSetupPath());
  text.replace(text.find("P048.010.E101"), 13, "P099.000.E101");
  WriteFile(other, text);
  SimDriveProcess server("--listen 127.0.0.1:0");
  SimDriveProcess other_drive(ShellQuote(other) + " --listen 127.0.0.1:0");
  SimDriveProcess gone("--listen 127.0.0.1:0");
  const std::string gone_address = gone.Address();
  gone.Kill();
  const std::string& d = server.Address();
  ExpectRuns({
      {"drive read var_u2 --drive " + d + ",2", 1, "no drive with unit id 2 answers at " + d},
      {"drive read var_u2 --drive " + other_drive.Address(), 1,
       "is product \"P099.000.E101\" with firmware \"F001A\"; the setup is for product "
       "\"P048.010.E101\""},
      {"drive read var_u2 --drive " + gone_address, 1, "no drive answers at " + gone_address},
      {"drive read var_u2 --drive rtu:/dev/null,9600,0", 2, "unit id is a whole number"},
      {"drive run VDC_Detection_Test --fault short_circuit --drive " + d, 2,
       "takes its faults from `dcservo simdrive`"},
  });
  // While one client holds the drive, a second is refused.
  auto holder = OpenLink(d);
  ExpectRun({"test current --drive " + d, 1, "the drive at " + d + " is held by another client"});
  holder.reset();
  ExpectRun({"drive read var_u2 --drive " + d, 0, ""});
}

// ---- a lost link ---------------------------------------------------------------------------

// Runs `args` while the server is killed after `kill_after_s`; the command must end soon after.
CliResult RunWhileTheServerDies(SimDriveProcess& server, const std::string& args,
                                double kill_after_s, double& ended_after_kill_s) {
  auto run = std::async(std::launch::async, [&] { return RunDcservo(args); });
  std::this_thread::sleep_for(std::chrono::duration<double>(kill_after_s));
  server.Kill();
  const auto killed = Clock::now();
  EXPECT_EQ(run.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  CliResult r = run.get();
  ended_after_kill_s = SecondsSince(killed);
  return r;
}

TEST(DriveLink, ServerStoppedInTheMiddleOfARunEndsItWithinASecondAndWritesNothing) {
  TempDir dir;
  const std::string csv = dir.File("log.csv"), saved = dir.File("saved.json");
  // Both run until Stop or the host's word: they are still running when the server dies.
  for (const std::string& args :
       {"drive run Encoder_Connection_Test --until 30 --log APOS --csv " + csv,
        "test encoder --csv " + csv + " --out " + saved}) {
    SCOPED_TRACE(args);
    SimDriveProcess server("--listen 127.0.0.1:0");
    double ended = 0.0;
    const CliResult r =
        RunWhileTheServerDies(server, args + " --drive " + server.Address(), 1.0, ended);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("the link to the drive at " + server.Address() + " was lost"),
              std::string::npos)
        << r.err;
    EXPECT_LT(ended, 2.0);
    EXPECT_FALSE(std::filesystem::exists(csv));
    EXPECT_FALSE(std::filesystem::exists(saved));
  }
}

TEST(DriveLink, CommissioningWritesTheReportOfWhatRanWhenTheLinkIsLost) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  TempDir dir;
  const std::string setup = dir.File("drive.json");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  const std::string before = ReadFile(setup);
  double ended = 0.0;
  const CliResult r = RunWhileTheServerDies(server,
                                            "commission " + ShellQuote(setup) + " --out " +
                                                dir.File("record") + " --yes --drive " +
                                                server.Address(),
                                            1.5, ended);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  // The loss shows at the next exchange; between two of them commissioning may be tuning a
  // loop, which takes seconds in a sanitized build. How soon a run notices is the test above's.
  EXPECT_LT(ended, 6.0);
  EXPECT_NE(r.err.find("was lost"), std::string::npos) << r.err;
  // What to check is the link, not the loop that was running when it went (the advice was
  // the step's own: "the total inertia, the speed sensor and the speed loop's pass band").
  EXPECT_NE(r.err.find("check the cable or the network"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("pass band"), std::string::npos) << r.err;
  // --yes answered the shaft's notices, and says so on the terminal and in the record.
  EXPECT_NE(r.out.find("(answered by --yes)"), std::string::npos) << r.out;
  const std::string report = ReadFile(dir.File("record/report.json"));
  EXPECT_NE(report.find("\"verdict\": \"failed\""), std::string::npos) << report;
  EXPECT_NE(report.find("was lost"), std::string::npos) << report;
  EXPECT_NE(report.find("\"shaft_notices\": \"answered by --yes"), std::string::npos) << report;
  EXPECT_EQ(report.find("pass band"), std::string::npos) << report;
  // The drive's programs and the wall clock, for how much the host waited beside them.
  EXPECT_NE(report.find("\"drive_programs_s\": "), std::string::npos) << report;
  EXPECT_NE(report.find("\"wall_s\": "), std::string::npos) << report;
  EXPECT_EQ(ReadFile(setup), before);
}

// Over a link the shaft is a real one: each notice to free or block it is a question on the
// terminal (they were answered silently), and the step waits for its answer; when the input
// ends the run stops before the step that needs the shaft otherwise. Each step shows its
// progress with the run's time.
TEST(DriveLink, CommissioningAsksForEachShaftActionOnTheTerminal) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  TempDir dir;
  // Enter for the first notice (free the shaft); the second (block it) meets the end of input.
  const CliResult r = RunDcservo(
      "commission --out " + dir.File("record") + " --drive " + server.Address(), "", "\n");
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const std::size_t free = r.out.find(dcservo::dialog_names::kFreeShaftNotice);
  const std::size_t block = r.out.find(dcservo::dialog_names::kBlockedShaftNotice);
  ASSERT_NE(free, std::string::npos) << r.out;
  ASSERT_NE(block, std::string::npos) << r.out;
  EXPECT_LT(free, block);
  EXPECT_NE(r.out.find("Press Enter when done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(run "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no answer (end of input)", block), std::string::npos) << r.out;
  const std::string report = ReadFile(dir.File("record/report.json"));
  EXPECT_NE(report.find("\"failed_step\": \"current\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"shaft_notices\": \"confirmed at the terminal\""), std::string::npos)
      << report;
  // A declined question is the cause, not the step's own advice about the drive.
  EXPECT_NE(report.find("the run was stopped at the question before this step"),
            std::string::npos)
      << report;
}

// ---- the link itself -----------------------------------------------------------------------

// A served drive and a link to it.
class DriveLinkToServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link); }
  SimDriveProcess server{"--listen 127.0.0.1:0"};
  std::shared_ptr<CZel_ModbusLink> link = OpenLink(server.Address());
};

TEST_F(DriveLinkToServer, ProgramsAreDeclaredAsTheDriveDeclaresThem) {
  auto local = dcsim::MakeSimulatedDrive(*LoadBundledSetup());
  for (const std::string& program : dcsim::TestProgramNames()) {
    SCOPED_TRACE(program);
    std::vector<ZelProgramVariable> remote, expected;
    ASSERT_TRUE(link->DescribeProgram(program, remote)) << link->LastError();
    ASSERT_TRUE(local->DescribeProgram(program, expected));
    ASSERT_EQ(remote.size(), expected.size());
    // Ranges of 16.16 and 32-bit variables and the "not yet" marker cross unchanged.
    const auto fields = [](const ZelProgramVariable& v) {
      return std::tie(v.name, v.value, v.lowest, v.highest, v.step);
    };
    for (std::size_t k = 0; k < remote.size(); ++k) EXPECT_EQ(fields(remote[k]), fields(expected[k]));
  }
  std::vector<ZelProgramVariable> none;
  EXPECT_FALSE(link->DescribeProgram("No_Such_Test", none));
  EXPECT_EQ(link->LastError(),
            "the drive refused writing registers 0x0100 (program name): Illegal data value (the "
            "drive has no program \"No_Such_Test\")");
}

TEST_F(DriveLinkToServer, ARefusalNamesTheRegisterAndTheDrivesReason) {
  ZelLogRequest request;
  request.variables = {"APOS", "ASPD"};
  request.points = 9000;  // 27000 words; the log memory has 16384
  EXPECT_FALSE(link->StartLog(request));
  EXPECT_EQ(link->LastError(),
            "the drive refused writing register 0x0030 (arm log): Illegal data value (the log "
            "needs 27000 words; the drive's log memory has 16384)");
  EXPECT_FALSE(link->Lost());
  EXPECT_EQ(link->Retries(), 0u);
}

// A log comes over the link in many requests: after each the host hears how many of its
// points have arrived, up to all of them (a speed test's upload showed nothing for seconds).
TEST_F(DriveLinkToServer, ALogsUploadCountsItsPointsAsTheyArrive) {
  ZelLogRequest request;
  request.variables = {"APOS", "ASPD"};
  request.points = 1000;
  ASSERT_TRUE(link->StartLog(request)) << link->LastError();
  // While it records, the drive says how far it has got.
  std::size_t logged = 0, asked = 0;
  link->AdvanceTo(link->Now() + 0.1);
  ASSERT_TRUE(link->LoggedPoints(logged, asked)) << link->LastError();
  EXPECT_GT(logged, 0u);
  EXPECT_LT(logged, 1000u);
  EXPECT_EQ(asked, 1000u);
  link->AdvanceTo(link->Now() + 1.0);
  ASSERT_TRUE(link->LoggedPoints(logged, asked));
  EXPECT_EQ(logged, 1000u);
  std::vector<std::size_t> received;
  link->SetUploadProgress([&received](std::size_t got, std::size_t total) {
    EXPECT_EQ(total, 1000u);
    received.push_back(got);
  });
  ZelLogData data;
  ASSERT_TRUE(link->UploadLog(data)) << link->LastError();
  EXPECT_EQ(data.points.size(), 1000u);
  EXPECT_GT(received.size(), 10u);
  EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
  EXPECT_EQ(received.back(), 1000u);
}

TEST_F(DriveLinkToServer, AProgramStopsWhenItsHostGoesAway) {
  // It runs until the host says so, which this host will not.
  std::vector<ZelProgramVariable> vars;
  ASSERT_TRUE(link->DescribeProgram("Encoder_Connection_Test", vars)) << link->LastError();
  ASSERT_NE(link->StartProgram("Encoder_Connection_Test", vars), 0u) << link->LastError();
  link->AdvanceTo(link->Now() + 0.05);
  EXPECT_TRUE(link->ProgramRunning());
  link.reset();
  link = OpenLink(server.Address());
  ASSERT_TRUE(link);
  link->AdvanceTo(link->Now() + 0.05);
  EXPECT_FALSE(link->ProgramRunning());
  EXPECT_FALSE(link->Lost());
}

// The time that the programs ran counts each run from its start until the link saw it end,
// and nothing of the time between the runs.
TEST_F(DriveLinkToServer, ProgramTimeCountsTheRunsAlone) {
  std::vector<ZelProgramVariable> vars;
  ASSERT_TRUE(link->DescribeProgram("Encoder_Connection_Test", vars)) << link->LastError();
  EXPECT_EQ(link->ProgramSeconds(), 0.0);
  double ran = 0.0;
  for (const double run_s : {0.2, 0.3}) {
    SCOPED_TRACE(run_s);
    ASSERT_NE(link->StartProgram("Encoder_Connection_Test", vars), 0u) << link->LastError();
    link->AdvanceTo(link->Now() + run_s);
    link->StopProgram();
    link->AdvanceTo(link->Now() + 0.05);
    ASSERT_FALSE(link->ProgramRunning());
    EXPECT_GE(link->ProgramSeconds(), ran + run_s);
    ran = link->ProgramSeconds();
    link->AdvanceTo(link->Now() + 0.3);  // idle: no program runs
    EXPECT_FALSE(link->ProgramRunning());
    EXPECT_EQ(link->ProgramSeconds(), ran);
  }
}

TEST(DriveLink, SlowAnswersAreWaitedForAndRepeated) {
  // Every third answer comes later than the link waits.
  SimDriveProcess server("--listen 127.0.0.1:0 --reply-delay 0.45 --delay-every 3");
  auto link = OpenLink(server.Address());
  ASSERT_TRUE(link);
  for (int i = 0; i < 6; ++i) {
    double value = 0.0;
    EXPECT_TRUE(link->ReadVariable("var_u2", value)) << link->LastError();
    EXPECT_EQ(value, 52352.0);
  }
  EXPECT_GE(link->Retries(), 1u);
  EXPECT_FALSE(link->Lost());
}

TEST(DriveLink, RtuOnASerialLineRepeatsAnswersWithABadChecksum) {
  SerialCable cable;
  SimDriveProcess server("--serial " + cable.DriveEnd());
  ASSERT_EQ(server.Address(), "rtu:" + cable.DriveEnd() + ",115200");
  auto link = OpenLink("rtu:" + cable.HostEnd());
  ASSERT_TRUE(link);
  EXPECT_EQ(link->Identity().product_id, "P048.010.E101");
  cable.spoil_answers = 1;
  double value = 0.0;
  EXPECT_TRUE(link->ReadVariable("var_u2", value)) << link->LastError();
  EXPECT_EQ(value, 52352.0);
  EXPECT_GE(link->Retries(), 1u);
  // Another unit id on the line: nobody answers.
  ZelDriveAddress address;
  std::string error;
  ASSERT_TRUE(ZelDriveAddress::Parse("rtu:" + cable.HostEnd() + ",115200,7", address, error));
  link.reset();
  EXPECT_FALSE(CZel_ModbusLink::Open(address, error));
  EXPECT_NE(error.find("no drive answers at rtu:" + cable.HostEnd() + ",115200,7 (unit id 7)"),
            std::string::npos)
      << error;
  // The commands reach it the same way.
  ExpectRun({"drive read var_u2 --internal --drive rtu:" + cable.HostEnd() + ",115200", 0, "",
             "var_u2=52352"});
}

// A second connection streams as the first did: the drive's message indices go on from the
// first one's stream, and an acknowledgement from a fresh count dropped every frame unread.
TEST_F(DriveLinkToServer, TheScopeStreamsFramesInOrderOnEveryConnection) {
  ZelStreamRequest request;
  request.variables = {"APOS", "AD5", "var_u2"};
  request.period_s = 0.001;
  request.points_per_frame = 8;
  for (const char* connection : {"first", "second"}) {
    SCOPED_TRACE(connection);
    if (std::string_view(connection) == "second") {
      link.reset();
      link = OpenLink(server.Address());
      ASSERT_TRUE(link);
    }
    ASSERT_TRUE(link->StartStream(request)) << link->LastError();
    link->AdvanceTo(link->Now() + 0.3);
    std::vector<std::uint8_t> message;
    int frames = 0;
    std::uint16_t expected_sequence = 0;
    while (link->PopMessage(message) && frames < 1000) {
      zel_msg::View view;
      ASSERT_TRUE(zel_msg::Parse(message.data(), message.size(), view));
      ASSERT_EQ(view.code, zel_msg::kLoggerFrame);
      const std::uint16_t sequence = zel_msg::Word(view.data);
      const std::uint16_t points = zel_msg::Word(view.data + 2);
      EXPECT_EQ(sequence, expected_sequence++);
      EXPECT_EQ(points, 8);
      EXPECT_EQ(view.data_bytes, kZelFrameHeaderBytes + 8u * 3 * 4);
      ++frames;
    }
    // 0.3 s of 8 ms frames, less those still being filled.
    EXPECT_GE(frames, 30);
    link->StopStream();
  }
}

TEST(DriveLink, EveryNameOfTheMapIsOneTheSimulatedDriveKnows) {
  auto drive = dcsim::MakeSimulatedDrive(*LoadBundledSetup());
  for (const zel_map::LiveVariable& v : zel_map::LiveVariables()) {
    double value = 0.0;
    EXPECT_TRUE(drive->ReadVariable(v.name, value)) << v.name;
    EXPECT_EQ(drive->WriteVariable(v.name, 0.0), v.writable) << v.name;
  }
}

}  // namespace

// The frequency response program runs over the link as in process: the same plant, point by
// point, whatever the drive's time did between arming the log and starting each run.
TEST(DriveLink, TheFrequencyResponseIsMeasuredOverTheLinkAsInProcess) {
  SimDriveProcess server("--listen 127.0.0.1:0");
  ASSERT_FALSE(server.Address().empty());
  const std::string args = "test frequency --loop plant --from 20 --to 80 --points 3 --json";
  const CliResult local = RunDcservo(args);
  const CliResult remote = RunDcservo(args + " --drive " + server.Address());
  ASSERT_EQ(remote.exit_code, 0) << remote.err;
  ASSERT_EQ(local.exit_code, 0) << local.err;
  const auto near = nlohmann::json::parse(local.out)["measured"]["plant"];
  const auto far = nlohmann::json::parse(remote.out)["measured"]["plant"];
  ASSERT_EQ(far.size(), near.size());
  for (std::size_t k = 0; k < far.size(); ++k) {
    EXPECT_NEAR(far[k]["magnitude_db"].get<double>(), near[k]["magnitude_db"].get<double>(), 0.3);
    EXPECT_NEAR(far[k]["phase_deg"].get<double>(), near[k]["phase_deg"].get<double>(), 2.0);
  }
}

namespace {

// The speed test's dialog on the drive behind the link, run as the tests of the drive run it
// in process.
struct ServedDrive {
  SimDriveProcess server{"--listen 127.0.0.1:0"};
};
class DriveLinkSpeedTest : private ServedDrive,
                           public TestRunHarness<dcservo::CTestSpeedTuning> {
 protected:
  DriveLinkSpeedTest()
      : TestRunHarness([this](CZel_Setup&) -> std::shared_ptr<CZel_DriveLink> {
          return OpenLink(server.Address());
        }) {}
};

// The log comes over the link in blocks while the program runs, each drawn as it arrives
// (the plot stayed empty until the whole log had come), and the run ends with all of it.
TEST_F(DriveLinkSpeedTest, ALoggerRunDrawsItsLogBlockByBlockAsItArrives) {
  std::vector<int> drawn_while_running;
  ui_.on_control_changed = [&drawn_while_running](CZel_Dialog& dialog, int id) {
    auto* test = dynamic_cast<dcservo::CTestSpeedTuning*>(&dialog);
    if (!test || id != kIdcTestStatus) return;
    if (test->GetChildText(id).rfind("Running test: ", 0) == 0)
      drawn_while_running.push_back(test->GetLoggerGraph().GetDrawnPointCount());
  };
  Run({[](dcservo::CTestSpeedTuning& d) {
         d.UserSelect(kTab, kTestPage);
         ASSERT_TRUE(d.UserClick(kIdcTestStartStop)) << d.LastRefusal();
       },
       UntilRunEnds()});
  ui_.on_control_changed = nullptr;
  const CZel_SingleAxisLogger& logger = dlg_->GetDataLogger();
  std::vector<int> blocks = drawn_while_running;
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  std::erase(blocks, 0);
  EXPECT_GT(blocks.size(), 1u);
  EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));
  EXPECT_LT(blocks.back(), static_cast<int>(logger.GetPointsRead()));
  // The speed test's 1.2 s profile, a point every millisecond.
  EXPECT_GE(logger.GetPointsRead(), 1200u);
  EXPECT_EQ(logger.GetPointsRead(), logger.GetPointsUploaded());
  EXPECT_EQ(dlg_->GetLoggerGraph().GetDrawnPointCount(), static_cast<int>(logger.GetPointsRead()));
  EXPECT_EQ(dlg_->m_strError.find("link"), std::string::npos) << dlg_->m_strError;
}

}  // namespace
