// Setup files: what loads, what is refused and where, what a save keeps, and the brake outputs
// that a file lists.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "host/zel_io_outputs.h"
#include "host/zel_setup_file.h"
#include "tests/support/test_setups.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Minimal(const std::string& parameters, const std::string& extra = "") {
  return R"({"format": "dcservo-setup", "version": 1, "parameters": [)" + parameters + "]" +
         extra + "}";
}

// An "options" member with `count` options opt_0, opt_1, ... and `extra` after them: more
// keys than one object of a setup usually has.
std::string ManyOptions(int count, const std::string& extra = "") {
  std::string options;
  for (int i = 0; i < count; ++i)
    options += (i ? ", " : "") + ("\"opt_" + std::to_string(i) + "\": \"" + std::to_string(i) + "\"");
  return R"(, "options": {)" + options + extra + "}";
}

std::string WithOutputs(const std::string& outputs) {
  return Minimal("", R"(, "io_outputs": )" + outputs);
}

TEST(SetupFile, BundledDriveRoundTripsByteForByte) {
  const std::string original = ReadFile(testing_support::BundledSetupPath());
  ZelLoadResult first = ParseSetupText(original, "default.json");
  ASSERT_TRUE(first.setup) << first.error;
  const std::string written = SetupToText(*first.setup);
  ZelLoadResult second = ParseSetupText(written, "written");
  ASSERT_TRUE(second.setup) << second.error;
  EXPECT_EQ(SetupToText(*second.setup), written);
  EXPECT_EQ(second.setup->GetParameters().GetParametersCount(),
            first.setup->GetParameters().GetParametersCount());
  EXPECT_EQ(second.setup->GetDescription(), first.setup->GetDescription());
}

TEST(SetupFile, KeepsTypesStorageUnitsRangesOptionsAndIdentity) {
  const std::string text = Minimal(
      R"({"name": "KPI", "type": "int16", "value": 24575, "min": 0, "max": 32767},
         {"name": "ERR_position", "unit": "rot", "storage": "internal", "value": 2000},
         {"name": "Temp_2", "unit": "°C", "value": 80})",
      R"(, "variables": [{"name": "MER", "type": "uint16", "value": 3}],
         "options": {"DisableBrake": "1"},
         "identity": {"description": "d", "firmware_id": "F1", "e2rom_size_words": 8192})");
  ZelLoadResult loaded = ParseSetupText(text, "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  ZelLoadResult again = ParseSetupText(SetupToText(*loaded.setup), "again");
  ASSERT_TRUE(again.setup) << again.error;
  CZel_Setup& s = *again.setup;
  EXPECT_EQ(s.FindParameter("KPI")->GetType(), ZelStorageType::Int16);
  EXPECT_EQ(s.FindParameter("KPI")->GetMaxInBaseUnit(), 32767);
  EXPECT_FALSE(s.FindParameter("ERR_position")->IsStoredInBaseUnit());
  EXPECT_EQ(s.FindParameter("ERR_position")->GetSelectedUnit().GetName(), "rot");
  EXPECT_EQ(s.FindParameter("Temp_2")->GetUnitType(), kUnitTemperature);
  EXPECT_EQ(s.FindVariable("MER")->GetValueInInternalUnit(), 3);
  EXPECT_EQ(s.GetIntOption("DisableBrake"), 1);
  EXPECT_EQ(s.GetE2ROMSize(), 8192);
  EXPECT_EQ(s.GetFirmwareID(), "F1");
}

