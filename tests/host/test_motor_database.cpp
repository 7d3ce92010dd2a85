// Motor files and the database behind the motor editor: what a file must hold, and that a
// motor reaches the setup whole or not at all.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/zel_errors.h"
#include "host/zel_motor_database.h"
#include "tests/support/test_setups.h"

namespace {

using ::testing::HasSubstr;

const ZelMotorData kMotor{"DC40 bench", 2.6, 9.0, 0.0302, 1.1, 0.00019, 1.38e-5};

std::string With(const std::string& key, const std::string& value) {
  std::string text = ZelMotorToText(kMotor);
  const auto at = text.find("\"" + key + "\": ");
  const auto start = at + key.size() + 4;
  text.replace(start, text.find_first_of(",\n", start) - start, value);
  return text;
}

TEST(MotorFile, ReadsBackWhatItWrites) {
  const ZelMotorParse back = ZelParseMotorText(ZelMotorToText(kMotor), "m.json");
  ASSERT_TRUE(back.ok) << back.error;
  for (const ZelMotorField& f : ZelMotorFields())
    EXPECT_EQ(back.data.*(f.value), kMotor.*(f.value)) << f.key;
  EXPECT_EQ(back.data.name, kMotor.name);
}

TEST(MotorFile, RefusesValuesADatasheetCannotHaveNamingFileAndField) {
  const std::pair<std::string, const char*> cases[] = {
      {With("resistance_ohm", "0"), "m.json: /resistance_ohm: must be above 0"},
      {With("inductance_H", "-1e-3"), "m.json: /inductance_H: must be above 0"},
      {With("torque_constant_Nm_per_A", "-0.03"), "m.json: /torque_constant_Nm_per_A: must be above 0"},
      {With("inertia_kgm2", "0"), "m.json: /inertia_kgm2: must be above 0"},
      {With("nominal_current_A", "\"2\""), "m.json: /nominal_current_A: a number is expected"},
      {With("peak_current_A", "1"), "m.json: /peak_current_A: below the nominal current"},
      {With("name", "\"a/b\""), "m.json: /name: a motor name cannot hold a path separator"},
      {With("version", "2"), "m.json: /version: version 1 is expected"},
      {"{\"format\": \"dcservo-motor\", \"version\": 1, \"name\": \"x\", \"colour\": 1}",
       "m.json: /colour: unknown key"},
      {"[1, 2", "m.json: not JSON"},
      {"[1e999]", "m.json: not JSON"},  // beyond a double: once a crash of every motor command
      {With("inertia_kgm2", "1.4e-05, \"Inertia_kgm2\": 2"), "m.json: /Inertia_kgm2: the key appears twice"},
      {With("name", "\"DC40-\u202e42V\""), "m.json: /name: a motor name cannot hold text-direction"},
      {With("name", "\"a\u0085b\""), "m.json: /name: a motor name cannot hold control characters"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(error);
    const ZelMotorParse r = ZelParseMotorText(text, "m.json");
    EXPECT_FALSE(r.ok);
    EXPECT_THAT(r.error, HasSubstr(error));
  }
}

TEST(MotorFile, ApplyingChecksEveryValueBeforeWritingAny) {
  auto setup = testing_support::LoadBundledSetup();
  const auto before = testing_support::Snapshot(*setup);
  ZelMotorData too_slow = kMotor;
  too_slow.inertia_kgm2 = 50;  // above the drive's range; the last field written
  EXPECT_THAT(ZelApplyMotorToSetup(*setup, too_slow), HasSubstr("Motor inertia 50 kgm^2"));
  EXPECT_EQ(testing_support::Snapshot(*setup), before);

  std::vector<std::string> written;
  ASSERT_EQ(ZelApplyMotorToSetup(*setup, kMotor, &written), "");
  EXPECT_EQ(written, (std::vector<std::string>{"ImaxM", "In", "K", "R", "L", "Jm"}));
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("R"), 1.1);
  EXPECT_EQ(setup->FindParameter("In")->GetMaxInBaseUnit(), 9.0);
}

TEST(MotorDatabase, CatalogueMotorsCannotBeReplacedOrDeleted) {
  testing_support::TempDir user;
  ZelMotorDatabase db(DCSERVO_RESOURCE_DIR "/motors", user.path());
  EXPECT_TRUE(db.Problems().empty());
  ASSERT_EQ(db.Motors().size(), 12u);
  ZelMotorData copy = db.Motors()[0].data;
  EXPECT_THAT(db.SaveUserMotor(copy), HasSubstr("cannot be overwritten"));
  EXPECT_THAT(db.DeleteUserMotor(copy.name), HasSubstr("cannot be deleted"));
  copy.name = "My copy";
  ASSERT_EQ(db.SaveUserMotor(copy), "");
  ASSERT_NE(db.Find("my COPY"), nullptr);
  EXPECT_EQ(db.Find("My copy")->source, ZelMotorSource::User);
  EXPECT_EQ(db.Matching("my*").size(), 1u);
  ASSERT_EQ(db.DeleteUserMotor("My copy"), "");
  EXPECT_EQ(db.Find("My copy"), nullptr);
}

TEST(MotorDatabase, ABadFileIsSkippedWithOneWarningAndTheRestServes) {
  testing_support::TempDir user;
  testing_support::WriteFile(user.File("Broken.json"), "[1e999]");
  testing_support::WriteFile(user.File("Good.json"), ZelMotorToText(kMotor));
  ZelCollectErrors reports;
  const std::size_t errors = ZelErrorCount();
  ZelMotorDatabase db(DCSERVO_RESOURCE_DIR "/motors", user.path());
  db.Reload();
  ZelMotorDatabase again(DCSERVO_RESOURCE_DIR "/motors", user.path());
  // A warning, not an error: a command that reads the database still succeeds.
  EXPECT_EQ(ZelErrorCount(), errors);
  ASSERT_EQ(reports.Messages().size(), 1u);
  EXPECT_THAT(reports.Messages()[0], HasSubstr("warning: " + user.File("Broken.json") + ": not JSON"));
  ASSERT_EQ(db.Problems().size(), 1u);
  EXPECT_NE(db.Find(kMotor.name), nullptr);
  EXPECT_EQ(db.Motors().size(), 13u);
}

}  // namespace
