// The communication seam against a scripted link: message layout, variable and parameter
// traffic, program images, the caller's clock and both loggers.

#include <gtest/gtest.h>

#include <cmath>

#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_logger.h"
#include "host/zel_quiet_upload.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "tests/support/fake_drive.h"

namespace {

using testing_support::FakeDrive;

// A setup with live variables in internal units; "Motor_Current" is kept in int16.
std::unique_ptr<CZel_Setup> VariableSetup() {
  auto setup = std::make_unique<CZel_Setup>();
  setup->AddVariable({"MER", ZelStorageType::UInt16, false, "", 0.0});
  setup->AddVariable({"APOS", ZelStorageType::Int32, false, "", 0.0});
  setup->AddVariable({"Motor_Current", ZelStorageType::Int16, false, "", 0.0});
  setup->AddParameter({"KPI", ZelStorageType::Int16, true, "", 24575.0});
  setup->AddParameter({"Kp_C_scl", ZelStorageType::Double, true, "", 0.75});
  return setup;
}

std::vector<std::uint8_t> Frame(std::uint16_t sequence, std::vector<std::int32_t> values,
                                std::size_t channels, std::uint16_t code = zel_msg::kLoggerFrame) {
  std::vector<std::uint16_t> words = {sequence,
                                      static_cast<std::uint16_t>(values.size() / channels),
                                      1000, 0};  // 1 us between points
  for (std::int32_t v : values) {
    const auto u = static_cast<std::uint32_t>(v);
    words.push_back(static_cast<std::uint16_t>(u & 0xFFFF));
    words.push_back(static_cast<std::uint16_t>(u >> 16));
  }
  return zel_msg::Build(code, 1, words);
}

// A drive with a small log memory, three logged points and a stream.
std::shared_ptr<FakeDrive> SeamDrive() {
  auto drive = FakeDrive::For("Test_Program", {{"In1", 0.0}, {"test_flag", 1.2345e100}});
  drive->log_words = 1000;
  drive->log = {0.001, {{10, 100}, {20, 200}, {30, 300}}};
  drive->streams = true;
  return drive;
}

class CommTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeDrive> link = SeamDrive();
  CZel_CommSession session{link};
  std::unique_ptr<CZel_Setup> setup = VariableSetup();
};

TEST(MessageLayout, BuildPutsCountAxisCodeAndDataLittleEndian) {
  const auto m = zel_msg::Build(0xE900, 3, {0x1234, 0xABCD});
  const std::vector<std::uint8_t> expected = {2, 0, 3, 0, 0x00, 0xE9, 0x34, 0x12, 0xCD, 0xAB};
  EXPECT_EQ(m, expected);
  zel_msg::View view;
  ASSERT_TRUE(zel_msg::Parse(m.data(), m.size(), view));
  EXPECT_EQ(view.code, 0xE900);
  EXPECT_EQ(view.axis, 3);
  EXPECT_EQ(view.data_bytes, 4u);
  EXPECT_EQ(view.data, m.data() + 6);
}

TEST(MessageLayout, ParseRefusesWhatDisagreesWithItsWordCount) {
  auto buffer = zel_msg::Build(0xE900, 1, {1, 2, 3});
  const std::size_t whole = buffer.size();
  buffer.resize(whole + 2);
  const std::pair<const char*, std::size_t> cases[] = {
      {"empty", 0}, {"shorter than the header", 5}, {"header only, three words announced", 6},
      {"one byte short", whole - 1}, {"odd length", whole - 3},
      // Longer than announced is refused too, not read as if it ended early.
      {"a word longer", whole + 2}};
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    zel_msg::View view;
    std::string why;
    EXPECT_FALSE(zel_msg::Parse(buffer.data(), bytes, view, &why));
    EXPECT_FALSE(why.empty());
  }
}

int g_delivered = 0;
std::size_t g_last_bytes = 0;
int CountingHandler(const std::uint8_t*, std::size_t bytes) {
  ++g_delivered;
  g_last_bytes = bytes;
  return 1;
}
int OtherHandler(const std::uint8_t*, std::size_t) { return 0; }

TEST_F(CommTest, MalformedUnsolicitedMessagesAreDroppedAndCounted) {
  g_delivered = 0;
  const int rejected_before = CZel_Comm::RejectedMessageCount();
  auto good = zel_msg::Build(0xE900, 1, {7});
  auto truncated = good;
  truncated.pop_back();
  link->messages = {truncated, good, {0x01}};
  EXPECT_EQ(CZel_Comm::CheckForUnrequestedMessages(&CountingHandler), 1);
  EXPECT_EQ(g_delivered, 1);
  EXPECT_EQ(g_last_bytes, good.size());
  EXPECT_EQ(CZel_Comm::RejectedMessageCount() - rejected_before, 2);
  EXPECT_TRUE(link->messages.empty());
}

