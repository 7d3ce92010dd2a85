#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "host/zel_json_parse.h"

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using ::testing::HasSubstr;

std::string Nested(std::size_t depth, const std::string& inner = "1") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(GuardedJsonReader, RefusesWhatCouldExhaustTheStackOrLoseAKey) {
  struct Case {
    const char* name;
    std::string text;
    const char* refusal;  // "" when the text is read
  };
  const Case cases[] = {
      {"nesting at the limit", Nested(zel::kZelMaxJsonDepth), ""},
      {"one level deeper", Nested(zel::kZelMaxJsonDepth + 1),
       "line 1, column 65: arrays and objects nest deeper than 64"},
      {"a report's value nested 300,000 deep",
       "{\"values\": {\"Jt\": " + Nested(300000) + "}}", "line 1, column 81: arrays and objects"},
      {"brackets in strings are text", "{\"a\": \"" + std::string(1000, '[') + "\\\"\"}", ""},
      {"objects count as arrays do", "{\"a\":\n" + std::string(70, '{'), "line 2, column 64"},
      {"two equal keys", R"({"a": {"Kp": 1, "kp": 2}})", "key \"kp\" appears twice in one object"},
      {"equal keys in objects side by side are not equal", R"([{"a": 1}, {"a": 2}])", ""},
      {"syntax", "{\"a\": 1,\n \"b\" 2}", "line 2, column 6: syntax error"},
      {"not UTF-8", "[\"\xFF\"]", "syntax error"},
      {"beyond a double", "[1e999]", "number overflow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json j;
    ordered_json o;
    const std::string why = zel::ZelReadJson(c.text, j);
    EXPECT_EQ(zel::ZelReadJson(c.text, o), why);
    if (*c.refusal == '\0') {
      EXPECT_EQ(why, "");
      EXPECT_EQ(o.dump(), j.dump());
    } else {
      EXPECT_THAT(why, HasSubstr(c.refusal));
      EXPECT_TRUE(j.is_null());
    }
  }
}

// Hundreds of thousands of keys and entries read in time linear in their number: a search of
// the earlier keys per key (ordered_json's own insertion) would take minutes here.
TEST(GuardedJsonReader, ManyKeysKeepTheirOrderAndDuplicatesAreFoundAmongThem) {
  constexpr int kKeys = 200000;
  std::string text = "{\"values\": {";
  for (int i = kKeys; i > 0; --i) text += (i == kKeys ? "\"k" : ",\"k") + std::to_string(i) + "\":" + std::to_string(i);
  text += "}, \"changes\": [" + std::string("{\"name\": \"Jt\"},") + "{}]}";
  ordered_json o;
  ASSERT_EQ(zel::ZelReadJson(text, o), "");
  const ordered_json& values = o["values"];
  ASSERT_EQ(values.size(), static_cast<std::size_t>(kKeys));
  EXPECT_EQ(values.begin().key(), "k200000");
  EXPECT_EQ((--values.end()).key(), "k1");
  text.insert(text.find("}, \"changes\""), ",\"K777\":0");
  std::string duplicate;
  EXPECT_EQ(zel::ZelReadJson(text, o, &duplicate), "key \"K777\" appears twice in one object");
  EXPECT_EQ(duplicate, "K777");
}

}  // namespace
