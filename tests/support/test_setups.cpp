#include "tests/support/test_setups.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include <gtest/gtest.h>

#include "host/zel_setup_file.h"
#include "units/scales.h"

namespace testing_support {
namespace {

double Factor(CZel_Setup* s, const char* unit, const char* name) {
  return dcservo::ScaleFactor(*s, unit, name);
}
double Offset(CZel_Setup* s, const char* unit) { return dcservo::ScaleOffset(*s, unit); }

}  // namespace

std::string BundledSetupPath() { return std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json"; }
std::string BinaryDir() { return DCSERVO_BIN_DIR; }

std::unique_ptr<CZel_Setup> LoadSetupWithScales(const std::string& path) {
  ZelLoadResult loaded = LoadSetupFile(path);
  if (!loaded.setup) throw std::runtime_error(loaded.error);
  loaded.setup->SetScaleFunctions(Factor, Offset);
  return std::move(loaded.setup);
}

std::unique_ptr<CZel_Setup> LoadBundledSetup() { return LoadSetupWithScales(BundledSetupPath()); }

void RunOk(CZel_Setup& setup, const char* quantity, dcservo::Direction direction) {
  EXPECT_EQ(dcservo::RunStep(setup, quantity, direction), dcservo::StepResult::Done) << quantity;
}

std::unique_ptr<CZel_Setup> LoadBundledSetupWithout(std::initializer_list<const char*> names) {
  nlohmann::json root = nlohmann::json::parse(ReadFile(BundledSetupPath()));
  nlohmann::json kept = nlohmann::json::array();
  for (const nlohmann::json& p : root.at("parameters")) {
    bool dropped = false;
    for (const char* name : names) dropped = dropped || p.at("name") == name;
    if (!dropped) kept.push_back(p);
  }
  root["parameters"] = kept;
  ZelLoadResult loaded = ParseSetupText(root.dump(), "bundled drive");
  if (!loaded.setup) throw std::runtime_error(loaded.error);
  loaded.setup->SetScaleFunctions(Factor, Offset);
  return std::move(loaded.setup);
}

void SetBase(CZel_Setup& setup, const std::string& name, double value) {
  EXPECT_TRUE(setup.SetParameterValueInBaseUnit(name, value)) << name;
}

double BaseValue(const CZel_Setup& setup, const std::string& name) {
  return setup.GetParameterValueInBaseUnit(name);
}

void Put(CZel_Setup& setup, std::initializer_list<Param> params) {
  for (const Param& p : params) {
    if (CZel_Parameter* existing = [&] {
          ZelQuietErrors quiet;
          return setup.FindParameter(p.name);
        }()) {
      existing->SetValueInInternalUnit(p.value);
      continue;
    }
    CZel_Setup::QuantityDesc d;
    d.name = p.name;
    d.value = p.value;
    d.unit = p.unit;
    d.stored_in_base = !p.internal;
    d.type = p.type;
    const std::string error = setup.AddParameter(d);
    if (!error.empty()) throw std::runtime_error(error);
  }
}

std::unique_ptr<CZel_Setup> MakeSetup(std::initializer_list<Param> params) {
  auto setup = std::make_unique<CZel_Setup>();
  setup->SetScaleFunctions(Factor, Offset);
  Put(*setup, params);
  return setup;
}

std::unique_ptr<CZel_Setup> MakeTimingSetup(std::initializer_list<Param> extra) {
  auto setup = MakeSetup({
      {"DSP_freq", 40e6, "MHz"},
      {"PWMPER", 1000, "", false, ZelStorageType::UInt16},
      {"CLPER", 1, "", false, ZelStorageType::UInt16},
      {"SLPER", 10, "", false, ZelStorageType::UInt16},
      {"Vdc", 48, "V"},
      {"VdcMaxMeasurable", 60, "V "},
      {"ImaxPS", 10, "A"},
      {"ADCResolution", 1024},
      {"No_encoder_lines", 500},
      {"Motor_transmission", 1},
      {"Load_transmission", 1},
      {"SensorsConfiguration", 0},
      {"Tacho_gain", 0.01},
      {"AnalogueInputsRange", 20, "V"},
      {"ADCrange", 3.3, "V"},
      {"DriveTempSensorGain", 0.01},
      {"DriveTempOutputAt0oC", 0.5, "V"},
  });
  Put(*setup, extra);
  return setup;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dcservo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::map<std::string, double> Snapshot(const CZel_Setup& setup) {
  std::map<std::string, double> values;
  const CZel_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i)
    values[all[i]->GetName()] = all[i]->GetValueInInternalUnit();
  return values;
}

}  // namespace testing_support
