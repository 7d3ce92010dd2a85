#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "host/zel_dialog_script.h"
#include "plugin/plugin_api.h"
#include "tests/support/test_setups.h"

namespace {

const std::string kModule = testing_support::BinaryDir() + "/libdcservo_plugin.so";

class PluginModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    edit_ = reinterpret_cast<EditSetupFn>(dlsym(handle_, kEditSetupSymbol));
    compute_ = reinterpret_cast<ComputeAllOptionsFn>(dlsym(handle_, kComputeAllOptionsSymbol));
    factor_ = reinterpret_cast<GetScaleFactorFn>(dlsym(handle_, kGetScaleFactorSymbol));
    offset_ = reinterpret_cast<GetScaleOffsetFn>(dlsym(handle_, kGetScaleOffsetSymbol));
    ASSERT_TRUE(edit_ && compute_ && factor_ && offset_);
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  void* handle_ = nullptr;
  EditSetupFn edit_ = nullptr;
  ComputeAllOptionsFn compute_ = nullptr;
  GetScaleFactorFn factor_ = nullptr;
  GetScaleOffsetFn offset_ = nullptr;
};

TEST_F(PluginModuleTest, ExportsTheFourFunctionsAndNothingElse) {
  FILE* nm = popen(("nm -D --defined-only " + kModule).c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof line, nm)) {
    char address[64], kind[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) exported.insert(name);
  }
  pclose(nm);
  EXPECT_EQ(exported, (std::set<std::string>{"ComputeAllOptions", "EditSetup", "GetScaleFactor",
                                              "GetScaleOffset"}));
}

TEST_F(PluginModuleTest, ComputeAllOptionsAcceptsNullAndRunsOnASetup) {
  compute_(nullptr);
  auto setup = testing_support::LoadBundledSetup();
  setup->SetParameterValueInBaseUnit("Ts_S", 1.0);
  setup->SetOption("IsClosedSpeed", "");
  compute_(setup.get());
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), 500e-6);
  EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), "1");
}

TEST_F(PluginModuleTest, ScaleExportsCompareUnitsWithoutCase) {
  auto setup = testing_support::LoadBundledSetup();
  EXPECT_EQ(factor_(setup.get(), "RAD/S", "aspd"), factor_(setup.get(), "rad/s", "ASPD"));
  EXPECT_NE(factor_(setup.get(), "rad/s", "ASPD"), 1.0);
  EXPECT_EQ(offset_(setup.get(), "V"), 0.0);
  EXPECT_EQ(offset_(setup.get(), "rad/s"), 0.0);
  EXPECT_LT(offset_(setup.get(), "°C"), 0.0);
}

// The host sees only the number: 1 when the user closed the dialog with OK, else 0.
TEST_F(PluginModuleTest, EditSetupReturns1OnlyForOk) {
  EXPECT_EQ(edit_(nullptr), 0);
  auto setup = testing_support::LoadBundledSetup();
  auto run = [&](const char* script) {
    ZelScriptParse parsed = ZelParseDialogScript(script, "test");
    EXPECT_TRUE(parsed.ok) << parsed.error;
    ZelScriptResult r = ZelRunWithScript(parsed.script, [&] { return edit_(setup.get()); });
    EXPECT_TRUE(r.ok()) << r.report;
    return r.modal_result;
  };
  EXPECT_EQ(run(R"([{"do": "expect", "dialog": "Drive Setup"}, {"do": "ok"}])"), 1);
  EXPECT_EQ(run(R"([{"do": "cancel"}])"), 0);
  EXPECT_EQ(run(R"([{"do": "close"}])"), 0);
  EXPECT_EQ(run("[]"), 0);
}

}  // namespace
