#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "tests/support/non_finite.h"
#include "tests/support/test_setups.h"

using testing_support::MakeSetup;
using testing_support::Param;

namespace {

TEST(SetupStore, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  auto setup = MakeSetup({{"Kp_C_scl", 0.5}});
  ZelCollectErrors errors;
  ASSERT_NE(setup->FindParameter("KP_C_SCL"), nullptr);
  EXPECT_EQ(setup->FindParameter("kp_c_scl")->GetName(), "Kp_C_scl");
  EXPECT_TRUE(errors.Messages().empty());

  CZel_Setup::QuantityDesc twin;
  twin.name = "KP_c_SCL";
  EXPECT_NE(setup->AddParameter(twin).find("duplicate"), std::string::npos);
}

TEST(SetupStore, UnitNamesAcceptBothDegreeSpellingsButKeepTheBlankOfMeasuredVolts) {
  const CZel_Units& units = ZelUnitTable();
  const CZel_Unit* utf8 = units.FindUnit("\xC2\xB0" "C");
  const CZel_Unit* latin1 = units.FindUnit("\xB0" "C");
  ASSERT_NE(utf8, nullptr);
  EXPECT_EQ(utf8, latin1);
  EXPECT_EQ(units.FindUnit("\xB0" "c"), utf8);
  EXPECT_NE(units.FindUnit("V "), units.FindUnit("V"));
  EXPECT_EQ(units.FindBaseUnit("rpm")->GetName(), "rad/s");
  EXPECT_EQ(units.FindBaseUnit("mm")->GetName(), "m");
  EXPECT_NEAR(units.FindUnit("rpm")->ToBase(60.0), 2 * M_PI, 1e-12);
  EXPECT_EQ(units.FindUnit("furlong"), nullptr);
}

TEST(SetupStore, ChipParametersKeepTheirIntegerType) {
  struct Case { ZelStorageType type; double written, stored; };
  const Case cases[] = {
      {ZelStorageType::Int16, 24575.25, 24575},   {ZelStorageType::Int16, 24575.5, 24576},
      {ZelStorageType::Int16, 40000, 32767},      {ZelStorageType::Int16, -40000, -32768},
      {ZelStorageType::UInt16, -3, 0},            {ZelStorageType::UInt16, 70000, 65535},
      {ZelStorageType::Int32, -2.6, -3},          {ZelStorageType::UInt32, 5e9, 4294967295.0},
      {ZelStorageType::Double, 24575.25, 24575.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(StorageTypeName(c.type)) + " " + std::to_string(c.written));
    auto setup = MakeSetup({{"KPI", 0, "", false, c.type}});
    ASSERT_EQ(setup->SetParameterValueInBaseUnit("KPI", c.written), 1);
    EXPECT_EQ(setup->GetParameterValueInInternalUnit("KPI"), c.stored);
  }
}

TEST(SetupStore, ValuesThatAreNotFiniteAreRefusedEverywhereAndReported) {
  auto setup = MakeSetup({{"Ts_S", 5e-4, "s"}, {"ERR_position", 200, "rad", true}});
  CZel_Parameter& ts = *setup->FindParameter("Ts_S");
  ts.SetMinInBaseUnit(0);
  ts.SetMaxInBaseUnit(1);
  ZelCollectErrors errors;
  EXPECT_EQ(ts.SetValueInBaseUnit(kNaN), 0);
  EXPECT_EQ(ts.SetValueInInternalUnit(kInf), 0);
  EXPECT_EQ(ts.SetMinInBaseUnit(kNaN), 0);
  EXPECT_EQ(setup->SetParameterValueInBaseUnit("ERR_position", -kInf), 0);
  EXPECT_FALSE(ts.SetUserValueInBaseUnit(kNaN).empty());
  EXPECT_EQ(errors.Messages().size(), 4u);
  EXPECT_EQ(ts.GetValueInBaseUnit(), 5e-4);
  EXPECT_EQ(ts.GetMinInBaseUnit(), 0);
  EXPECT_EQ(setup->GetParameterValueInInternalUnit("ERR_position"), 200);
}

TEST(SetupStore, InternalValueIsTheTruthAndBaseFollowsThePluginScale) {
  // Positions in encoder counts: 2000 counts per motor turn.
  auto setup = testing_support::MakeTimingSetup({{"ERR_position", 2000, "rot", true}});
  CZel_Parameter& p = *setup->FindParameter("ERR_position");
  EXPECT_NEAR(p.GetValueInBaseUnit(), 2 * M_PI, 1e-12);
  EXPECT_STREQ(p.GetUnitName(), "rad");
  ASSERT_EQ(p.SetValueInBaseUnit(M_PI), 1);
  EXPECT_NEAR(p.GetValueInInternalUnit(), 1000, 1e-9);
  // A finer encoder changes the base value, not the stored counts.
  setup->SetParameterValueInBaseUnit("No_encoder_lines", 1000);
  EXPECT_NEAR(p.GetValueInInternalUnit(), 1000, 1e-9);
  EXPECT_NEAR(p.GetValueInBaseUnit(), M_PI / 2, 1e-12);
}

TEST(SetupStore, BaseValueIsRefusedWhenTheScaleCannotCarryIt) {
  // No speed scale without a known sensor configuration.
  auto setup = testing_support::MakeTimingSetup({{"ERR_speed", 7, "rad/s", true}});
  setup->SetParameterValueInBaseUnit("SensorsConfiguration", 3);
  ZelCollectErrors errors;
  EXPECT_EQ(setup->SetParameterValueInBaseUnit("ERR_speed", 10), 0);
  EXPECT_EQ(setup->GetParameterValueInInternalUnit("ERR_speed"), 7);
  EXPECT_EQ(errors.Messages().size(), 1u);
}

TEST(SetupStore, UserValuesOutsideTheRangeAreRefusedWithTheRange) {
  auto setup = MakeSetup({{"Kp_C_scl", 1}});
  CZel_Parameter& p = *setup->FindParameter("Kp_C_scl");
  p.SetMinInBaseUnit(0);
  p.SetMaxInBaseUnit(16384);
  EXPECT_EQ(p.SetUserValueInBaseUnit(16384), "");
  const std::string refusal = p.SetUserValueInBaseUnit(20000);
  EXPECT_NE(refusal.find("[0, 16384]"), std::string::npos) << refusal;
  EXPECT_FALSE(p.SetUserValueInInternalUnit(-1).empty());
  EXPECT_EQ(p.GetValueInBaseUnit(), 16384);
  // Code writes are stored as given: the pipelines must see what they computed.
  EXPECT_EQ(p.SetValueInBaseUnit(20000), 1);
}

TEST(SetupStore, MissingNamesAreReportedOnlyWhileErrorsAreShown) {
  auto setup = MakeSetup({{"Ts_S", 5e-4}});
  ZelCollectErrors errors;
  EXPECT_EQ(setup->FindParameter("NoSuch"), nullptr);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("NoSuch"), 0.0);
  EXPECT_EQ(setup->FindVariable("NoSuch", 1), nullptr);
  EXPECT_EQ(errors.Messages().size(), 3u);
  {
    ZelQuietErrors quiet;
    EXPECT_EQ(g_bShowErrors, 0);
    setup->FindParameter("NoSuch");
  }
  EXPECT_EQ(g_bShowErrors, 1);
  // A name the caller knows a setup may lack is an answer, not a report.
  EXPECT_EQ(setup->FindOptionalParameter("NoSuch"), nullptr);
  EXPECT_EQ(setup->FindOptionalParameter("ts_s"), setup->FindParameter("Ts_S"));
  // A quiet reading of a missing one is no number, and a setter refuses it.
  EXPECT_EQ(ZelQuietBaseValue(*setup, "Ts_S"), 5e-4);
  EXPECT_TRUE(std::isnan(ZelQuietBaseValue(*setup, "NoSuch")));
  EXPECT_EQ(g_bShowErrors, 1);
  EXPECT_EQ(errors.Messages().size(), 3u);
  EXPECT_EQ(setup->SetParameterValueInBaseUnit("Ts_S", ZelQuietBaseValue(*setup, "NoSuch")), 0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), 5e-4);
}

