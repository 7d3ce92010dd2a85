#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

#include "host/zel_names.h"

namespace {

// Names are read in words of eight bytes with a partial word at the end, so every length
// up to a few words and a difference at every position must be seen.
TEST(Names, EveryLengthFoldsCaseAndSeesEveryDifferingByte) {
  const std::string lower = "abcdefghijklmnopqrstuvwxyz_0123";
  for (std::size_t n = 0; n <= lower.size(); ++n) {
    const std::string a = lower.substr(0, n);
    std::string upper = a;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(zel::NamesEqual(a, upper)) << a;
    EXPECT_EQ(zel::FoldedNameHash(a), zel::FoldedNameHash(upper)) << a;
    EXPECT_EQ(zel::FoldName(upper), a);
    for (std::size_t i = 0; i < n; ++i) {
      std::string other = a;
      other[i] = '#';
      EXPECT_FALSE(zel::NamesEqual(a, other)) << a << " at " << i;
      EXPECT_NE(zel::FoldedNameHash(a), zel::FoldedNameHash(other)) << a << " at " << i;
    }
    if (n > 0) {
      EXPECT_FALSE(zel::NamesEqual(a, a.substr(0, n - 1))) << a;
    }
  }
}

TEST(Names, BytesBeyondTheNameAreNotRead) {
  // A view into a longer buffer: the bytes after the view must not take part.
  const std::string buffer = "KPIxyz";
  EXPECT_TRUE(zel::NamesEqual(std::string_view(buffer).substr(0, 3), "kpi"));
  EXPECT_EQ(zel::FoldedNameHash(std::string_view(buffer).substr(0, 3)),
            zel::FoldedNameHash("KPI"));
}

TEST(Names, LatinOneLettersFoldInBothEncodings) {
  EXPECT_TRUE(zel::NamesEqual("\xC2\xB0" "C", "\xB0" "c"));
  EXPECT_EQ(zel::FoldedNameHash("\xC2\xB0" "C"), zel::FoldedNameHash("\xB0" "c"));
  EXPECT_TRUE(zel::NamesEqual("\xC3\x84rger", "\xE4RGER"));  // upper-case A umlaut, UTF-8
  EXPECT_FALSE(zel::NamesEqual("\xD7", "\xF7"));  // multiplication and division signs differ
  // Only A to Z change among ASCII; a Latin-1 letter anywhere in a long or short name folds.
  EXPECT_EQ(zel::FoldName("@AZ[`az{_"), "@az[`az{_");
  EXPECT_EQ(zel::FoldName("\xC3\x84RGER_UND_MEHR"), "\xE4rger_und_mehr");
  EXPECT_EQ(zel::FoldName("ABCDEFGHI\xC3\x84"), "abcdefghi\xE4");
  EXPECT_EQ(zel::FoldName("\xC2\xB0" "C"), "\xB0" "c");
}

// The map against a plain map of folded names: every name must stay findable in every case
// spelling while others come and go, as the probes shift entries back over erased ones.
TEST(NameMap, FindsEveryNameThroughGrowthRemovalAndReturn) {
  zel::NameMap<int> map;
  std::map<std::string, int> model;  // by folded name
  const auto name = [](int i) { return "Param_" + std::to_string(i) + (i % 2 ? "_Scl" : "x"); };
  const auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(map.Size(), model.size());
    for (int i = 0; i < 300; ++i) {
      std::string shouted = name(i);
      for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const auto it = model.find(zel::FoldName(name(i)));
      const int* found = map.Find(shouted);
      ASSERT_EQ(found != nullptr, it != model.end()) << shouted;
      if (found) {
        EXPECT_EQ(*found, it->second) << shouted;
      }
    }
  };
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(map.Insert(name(i), i));
    model[zel::FoldName(name(i))] = i;
  }
  check("all added");
  for (int i = 0; i < 300; i += 3) {
    map.Erase(name(i));
    model.erase(zel::FoldName(name(i)));
  }
  map.Erase("Param_1_sc");  // not there: nothing changes
  check("every third removed");
  for (int i = 0; i < 300; i += 6) {
    ASSERT_TRUE(map.Insert(name(i), -i));
    model[zel::FoldName(name(i))] = -i;
  }
  check("half of them back");
  EXPECT_FALSE(map.Insert("PARAM_1_SCL", 7));
  EXPECT_EQ(*map.Find("param_1_scl"), 1);
}

TEST(NameMap, OnlyCaseAndTheTwoDegreeSpellingsMakeNamesTheSame) {
  zel::NameMap<int> map;
  ASSERT_TRUE(map.Insert("Kp_C", 1));
  EXPECT_TRUE(map.Insert("KpC", 2));  // an underscore is a letter of the name
  EXPECT_TRUE(map.Insert("Kp_C ", 3));
  EXPECT_TRUE(map.Insert("\xB0" "C", 4));
  EXPECT_FALSE(map.Insert("\xC2\xB0" "c", 5));
  EXPECT_EQ(*map.Find("KP_c"), 1);
  EXPECT_EQ(*map.Find("kpc"), 2);
  EXPECT_EQ(*map.Find("kp_c "), 3);
  EXPECT_EQ(*map.Find("\xC2\xB0" "C"), 4);
  EXPECT_EQ(map.Find("Kp_"), nullptr);
  EXPECT_EQ(map.Find(""), nullptr);
  EXPECT_EQ(map.Size(), 4u);
}

}  // namespace