TEST_F(CommTest, RegisteringAHandlerGivesBackThePreviousOne) {
  const ZelUnsolicitedMsgHandler before = CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(&CountingHandler);
  EXPECT_EQ(CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(&OtherHandler), &CountingHandler);
  g_delivered = 0;
  link->messages = {zel_msg::Build(0xE900, 1, {})};
  // Without a handler of its own the call delivers to the registered one.
  CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(&CountingHandler);
  EXPECT_EQ(CZel_Comm::CheckForUnrequestedMessages(), 1);
  EXPECT_EQ(g_delivered, 1);
  CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(before);
}

TEST_F(CommTest, VariablesAndParametersTravelInInternalUnits) {
  link->live["Motor_Current"] = 40000;  // beyond int16: the setup saturates it
  link->live["APOS"] = -123456;
  CZel_Variable* current = setup->FindVariable("Motor_Current");
  CZel_Variable* apos = setup->FindVariable("APOS");
  ASSERT_EQ(current->ReadFromChip(), 1);
  ASSERT_EQ(apos->ReadFromChip(), 1);
  EXPECT_EQ(current->GetValueInInternalUnit(), 32767);
  EXPECT_EQ(apos->GetValueInInternalUnit(), -123456);

  setup->FindVariable("MER")->SetValueInInternalUnit(8);
  EXPECT_EQ(setup->FindVariable("MER")->WriteToChip(), 1);
  EXPECT_EQ(link->live["MER"], 8);

  ASSERT_EQ(CZel_Comm::DownloadChipParameters(*setup), 1);
  EXPECT_EQ(link->Written("KPI"), 24575);
  // A scaled parameter is the host's alone.
  EXPECT_FALSE(link->Written("Kp_C_scl"));
}

// A whole setup in one go: what WriteParameter writes of each, the scaled ones included.
TEST_F(CommTest, ASetupIsWrittenWholeAndARefusalIsReported) {
  ASSERT_EQ(CZel_Comm::WriteParameters(*setup), 1);
  EXPECT_EQ(link->Written("KPI"), 24575);
  EXPECT_EQ(link->Written("Kp_C_scl"), 0.75);
  link->refuse_parameters = true;
  EXPECT_EQ(CZel_Comm::WriteParameters(*setup), 0);
  EXPECT_EQ(CZel_Comm::GetLastErrorText(), "the drive refused Kp_C_scl");
}

TEST_F(CommTest, AFailedReadKeepsTheValueAndSaysWhy) {
  setup->AddVariable({"NotOnDrive", ZelStorageType::Int16, false, "", 5.0});
  CZel_Variable* v = setup->FindVariable("NotOnDrive");
  EXPECT_EQ(v->ReadFromChip(), 0);
  EXPECT_EQ(v->GetValueInInternalUnit(), 5.0);
  EXPECT_EQ(CZel_Comm::GetLastErrorText(), "no variable NotOnDrive");
}

// A scale resting on a parameter the setup lacks: the host's lookup reports it, unless quiet.
double ScaleOnAMissingParameter(CZel_Setup* setup, const char*, const char*) {
  return setup->FindParameter("NoSuchParameter") ? 0.0 : 0.5;
}
double NoScaleOffset(CZel_Setup*, const char*) { return 0.0; }

// A live reading where a failed read is a gap: a value or NaN, and nobody hears of either.
TEST_F(CommTest, AQuietLiveReadGivesTheValueOrAGapAndReportsNothing) {
  setup->AddVariable({"NotOnDrive", ZelStorageType::Int16, false, "", 5.0});
  setup->SetScaleFunctions(&ScaleOnAMissingParameter, &NoScaleOffset);
  link->live["APOS"] = 300;
  ZelCollectErrors errors;
  EXPECT_EQ(ZelQuietLiveValue(*setup, "APOS"), 150.0);
  EXPECT_TRUE(std::isnan(ZelQuietLiveValue(*setup, "NotOnDrive")));
  EXPECT_TRUE(std::isnan(ZelQuietLiveValue(*setup, "NotInTheSetup")));
  EXPECT_TRUE(errors.Messages().empty());
  EXPECT_EQ(g_bShowErrors, 1);
}