TEST(SetupStore, OptionsAreTextsWithAnIntegerReadingNamedWithoutCase) {
  auto setup = MakeSetup({});
  EXPECT_EQ(setup->GetIntOption("DisableBrake"), 0);
  EXPECT_EQ(setup->GetOptionNoError("DisableBrake"), "");
  setup->SetOption("DisableBrake", " 1");
  EXPECT_EQ(setup->GetIntOption("disablebrake"), 1);
  EXPECT_EQ(setup->GetOptionNoError("DISABLEBRAKE"), " 1");
  EXPECT_EQ(setup->GetOptions().front().first, "DisableBrake");
  setup->SetOption("DisableBrake", "yes");
  EXPECT_EQ(setup->GetIntOption("DisableBrake"), 0);
  setup->ClearOption("DISABLEBRAKE");
  EXPECT_FALSE(setup->HasOption("DisableBrake"));
}

// A quantity keeps its scale until something a scale may read changes. Setting an option to
// the text it holds changes nothing; any other text, a new option or a cleared one does.
int g_scale_calls = 0;
double CountedFactor(CZel_Setup* setup, const char*, const char*) {
  ++g_scale_calls;
  return 1.0 + setup->GetIntOption("Gear");
}
double NoOffset(CZel_Setup*, const char*) { return 0.0; }