// "rad/s" is a shaft's speed and a loop's pass band: the file says which when it is the
// second, and a file that does not say (written before pass bands had a kind) still loads,
// as the speed it was then.
TEST(SetupFile, AUnitNameThatTwoKindsShareKeepsItsKind) {
  const std::string text = Minimal(
      R"({"name": "PB_S", "unit": "rad/s", "kind": "angular frequency", "value": 100},
         {"name": "ASPD_max", "unit": "rad/s", "value": 100},
         {"name": "Old_PB", "unit": "rad/s", "value": 100})");
  ZelLoadResult loaded = ParseSetupText(text, "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  const std::string saved = SetupToText(*loaded.setup);
  ZelLoadResult again = ParseSetupText(saved, "again");
  ASSERT_TRUE(again.setup) << again.error;
  EXPECT_EQ(again.setup->FindParameter("PB_S")->GetUnitType(), kUnitAngularFrequency);
  EXPECT_EQ(again.setup->FindParameter("ASPD_max")->GetUnitType(), kUnitRotarySpeed);
  EXPECT_EQ(again.setup->FindParameter("Old_PB")->GetUnitType(), kUnitRotarySpeed);
  const std::string kind = "\"kind\": \"angular frequency\"";
  EXPECT_EQ(saved.find(kind), saved.rfind(kind)) << "only the pass band says its kind";
  EXPECT_NE(saved.find(kind), std::string::npos);
  // Choosing a unit by name keeps the kind the quantity has.
  CZel_Parameter& pass_band = *again.setup->FindParameter("PB_S");
  ASSERT_EQ(pass_band.ChangeUnitType("rad/s"), 1);
  EXPECT_EQ(pass_band.GetUnitType(), kUnitAngularFrequency);
}

TEST(SetupFile, MalformedFilesAreRefusedWithThePlaceAndTheReason) {
  struct Case { const char* what; std::string text; const char* expected; };
  const Case cases[] = {
      {"syntax", "{\n  \"format\": \"dcservo-setup\",\n  \"version\": 1,,\n}", "line 3, column"},
      {"not a setup", R"({"format": "other", "version": 1, "parameters": []})", "/format"},
      {"newer version", R"({"format": "dcservo-setup", "version": 2, "parameters": []})",
       "version 2"},
      {"no parameters", R"({"format": "dcservo-setup", "version": 1})", "\"parameters\""},
      {"duplicate without case",
       Minimal(R"({"name": "KPI", "value": 1}, {"name": "kpi", "value": 2})"), "/parameters/1"},
      {"duplicate key", Minimal("", R"(, "options": {"a": "1", "a": "2"})"), "appears twice"},
      {"unknown unit", Minimal(R"({"name": "X", "unit": "furlong", "value": 1})"),
       "/parameters/0/unit"},
      {"wrong type", Minimal(R"({"name": "X", "value": "1"})"), "/parameters/0/value"},
      {"unknown storage type", Minimal(R"({"name": "X", "type": "int8", "value": 1})"),
       "unknown type"},
      {"inverted range", Minimal(R"({"name": "X", "value": 1, "min": 2, "max": 1})"),
       "\"min\" is above"},
      {"a value outside its range",
       Minimal(R"({"name": "Vdc", "unit": "V", "value": 48},
                  {"name": "DSP_freq", "unit": "Hz", "value": 1.23e29, "min": 1, "max": 3e8})"),
       "/parameters/1/value: \"DSP_freq\" 1.23e+29 is outside its range [1, 3e+08] Hz"},
      {"overflowing number", Minimal(R"({"name": "X", "value": 1e999})"), "1e999"},
      {"unknown key", Minimal(R"({"name": "X", "value": 1, "vaule": 2})"), "vaule"},
      {"unknown key before a missing name", Minimal(R"({"alias": "X"})"),
       "/parameters/0/alias: unknown key \"alias\""},
      {"no name", Minimal(R"({"value": 1})"), "/parameters/0: \"name\" is missing"},
      {"no value", Minimal(R"({"name": "X", "unit": "V"})"), "/parameters/0: \"value\" is missing"},
      {"a range on a variable", Minimal("", R"(, "variables": [{"name": "V", "min": 0}])"),
       "/variables/0/min: unknown key \"min\""},
      {"duplicate among many keys", Minimal("", ManyOptions(40, R"(, "OPT_7": "x")")),
       "key \"OPT_7\" appears twice"},
      {"duplicate in an object after one with many keys",
       Minimal("", ManyOptions(40) + R"(, "identity": {"description": "a", "Description": "b"})"),
       "key \"Description\" appears twice"},
      {"option not text", Minimal("", R"(, "options": {"a": 1})"), "/options/a"},
      {"bad e2rom size", Minimal("", R"(, "identity": {"e2rom_size_words": 70000})"),
       "/identity/e2rom_size_words"},
      {"unknown kind", Minimal(R"({"name": "PB", "unit": "rad/s", "kind": "spin", "value": 1})"),
       "/parameters/0/kind: unknown kind of quantity \"spin\""},
      {"a unit not of its kind",
       Minimal(R"({"name": "PB", "unit": "rpm", "kind": "angular frequency", "value": 1})"),
       "/parameters/0/kind: \"rpm\" is not a unit of angular frequency"},
      {"a Latin-1 byte other than the degree sign",
       Minimal("{\"name\": \"T\", \"unit\": \"\xB5s\", \"value\": 1}"), "UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZelLoadResult r = ParseSetupText(c.text, "drive.json");
    EXPECT_EQ(r.setup, nullptr);
    EXPECT_EQ(r.error.rfind("drive.json: ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
  }
}

// A sound file is read straight into the setup; whatever is not plainly right is judged by
// the document's reader. Faults that the straight reading could take for sound, each refused
// as the document's reader words it.
TEST(SetupFile, FaultsAnywhereInASoundLookingFileAreRefusedAsEver) {
  const std::pair<std::string, const char*> cases[] = {
      {Minimal(R"({"name": "X", "value": 1, "value": 2})"), "key \"value\" appears twice"},
      {Minimal(R"({"name": "X", "value": 1, "Value": 2})"), "key \"Value\" appears twice"},
      {R"({"format": "dcservo-setup", "version": 1, "parameters": [], "version": 1})",
       "key \"version\" appears twice"},
      {Minimal("", R"(, "options": {"Brake": "1", "brake": "0"})"), "key \"brake\" appears twice"},
      {Minimal("", R"(, "io_outputs": [{"pin": 3, "pin": 4}])"), "key \"pin\" appears twice"},
      {Minimal("", R"(, "io_outputs": [{"pin": 3}, 3])"), "/io_outputs/1: pin 3 is listed twice"},
      {Minimal("", R"(, "identity": {"description": "a", "description": "b"})"),
       "key \"description\" appears twice"},
      {R"({"format": "dcservo-setup", "version": 1.0, "parameters": []})",
       "/version: a whole number is expected"},
      {R"({"format": "dcservo-setup", "version": 0, "parameters": []})", "version 0 is not"},
      {R"({"format": "dcservo-setup", "version": 18446744073709551615, "parameters": []})",
       "version 18446744073709551615 is not"},
      {Minimal("", R"(, "identity": null)"), "/identity: an object is expected"},
      {Minimal("", R"(, "options": {"a": {"b": "c"}})"), "/options/a: a text is expected"},
      {Minimal(R"({"name": "X", "value": null})"), "/parameters/0/value: a number is expected"},
      {Minimal(R"({"name": "X", "value": true})"), "/parameters/0/value: a number is expected"},
      {Minimal(R"([{"name": "X", "value": 1}])"), "/parameters/0: an object is expected"},
      {Minimal("", R"(, "variables": [{"name": "V", "storage": "base"}])"),
       "/variables/0/storage: unknown key \"storage\""},
      {Minimal("", R"(, "identity": {"e2rom_size_words": 1.5})"), "/identity/e2rom_size_words"},
      {Minimal("") + " {}", "syntax error"},
      {"[" + Minimal("") + "]", "/: an object is expected"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    ZelLoadResult r = ParseSetupText(text, "drive.json");
    EXPECT_EQ(r.setup, nullptr);
    EXPECT_NE(r.error.find(expected), std::string::npos) << r.error;
  }
}

// The parts of a file in any order, and each object's members in any order, make the same
// setup; one entry's members never reach the next.
TEST(SetupFile, APartsOrderInTheFileChangesNothing) {
  const std::string parameters =
      R"({"name": "KPI", "type": "int16", "value": 24575, "min": 0, "max": 32767},
         {"value": 2000, "storage": "internal", "unit": "rot", "name": "ERR_position"},
         {"name": "Plain", "value": 3})";
  const std::string parts[] = {
      R"("variables": [{"name": "MER", "type": "uint16", "value": 3}, {"name": "APOS"}])",
      R"("options": {"Zeta": "2", "alpha": "1", "Beta": "3"})",
      R"("identity": {"firmware_id": "F1", "description": "d", "e2rom_size_words": 8192})",
      R"("io_outputs": [31, {"inverted": true, "pin": 7}])",
      R"("parameters": [)" + parameters + "]",
      R"("version": 1)",
      R"("format": "dcservo-setup")"};
  std::string forward = "{", backward = "{";
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    forward += (i ? ", " : "") + parts[i];
    backward += (i ? ", " : "") + parts[std::size(parts) - 1 - i];
  }
  ZelLoadResult a = ParseSetupText(forward + "}", "a");
  ZelLoadResult b = ParseSetupText(backward + "}", "b");
  ASSERT_TRUE(a.setup) << a.error;
  ASSERT_TRUE(b.setup) << b.error;
  EXPECT_EQ(SetupToText(*a.setup), SetupToText(*b.setup));
  const CZel_Setup& s = *a.setup;
  EXPECT_EQ(s.GetOptions(), (std::vector<std::pair<std::string, std::string>>{
                                {"Beta", "3"}, {"Zeta", "2"}, {"alpha", "1"}}));
  EXPECT_FALSE(s.FindParameter("ERR_position")->IsStoredInBaseUnit());
  EXPECT_TRUE(s.FindParameter("Plain")->IsStoredInBaseUnit());
  EXPECT_TRUE(s.FindParameter("Plain")->GetSelectedUnit().GetName().empty());
  EXPECT_EQ(s.FindParameter("Plain")->GetType(), ZelStorageType::Double);
  EXPECT_TRUE(std::isinf(s.FindParameter("Plain")->GetMaxInBaseUnit()));
  EXPECT_EQ(s.FindVariable("APOS")->GetType(), ZelStorageType::Int16);
  EXPECT_EQ(s.GetIOOutputs(), (std::vector<ZelIOOutput>{{31}, {7, ZelOutputDrive::Sink, true}}));
  EXPECT_EQ(s.GetFirmwareID(), "F1");
  EXPECT_EQ(s.GetE2ROMSize(), 8192);
}

// Each object's keys are its own: many of them, or the same keys in sibling and nested
// objects, are no duplicates.
TEST(SetupFile, KeysRepeatedAcrossObjectsAreNoDuplicates) {
  ZelLoadResult many = ParseSetupText(Minimal("", ManyOptions(100)), "t");
  ASSERT_TRUE(many.setup) << many.error;
  EXPECT_EQ(many.setup->GetOptions().size(), 100u);
  EXPECT_EQ(many.setup->GetIntOption("opt_99"), 99);
  const std::string siblings = Minimal(R"({"name": "A", "value": 1}, {"name": "B", "value": 2})",
                                       ManyOptions(40, R"(, "name": "value")"));
  ZelLoadResult loaded = ParseSetupText(siblings, "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  EXPECT_EQ(loaded.setup->GetParameterValueInBaseUnit("B"), 2);
}

TEST(SetupFile, TheDegreeSignMayBeTheSingleLatin1Byte) {
  for (const char* unit : {"\xB0" "C", "\xC2\xB0" "C", "mV/\xB0" "C"}) {
    SCOPED_TRACE(unit);
    ZelLoadResult r = ParseSetupText(
        Minimal(std::string(R"({"name": "T", "unit": ")") + unit + R"(", "value": 1})"), "t");
    ASSERT_TRUE(r.setup) << r.error;
    const std::string written = SetupToText(*r.setup);
    EXPECT_NE(written.find("\xC2\xB0" "C"), std::string::npos);
    EXPECT_TRUE(ParseSetupText(written, "again").setup);
  }
}

// The scales read these in base units; kept in internal units, each would ask its own scale.
TEST(SetupFile, AScaleInputKeptInInternalUnitsIsFoundWithItsPlace) {
  auto refused = testing_support::MakeSetup({{"KPI", 1}, {"Vdc", 48, "V", true}});
  EXPECT_EQ(refused->CheckScaleInputs(),
            "/parameters/1/storage: \"Vdc\" is read by the scales, so \"storage\" must be "
            "\"base\"");
  {
    ZelCollectErrors reports;
    EXPECT_TRUE(std::isnan(refused->GetParameterValueInBaseUnit("Vdc")));
    EXPECT_EQ(reports.Messages(),
              std::vector<std::string>{"\"Vdc\" is read by the scales but kept in internal units"});
  }
  auto kept = testing_support::MakeSetup({{"Vdc", 48, "V"}, {"U", 16383.5, "V", true}});
  EXPECT_EQ(kept->CheckScaleInputs(), "");
  EXPECT_DOUBLE_EQ(kept->GetParameterValueInBaseUnit("U"), 16383.5 * 48 / 32767);
  // A scale follows its input at once, however often it was read before.
  kept->FindParameter("Vdc")->SetValueInBaseUnit(24);
  EXPECT_DOUBLE_EQ(kept->GetParameterValueInBaseUnit("U"), 16383.5 * 24 / 32767);
  ASSERT_EQ(kept->FindParameter("U")->SetValueInBaseUnit(12), 1);
  EXPECT_DOUBLE_EQ(kept->GetParameterValueInInternalUnit("U"), 16383.5);
}

// A file that cannot be opened is the bounded reader's to name; the setup's own limit is this.
TEST(SetupFile, LoadingRefusesAFileLargerThanASetupCanBe) {
  TempDir dir;
  const std::string huge = dir.File("huge.json");
  WriteFile(huge, "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kZelMaxInputFileBytes) + 1), 0);
  ZelLoadResult r = LoadSetupFile(huge);
  EXPECT_EQ(r.setup, nullptr);
  EXPECT_NE(r.error.find("huge.json: is larger than 32 MiB"), std::string::npos) << r.error;
}

// A save goes through the atomic writer (the file's mode and temporaries are tested there);
// what it must refuse is its own.
TEST(SetupFile, ASetupThatWouldNotLoadAgainIsNotSaved) {
  TempDir dir;
  const std::string path = dir.File("drive.json");
  WriteFile(path, "old");
  auto setup = testing_support::MakeSetup({{"KPI", 1}, {"Vdc", 48, "V"}});
  CZel_Parameter& vdc = *setup->FindParameter("Vdc");
  struct Case {
    double min, max;
    const char* error;
  };
  const Case cases[] = {
      {60, 12, "/parameters/1: \"Vdc\": \"min\" is above \"max\" (60 > 12)"},  // a range upside down
      {0, 24, "/parameters/1/value: \"Vdc\" 48 is outside its range [0, 24] V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    vdc.SetMinInBaseUnit(c.min);
    vdc.SetMaxInBaseUnit(c.max);
    const std::string why = SaveSetupFile(*setup, path);
    EXPECT_NE(why.find("drive.json: the setup would not load again ("), std::string::npos) << why;
    EXPECT_NE(why.find(c.error), std::string::npos) << why;
    EXPECT_EQ(ReadFile(path), "old");
  }
}

TEST(IoOutputs, KindsOfOutputSurviveASaveInPortOrderAndDriveTheBrakeQueries) {
  ZelLoadResult loaded = ParseSetupText(
      WithOutputs(R"([31, {"pin": 26, "drive": "source"}, {"pin": 7, "inverted": true}])"), "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  ZelLoadResult again = ParseSetupText(SetupToText(*loaded.setup), "again");
  ASSERT_TRUE(again.setup) << again.error;
  const CZel_Setup* s = again.setup.get();
  EXPECT_EQ(s->GetIOOutputs(), loaded.setup->GetIOOutputs());
  EXPECT_EQ(s->GetIOOutputPins(), (std::vector<int>{31, 26, 7}));
  EXPECT_EQ(GetNumberOfBrakeOutputs(s), 3);
  EXPECT_EQ(IsBrakePortEnable(s, 0) & kIoDriveMask, kIoDriveSink);
  EXPECT_EQ(IsBrakePortEnable(s, 1) & kIoDriveMask, kIoDriveSource);
  EXPECT_EQ(IsBrakePortEnable(s, 3), 0);
  EXPECT_TRUE(IsIOZel3PortInverted(s, 2));
  EXPECT_FALSE(IsIOZel3PortInverted(s, 1));
  EXPECT_EQ(BrakeOutputName(s, 2), "OUT7");
}

TEST(IoOutputs, PinsThatDoNotFitTheBrakeFieldAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"[25, 256]", "/io_outputs/1: a pin number from 0 to 255"},
      {"[2.5]", "/io_outputs/0: a pin number"},
      {"[25, 26, 25]", "/io_outputs/2: pin 25 is listed twice"},
      {R"([{"pin": 25, "drive": "pnp"}])", "/io_outputs/0/drive: \"sink\" or \"source\""},
      {R"([{"drive": "sink"}])", "/io_outputs/0: \"pin\" is missing"},
      {R"([{"pin": 25, "inverted": 1}])", "/io_outputs/0/inverted: true or false"},
  };
  for (const auto& [outputs, expected] : cases) {
    SCOPED_TRACE(outputs);
    ZelLoadResult r = ParseSetupText(WithOutputs(outputs), "drive.json");
    EXPECT_EQ(r.setup, nullptr);
    EXPECT_NE(r.error.find(expected), std::string::npos) << r.error;
  }
}

}  // namespace
