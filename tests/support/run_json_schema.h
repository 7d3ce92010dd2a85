#pragma once
// The one shape of a test run's JSON: every `dcservo test KIND --json` and every step of a
// commissioning record. Each check names the place that breaks it, so that one walk over
// many runs tells every fault at once.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace testing_support {

// A value of `gains` or `results`: a number, or the record's {value, unit, ...}.
template <class Json>
void ExpectValueEntries(const Json& values, const std::string& where) {
  ASSERT_TRUE(values.is_object()) << where;
  for (const auto& [name, v] : values.items()) {
    const bool number = v.is_number();
    const bool entry = v.is_object() && v.contains("value") && v["value"].is_number() &&
                       v.contains("unit") && v["unit"].is_string();
    EXPECT_TRUE(number || entry) << where << "." << name << ": " << v.dump();
  }
}

// A side of `figures`: null, or figures whose values are numbers (null where one is not
// known, as a settling time that never came).
template <class Json>
void ExpectFigures(const Json& side, const std::string& where) {
  if (side.is_null()) return;
  ASSERT_TRUE(side.is_object()) << where << ": " << side.dump();
  EXPECT_FALSE(side.empty()) << where;
  for (const auto& [name, v] : side.items())
    EXPECT_TRUE(v.is_number() || v.is_null()) << where << "." << name << ": " << v.dump();
}

template <class Json>
void ExpectRunShape(const Json& j, const std::string& where) {
  ASSERT_TRUE(j.is_object()) << where;
  EXPECT_FALSE(j.contains("result")) << where << ": the verdict has one key";
  ASSERT_TRUE(j.contains("verdict")) << where;
  const bool passed = j["verdict"] == "passed";
  EXPECT_TRUE(passed || j["verdict"] == "failed") << where << ": verdict " << j["verdict"].dump();
  ASSERT_TRUE(j.contains("failure") && j["failure"].is_string()) << where;
  EXPECT_EQ(j["failure"].template get<std::string>().empty(), passed) << where;
  ASSERT_TRUE(j.contains("diagnosis")) << where;
  if (!j["diagnosis"].is_null()) {
    EXPECT_TRUE(j["diagnosis"]["cause"].is_string() && j["diagnosis"]["advice"].is_string())
        << where;
  }
  ASSERT_TRUE(j.contains("inputs") && j["inputs"].is_object()) << where;
  for (const auto& [name, v] : j["inputs"].items())
    EXPECT_TRUE(v.is_number()) << where << ".inputs." << name;
  for (const char* key : {"gains", "results"}) {
    ASSERT_TRUE(j.contains(key)) << where << ": no " << key;
    ExpectValueEntries(j[key], where + "." + key);
  }
  ASSERT_TRUE(j.contains("identified") && j["identified"].is_object()) << where;
  ASSERT_TRUE(j.contains("figures") && j["figures"].is_object()) << where;
  for (const char* side : {"measured", "predicted"}) {
    ASSERT_TRUE(j["figures"].contains(side)) << where << ": no figures." << side;
    ExpectFigures(j["figures"][side], where + ".figures." + side);
  }
  ASSERT_TRUE(j.contains("targets") && j["targets"].is_array()) << where;
  for (const auto& t : j["targets"]) {
    EXPECT_TRUE(t["figure"].is_string() && t["target"].is_string() && t["met"].is_boolean())
        << where << ": target " << t.dump();
  }
  ASSERT_TRUE(j.contains("warnings") && j["warnings"].is_array()) << where;
  for (const auto& w : j["warnings"]) EXPECT_TRUE(w.is_string()) << where;
}

// What a run that tracked a profile adds: the figures of its first cycle, measured (and
// predicted where the model could), and the profile it wrote, each coefficient as written.
template <class Json>
void ExpectTrackingRun(const Json& j, const std::string& where) {
  ASSERT_TRUE(j["figures"]["measured"].is_object()) << where;
  EXPECT_TRUE(j["figures"]["measured"]["rms_error"].is_number()) << where;
  for (const char* bank : {"a", "b"}) {
    for (int i = 0; i <= 5; ++i) {
      const std::string name = bank + std::to_string(i);
      EXPECT_TRUE(j["inputs"].contains(name)) << where << ": no input " << name;
    }
  }
}

}  // namespace testing_support