TEST(CommWithoutDrive, VariablesKeepTheirValueAndProgramsFail) {
  CZel_CommSession none(nullptr);
  auto setup = VariableSetup();
  CZel_Variable* apos = setup->FindVariable("APOS");
  apos->SetValueInInternalUnit(42);
  EXPECT_EQ(apos->ReadFromChip(), 1);
  EXPECT_EQ(apos->GetValueInInternalUnit(), 42);
  int on = 7;
  EXPECT_EQ(CZel_Comm::GetAxisOn(on), 0);
  EXPECT_EQ(CZel_Comm::ExecuteCode(nullptr, "Test_Program", nullptr, nullptr), 0);
  EXPECT_EQ(CZel_Comm::GetLastErrorText(), "no drive is connected");
}

TEST(CoffFormat, TheProgramNameIsTheFileNameWithoutExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"programs/Current_Controller_Tuning_Test.out", "Current_Controller_Tuning_Test"},
      {"C:\\tests\\VDC_Detection_Test.out", "VDC_Detection_Test"},
      {"Plain", "Plain"}, {"dir.v2/Name", "Name"}, {".out", ".out"}};
  for (const auto& [path, name] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(CZel_CoffFormat::ProgramNameOfPath(path), name);
  }
}

TEST_F(CommTest, TheImageTravelsWithExecuteCodeAndThenFollowsTheDrive) {
  CZel_CoffFormat coff(CZel_Comm::GetOutPathName("Test_Program"));
  ASSERT_EQ(coff.ReadCoff(), 1);
  std::string error;
  ASSERT_EQ(CZel_Comm::SetUserVariableValue(&coff, "in1", 4910, error), 1) << error;
  EXPECT_EQ(CZel_Comm::SetUserVariableValue(&coff, "NoSuch", 1, error), 0);
  EXPECT_EQ(error, "the program \"Test_Program\" has no variable \"NoSuch\"");

  ASSERT_EQ(CZel_Comm::ExecuteCode(nullptr, "Test_Program", &coff, nullptr), 1);
  EXPECT_EQ(link->vars["In1"], 4910);
  link->vars["test_flag"] = 1.0;
  double flag = 0;
  ASSERT_EQ(CZel_Comm::GetUserVariableValue(&coff, "test_flag", flag, error), 1);
  EXPECT_EQ(flag, 1.0);

  // Another run replaces this one on the drive: the image answers from what it last saw.
  link->StartProgram("Test_Program", {});
  link->vars["test_flag"] = 0.0;
  ASSERT_EQ(CZel_Comm::GetUserVariableValue(&coff, "test_flag", flag, error), 1);
  EXPECT_EQ(flag, 1.0);
}

TEST_F(CommTest, AProgramTheDriveDoesNotHaveIsNotLoaded) {
  CZel_CoffFormat coff(CZel_Comm::GetOutPathName("No_Such_Test"));
  EXPECT_EQ(coff.ReadCoff(), 0);
  EXPECT_FALSE(coff.IsLoaded());
  EXPECT_EQ(CZel_Comm::GetLastErrorText(), "no program No_Such_Test");
  CZel_CoffFormat other(CZel_Comm::GetOutPathName("Test_Program"));
  ASSERT_EQ(other.ReadCoff(), 1);
  EXPECT_EQ(CZel_Comm::ExecuteCode(nullptr, "Another_Program", &other, nullptr), 0);
}

TEST_F(CommTest, TheDriveFollowsTheCallersClock) {
  double clock = 100.0;
  CZel_Comm::SetClock([&clock] { return clock; });
  CZel_Comm::Attach(link);  // the drive's time 0 is the clock's 100
  clock = 100.25;
  int on = 0;
  CZel_Comm::GetAxisOn(on);
  EXPECT_DOUBLE_EQ(link->Now(), 0.25);
  clock = 100.1;  // a clock that goes back leaves the drive where it is
  CZel_Comm::Synchronize();
  EXPECT_DOUBLE_EQ(link->Now(), 0.25);
  CZel_Comm::SetClock(nullptr);
}

