#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "host/zel_format.h"
#include "host/zel_names.h"

namespace {

TEST(FormatValue, ShortestDecimalWithinHalfAStep) {
  struct Case { double value, step; const char* shown; };
  const Case cases[] = {
      {8.00006109481916, 10.0 / 32767 * 2, "8"},
      {8.00006109481916, 1e-5, "8.00006"},
      {54.00018328445748, 0.0147, "54"},
      {0.5838801232947782, 1.0 / 32767, "0.58388"},
      {12.5, 1.0, "12"},  // 12 is within half a step; printf rounds halves to even
      {20000.0, 1.0, "20000"},
      {40000000.0, 1.0, "4e+07"},
      {0.0005, 0.0, "0.0005"},
      {0.9999999999999999, 0.0, "1"},  // no known step: conversion noise goes
      {-3.75, 0.5, "-4"},
      {0.0, 0.0, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ZelFormatValue(c.value, c.step), c.shown);
  }
}

// A run's figure with no known resolution: four significant digits, never six.
TEST(FormatValue, AFigureOfARunShowsFourSignificantDigits) {
  const std::pair<double, const char*> cases[] = {
      {0.566667, "0.5667"}, {4.46847e-05, "4.468e-05"}, {1.73913, "1.739"},
      {47.9765, "47.98"},   {-0.0259372, "-0.02594"},   {1200.0, "1200"},
      {0.0, "0"}};
  for (const auto& [value, shown] : cases)
    EXPECT_EQ(ZelFormatValue(value, ZelFigureStep(value)), shown) << value;
}

std::string PrintfGeneral(double value, int precision) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", precision, value);
  return text;
}

std::string PutGeneral(double value, int precision) {
  char text[64];
  return std::string(text, ZelPutGeneral(text, text + sizeof text, value, precision));
}

// The plots' and logs' text must not change by a digit: every value as printf writes it,
// the ties of the last digit (exact in binary, rounded to even), the carries into a new
// digit and the edges where %g turns to an exponent.
TEST(PutGeneral, WritesWhatPrintfWrites) {
  const double values[] = {
      0.0,       -0.0,        1.0,          -1.0,        0.5,          123456.5,
      123457.5,  1234565.0,   0.000123456,  0.0001,      9.99999e-05,  9.999995e-05,
      0.00099999949, 999999.5, 999999.4,    99999.95,    12345678.5,   123456789.5,
      1e9,       1e15,        1e300,        5e-324,      2.2250738585072014e-308,
      0.1,       0.3,         2.675,        1.0000005,   -1.0000015,   1e-5,
      799.99999951, 350.25,   -0.015625,    1.5e-4,      7.0 / 3.0,    INFINITY,
      -INFINITY, NAN};
  for (int precision : {1, 6, 9}) {
    for (double v : values) EXPECT_EQ(PutGeneral(v, precision), PrintfGeneral(v, precision)) << v;
  }
  std::mt19937_64 random(44);
  std::uniform_real_distribution<double> exponent(-7.0, 11.0), unit(-1.0, 1.0);
  for (int i = 0; i < 200000; ++i) {
    const double v = unit(random) * std::pow(10.0, exponent(random));
    // Pixels and samples: many values sit on a coarse binary grid, where ties happen.
    const double gridded = std::ldexp(std::round(std::ldexp(v, 10)), -10);
    for (int precision : {6, 9}) {
      ASSERT_EQ(PutGeneral(v, precision), PrintfGeneral(v, precision)) << v;
      ASSERT_EQ(PutGeneral(gridded, precision), PrintfGeneral(gridded, precision)) << gridded;
    }
  }
}

TEST(EscapeText, KeepsUtf8AndEscapesEverythingElse) {
  EXPECT_EQ(ZelEscapeText("25 \xC2\xB0" "C\tok\n"), "25 \xC2\xB0" "C\tok\n");
  EXPECT_EQ(ZelEscapeText("\xFF\xFE{"), "\\xFF\\xFE{");
  EXPECT_EQ(ZelEscapeText("\xB0" "C"), "\\xB0C");          // Latin-1, not UTF-8
  EXPECT_EQ(ZelEscapeText("a\x1B[2Jb"), "a\\x1B[2Jb");      // terminal control
  EXPECT_EQ(ZelEscapeText("\xE2\x82"), "\\xE2\\x82");       // cut short
  EXPECT_EQ(ZelEscapeText("\xC0\xAF"), "\\xC0\\xAF");       // overlong
  // Characters that reorder what a terminal shows around them.
  EXPECT_EQ(ZelEscapeText("Kp\xE2\x80\xAEscl"), "Kp\\u{202E}scl");
  EXPECT_EQ(ZelEscapeText("\xE2\x81\xA6x\xE2\x81\xA9\xD8\x9C\xE2\x80\x8F"),
            "\\u{2066}x\\u{2069}\\u{061C}\\u{200F}");
  EXPECT_EQ(ZelEscapeText("\xE2\x80\x94 \xE2\x80\xAF"), "\xE2\x80\x94 \xE2\x80\xAF");  // dash, narrow space
  EXPECT_FALSE(ZelIsUtf8("x\xFF.csv"));
  EXPECT_FALSE(ZelIsUtf8("\xC3"));
  EXPECT_TRUE(ZelIsUtf8("25 \xC2\xB0" "C"));
}

TEST(NearestNames, ByEditDistanceWithoutRegardToCase) {
  const std::vector<std::string> names = {"Kp_C_scl", "Ki_C_scl", "Kp_S_scl", "PWM_freq", "compute"};
  EXPECT_EQ(zel::NameDistance("comptue", "compute"), 1u);  // a swap counts once
  EXPECT_EQ(zel::NearestNames("kp_c_sc", names), (std::vector<std::string>{"Kp_C_scl", "Ki_C_scl", "Kp_S_scl"}));
  EXPECT_EQ(zel::NearestNames("PWM_frq", names), std::vector<std::string>{"PWM_freq"});
  EXPECT_TRUE(zel::NearestNames("xyzzy", names).empty());
}

}  // namespace
