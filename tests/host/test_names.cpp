#include <gtest/gtest.h>

#include <cctype>
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
}

}  // namespace