TEST_F(CommTest, TheDataLoggerUploadsPointByPointInBaseUnits) {
  CZel_SingleAxisLogger logger(*setup, nullptr);
  ASSERT_EQ(logger.AddVariable("MER"), 1);
  ASSERT_EQ(logger.AddVariable("APOS"), 1);
  EXPECT_EQ(logger.AddVariable("NoSuch"), 0);
  ASSERT_EQ(logger.ChangeSettings(5000, 2, 3), 1);
  EXPECT_EQ(logger.ChangeSettings(0, 2, 1), 0);
  EXPECT_EQ(logger.ChangeSettings(10, 3, 1), 0);
  // One 16-bit and one 32-bit channel: three words a point in 1000 words of memory.
  EXPECT_EQ(logger.CorrectPointsNo(), 333);

  ASSERT_EQ(CZel_Comm::ExecuteCode(nullptr, "Test_Program", nullptr, &logger), 1);
  EXPECT_EQ(link->log_request.points, 333);
  EXPECT_EQ(link->log_request.loop, 2);
  EXPECT_EQ(link->log_request.divider, 3);
  ASSERT_EQ(link->log_request.variables.size(), 2u);

  ASSERT_EQ(logger.BeginUploadData(), 1);
  EXPECT_EQ(logger.UploadInProgress(), 1);
  double values[3];
  int points = 0;
  while (logger.ReadPoint(values)) {
    EXPECT_DOUBLE_EQ(values[0], points * 0.001);
    EXPECT_EQ(values[2], 100.0 * (points + 1));
    ++points;
  }
  EXPECT_EQ(points, 3);
  EXPECT_EQ(logger.UploadInProgress(), 0);
  EXPECT_EQ(logger.GetValue(2, 1), 30);
}

// The record of a failed run, uploaded where its scales rest on a parameter the setup lacks:
// every point comes in as the scale makes it, and nobody hears of the parameter.
TEST_F(CommTest, AQuietUploadTakesEveryPointAndReportsNothing) {
  setup->SetScaleFunctions(&ScaleOnAMissingParameter, &NoScaleOffset);
  CZel_SingleAxisLogger logger(*setup, nullptr);
  ASSERT_EQ(logger.AddVariable("MER"), 1);
  ASSERT_EQ(logger.AddVariable("APOS"), 1);
  ASSERT_EQ(CZel_Comm::ExecuteCode(nullptr, "Test_Program", nullptr, &logger), 1);
  ZelCollectErrors errors;
  ASSERT_EQ(ZelUploadQuietly(logger), 1);
  EXPECT_EQ(logger.GetPointsRead(), 3u);
  EXPECT_TRUE(logger.UploadedWhole());
  EXPECT_EQ(logger.GetValue(2, 2), 150.0);
  EXPECT_TRUE(errors.Messages().empty());
  EXPECT_EQ(g_bShowErrors, 1);
}

class ScopeTest : public CommTest {
 protected:
  void SetUp() override { AddChannels(scope); }
  static void AddChannels(CZel_ScopeLogger& s) {
    ASSERT_EQ(s.AddVariable("APOS"), 1);
    ASSERT_EQ(s.AddVariable("Motor_Current"), 1);
  }
  // A program runs that streams into `s`, which shows half a second.
  static void Start(CZel_ScopeLogger& s, int mode, const char* trigger = "", double level = 0,
                    double pre_percent = 0) {
    ASSERT_EQ(s.ChangeSettings(0.5, mode, 1, trigger, level, pre_percent), 1);
    ASSERT_EQ(CZel_Comm::ExecuteCode(nullptr, "Test_Program", nullptr, &s), 1);
  }
  CZel_ScopeLogger scope{*setup, nullptr};
};

TEST_F(ScopeTest, FramesThatDoNotFitTheChannelsAreRefused) {
  Start(scope, CZel_ScopeLogger::kAuto);
  EXPECT_EQ(link->stream_request.variables.size(), 2u);

  const auto good = Frame(0, {1, 2, 3, 4}, 2);
  zel_msg::View view;
  ASSERT_TRUE(zel_msg::Parse(good.data(), good.size(), view));
  const std::pair<const char*, std::size_t> cases[] = {
      {"nothing", 0}, {"half a header", 4}, {"header only", 8},
      {"a value short", view.data_bytes - 4}, {"a byte short", view.data_bytes - 1}};
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(scope.OnFrameReceive(bytes, view.data), 0);
  }
  EXPECT_EQ(scope.GetPointsFilled(), 0);
  EXPECT_EQ(scope.OnMessage(good.data(), good.size() - 1), 0);
  const auto foreign = Frame(0, {1, 2, 3, 4}, 2, 0x1234);
  EXPECT_EQ(scope.OnMessage(foreign.data(), foreign.size()), 0);

  EXPECT_GT(scope.OnMessage(good.data(), good.size()), 0);
  int first = -1, count = -1;
  scope.GetPointsToBeDrawn(first, count);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(scope.GetValue(1, 1), 3);
  EXPECT_EQ(scope.GetValue(1, 2), 4);
  EXPECT_DOUBLE_EQ(scope.GetValue(1, 0), 1e-6);

  // A gap in the sequence numbers is counted, not hidden.
  const auto later = Frame(3, {5, 6}, 2);
  EXPECT_GT(scope.OnMessage(later.data(), later.size()), 0);
  EXPECT_EQ(scope.GetFramesLost(), 2);
}