TEST(SetupStore, OptionsSetToTheTextTheyHoldKeepTheScales) {
  CZel_Setup setup;
  CZel_Setup::QuantityDesc desc;
  desc.name = "TestSpeed";
  desc.stored_in_base = false;
  desc.unit = "rad/s";
  desc.value = 10;
  ASSERT_EQ(setup.AddParameter(desc), "");
  setup.SetScaleFunctions(CountedFactor, NoOffset);
  setup.SetOption("Gear", "1");
  const CZel_Parameter& p = *setup.FindParameter("TestSpeed");
  struct Step {
    const char* what;
    std::function<void()> change;
    bool recomputed;
    double base;
  };
  const Step steps[] = {
      {"same text", [&] { setup.SetOption("GEAR", "1"); }, false, 20},
      {"new text", [&] { setup.SetOption("Gear", "3"); }, true, 40},
      {"same number, other text", [&] { setup.SetOption("Gear", " 3"); }, true, 40},
      {"another option", [&] { setup.SetOption("Brake", "1"); }, true, 40},
      {"missing option cleared", [&] { setup.ClearOption("Clutch"); }, false, 40},
      {"option cleared", [&] { setup.ClearOption("gear"); }, true, 10},
  };
  EXPECT_EQ(p.GetValueInBaseUnit(), 20);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const int before = g_scale_calls;
    step.change();
    EXPECT_EQ(p.GetValueInBaseUnit(), step.base);
    EXPECT_EQ(g_scale_calls > before, step.recomputed);
  }
}

TEST(SetupStore, UnitChangeKeepsTheInternalValue) {
  auto setup = testing_support::MakeTimingSetup({{"TestPosition", 500, "rot", true}});
  CZel_Parameter& p = *setup->FindParameter("TestPosition");
  EXPECT_EQ(p.ChangeUnitType("mm"), 1);
  EXPECT_EQ(p.GetUnitType(), kUnitLinearPosition);
  EXPECT_STREQ(p.GetUnitName(), "m");
  EXPECT_EQ(p.GetValueInInternalUnit(), 500);
  ZelCollectErrors errors;
  EXPECT_EQ(p.ChangeUnitType("parsec"), 0);
  EXPECT_EQ(p.GetUnitType(), kUnitLinearPosition);
}

TEST(SetupStore, IdentityChecksTheFirmwareId) {
  CZel_Setup setup;
  EXPECT_EQ(setup.SetFirmwareID("F001A"), 1);
  EXPECT_EQ(setup.SetFirmwareID("bad id!"), 0);
  EXPECT_EQ(setup.SetFirmwareID(std::string(33, 'A')), 0);
  EXPECT_EQ(setup.GetFirmwareID(), "F001A");
}

TEST(HostFunctions, NumbersAsThePluginExpectsThem) {
  auto setup = MakeSetup({{"ADCResolution", 1024}});
  EXPECT_EQ(Compute_ADCMaxValue(setup.get()), 65472u);
  setup->SetParameterValueInBaseUnit("ADCResolution", 4096);
  EXPECT_EQ(Compute_ADCMaxValue(setup.get()), 65520u);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(2.345678, 2), 2.35);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(4999.6, 0), 5000);
  EXPECT_EQ(TG_FRound(-2.5), -3);
  EXPECT_EQ(TG_FRound(2.4999), 2);
  EXPECT_EQ(PositiveModulo(-1, 5), 4);
  EXPECT_EQ(PositiveModulo(7, 5), 2);
  EXPECT_EQ(PositiveModulo(3, 0), 0);
}

TEST(HostFunctions, BrakePortsAndPinsTranslateBothWaysAsTheSetupListsThem) {
  CZel_Setup setup;
  setup.SetIOOutputPins({25, 26, 31});
  ASSERT_EQ(GetIOPortCount(&setup), 3);
  for (int port = 0; port < GetIOPortCount(&setup); ++port) {
    SCOPED_TRACE(port);
    EXPECT_EQ(GetIOPortFromPin(&setup, GetIOPinFromPort(&setup, port)), port);
  }
  EXPECT_EQ(GetIOPinFromPort(&setup, 2), 31);
  EXPECT_EQ(GetIOPinFromPort(&setup, -1), -1);
  EXPECT_EQ(GetIOPinFromPort(&setup, 3), -1);
  EXPECT_EQ(GetIOPortFromPin(&setup, 0), -1);
  CZel_Setup without_outputs;
  EXPECT_EQ(GetIOPortCount(&without_outputs), 0);
  EXPECT_EQ(GetIOPinFromPort(&without_outputs, 0), -1);
  EXPECT_EQ(GetIOPortFromPin(nullptr, 25), -1);
}

}  // namespace