// A single sweep of 500 points on APOS rising through 10, fed 1000 samples 100 at a time: the
// trigger sample sits just after the points before it, which are only those seen since arming.
TEST_F(ScopeTest, ASingleSweepStartsAtTheTriggerAndEnds) {
  // trigger_at: the sample index k where APOS steps to 20.
  struct Case { double pre_percent; int trigger_at, trigger_slot, filled, last_k; };
  const Case cases[] = {{20, 300, 100, 500, 699},
                        {20, 50, 50, 450, 449},      // too early for a full pre-trigger part
                        {100, 600, 499, 500, 600}};  // everything before, and the trigger
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pre_percent);
    CZel_ScopeLogger sweep(*setup, nullptr);
    AddChannels(sweep);
    Start(sweep, CZel_ScopeLogger::kSingle, "APOS", 10, c.pre_percent);
    for (int at = 0; at < 1000; at += 100) {
      std::vector<std::int32_t> part;
      for (int k = at; k < at + 100; ++k) part.insert(part.end(), {k < c.trigger_at ? 0 : 20, k});
      const auto frame = Frame(static_cast<std::uint16_t>(at / 100), part, 2);
      sweep.OnMessage(frame.data(), frame.size());
      int first = -1, count = -1;
      sweep.GetPointsToBeDrawn(first, count);
      EXPECT_LE(count, sweep.GetPointsNo());
    }
    EXPECT_EQ(sweep.GetPointsFilled(), c.filled);
    EXPECT_EQ(sweep.GetValue(c.trigger_slot, 2), c.trigger_at);
    EXPECT_EQ(sweep.GetValue(0, 2), c.trigger_at - c.trigger_slot);
    EXPECT_EQ(sweep.GetValue(c.filled - 1, 2), c.last_k);
    EXPECT_EQ(sweep.DoGracefulStop(), 1);
    EXPECT_EQ(sweep.UploadInProgress(), 0);
  }
}

TEST_F(ScopeTest, SettingsSurviveASetupOption) {
  ASSERT_EQ(scope.ChangeSettings(1.2, CZel_ScopeLogger::kNormal, 0, "APOS", -3.5, 10), 1);
  ASSERT_EQ(scope.RescaleVariable("APOS", "", 50, -200), 1);
  ASSERT_EQ(scope.ChangeChannelScale(2, 1), 1);  // 1 -> 2
  ASSERT_EQ(scope.SaveSettingsToSetupOption("ScopeOption"), 1);

  CZel_ScopeLogger copy(*setup, nullptr);
  ASSERT_EQ(copy.LoadSettingsFromSetupOption("ScopeOption"), 1);
  EXPECT_EQ(copy.GetChannelCount(), 2);
  EXPECT_EQ(copy.GetChannelName(1), "APOS");
  EXPECT_DOUBLE_EQ(copy.GetWindow(), 1.2);
  EXPECT_EQ(copy.GetMode(), CZel_ScopeLogger::kNormal);
  EXPECT_DOUBLE_EQ(copy.GetChannelScale(1), 50);
  EXPECT_DOUBLE_EQ(copy.GetChannelScale(2), 2);

  setup->SetOption("Broken", "window=x;mode=2");
  EXPECT_EQ(copy.LoadSettingsFromSetupOption("Broken"), 0);
  EXPECT_EQ(copy.LoadSettingsFromSetupOption("Missing"), 0);
  EXPECT_EQ(copy.GetChannelCount(), 2);
}

TEST_F(ScopeTest, ScaleStepsFollowTheOneTwoFiveSeries) {
  const struct { double start; int steps; double expected; } cases[] = {
      {1, 1, 2}, {2, 1, 5}, {5, 1, 10}, {50, -1, 20}, {1, -1, 0.5}, {0.2, -2, 0.05}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    ASSERT_EQ(scope.RescaleVariable("APOS", "", c.start, 0), 1);
    ASSERT_EQ(scope.ChangeChannelScale(1, c.steps), 1);
    EXPECT_NEAR(scope.GetChannelScale(1), c.expected, 1e-12);
  }
}

}  // namespace
