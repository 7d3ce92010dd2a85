#include "design/biquad_designer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "derive/pipelines.h"
#include "host/zel_errors.h"
#include "tests/design/biquad_vectors.h"
#include "tests/support/test_setups.h"

namespace {

using dcservo::BiquadCoefficients;
using dcservo::BiquadReport;
using dcservo::CBiquadDesigner;
using dcservo::StepResult;
using testing_support::BaseValue;
using testing_support::LoadBundledSetup;
using testing_support::SetBase;

struct Filter {
  int index;
  int place;
  int type;
  double f1_hz;
  double third;  // Q, or the lag frequency of the lead-lag types
};

// The bundled drive (Ts_S = 0.5 ms) with exactly these filters on.
std::unique_ptr<CZel_Setup> WithFilters(std::initializer_list<Filter> filters) {
  auto s = LoadBundledSetup();
  for (int i = 1; i <= 3; ++i) SetBase(*s, "BQFilter" + std::to_string(i), 0);
  for (const Filter& f : filters) {
    const std::string n = std::to_string(f.index);
    SetBase(*s, "BQFilter" + n, 1);
    SetBase(*s, "BQFilterLocation" + n, f.place);
    SetBase(*s, "BQFilterType" + n, f.type);
    SetBase(*s, "BQFilterF1" + n, f.f1_hz);
    SetBase(*s, (f.type >= 8 ? "BQFilterF2" : "BQFilterQ") + n, f.third);
  }
  return s;
}

std::array<double, 6> Slot(const CZel_Setup& s, int slot) {
  const auto names = dcservo::SlotParameterNames(slot);
  std::array<double, 6> v{};
  for (int k = 0; k < 6; ++k) v[k] = BaseValue(s, names[k]);
  return v;
}

// The designer on its own and the chip pipeline, which designs the filters as its last row.
TEST(BiquadDesigner, DocumentedExamplesStoreTheirExactIntegers) {
  struct Case {
    const char* name;
    Filter filter;
    std::array<double, 6> slot;  // B0, B1, B2, A1, A2, SF
  };
  const Case cases[] = {
      {"low pass 1st order, 100 Hz", {1, 1, 0, 100, 0.707},
       {293622725, 293622725, 0, -1560238198, 0, 1}},
      {"low pass 2nd order, 200 Hz, Q 0.707", {1, 1, 1, 200, 0.707},
       {72426337, 144852674, 72426337, -1227211551, 443175075, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = WithFilters({c.filter});
    ASSERT_EQ(BaseValue(*s, "Ts_S"), 0.0005);
    CBiquadDesigner designer;
    EXPECT_EQ(designer.DesignAllFilters(*s), StepResult::Done);
    EXPECT_EQ(Slot(*s, 1), c.slot);
    EXPECT_EQ(BaseValue(*s, "IQREF_BQ_INI"), 1);

    auto derived = WithFilters({c.filter});
    dcservo::ComputeChipParameters(*derived);
    EXPECT_EQ(Slot(*derived, 1), c.slot);
  }
}

// Independent reference: SciPy's bilinear transform of each analogue prototype
// (make_biquad_vectors.py).
TEST(BiquadDesigner, MatchesScipyReferences) {
  for (const auto& v : biquad_vectors::kVectors) {
    SCOPED_TRACE(v.label);
    CBiquadDesigner d;
    const bool lead_lag = v.type >= 8;
    d.ComputeCoefficients(v.type, v.f1_hz * v.ts_s, lead_lag ? v.third * v.ts_s : v.third, 0.0);
    const BiquadCoefficients& c = d.Coefficients();
    const double expected[] = {v.b0, v.b1, v.b2, v.a1, v.a2};
    const double actual[] = {c.b0, c.b1, c.b2, c.a1, c.a2};
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(actual[k], expected[k], 1e-10) << "coefficient " << k;

    // The stored filter, as the drive runs it, through the whole design of one slot.
    auto s = WithFilters({{1, 2, v.type, v.f1_hz, v.third}});
    SetBase(*s, "Ts_S", v.ts_s);
    BiquadReport report;
    ASSERT_EQ(d.DesignAllFilters(*s, &report), StepResult::Done);
    ASSERT_EQ(report.filters.size(), 1u);
    const auto& stored = report.filters[0].stored;
    for (const auto& r : v.response) {
      const auto h = dcservo::FilterResponse(stored, v.ts_s, r.frequency_hz);
      // 32-bit coefficients: the responses agree to about 1e-6 of full scale even at the
      // sharpest resonance here (Q 5).
      EXPECT_NEAR(std::abs(h), r.magnitude, 1e-5 * (1.0 + r.magnitude)) << r.frequency_hz << " Hz";
      if (r.magnitude > 1e-3) {
        EXPECT_NEAR(std::remainder(std::arg(h) - r.phase_rad, 2.0 * std::numbers::pi), 0.0, 1e-4)
            << r.frequency_hz << " Hz";
      }
    }
    // A double pole (the squared lead-lag) splits by about the square root of one
    // coefficient step, 2^-15 here; distinct poles move by about one step.
    const auto poles = dcservo::FilterPoles(stored);
    const bool double_pole = v.type == 9;
    for (int k = 0; k < 2; ++k) {
      const std::complex<double> want(v.pole_re[k], v.pole_im[k]);
      const double nearest = std::min(std::abs(poles[0] - want), std::abs(poles[1] - want));
      EXPECT_LT(nearest, double_pole ? 2e-4 : 1e-6) << "pole " << want;
    }
    EXPECT_LT(report.filters[0].pole_radius, 1.0);
  }
}

// Decision: the zero-frequency correction forces gain 1, which would turn a high pass or a
// band pass into a filter that passes DC. These two keep an exact zero instead.
TEST(BiquadDesigner, HighPassAndBandPassKeepZeroGainAtZeroFrequency) {
  const Filter cases[] = {{1, 1, 3, 50, 0.707}, {1, 1, 3, 5, 0.707}, {1, 1, 4, 150, 3}};
  for (const Filter& f : cases) {
    SCOPED_TRACE("type " + std::to_string(f.type) + " at " + std::to_string(f.f1_hz) + " Hz");
    auto s = WithFilters({f});
    CBiquadDesigner d;
    BiquadReport report;
    ASSERT_EQ(d.DesignAllFilters(*s, &report), StepResult::Done);
    const auto& slot = report.filters[0].stored;
    const auto& q = slot.quantised;
    EXPECT_EQ(q.b0 + q.b1 + q.b2, 0.0);
    EXPECT_EQ(report.filters[0].dc_gain, 0.0);
    if (f.type == 3) {
      EXPECT_NEAR(std::abs(dcservo::FilterResponse(slot, 0.0005, 950)), 1.0, 1e-3);
    }
  }
}

TEST(BiquadDesigner, FiltersTakeSlotsByPlaceThenNumber) {
  // Filters 1 and 3 on the speed feedback, filter 2 on the position controller output.
  const Filter f1{1, 2, 1, 200, 0.707}, f2{2, 0, 0, 100, 0.707}, f3{3, 2, 2, 300, 2};
  auto s = WithFilters({f1, f2, f3});
  CBiquadDesigner d;
  BiquadReport report;
  ASSERT_EQ(d.DesignAllFilters(*s, &report), StepResult::Done);
  EXPECT_EQ(BaseValue(*s, "SPDREF_BQ_INI"), 1);
  EXPECT_EQ(BaseValue(*s, "IQREF_BQ_INI"), 0);
  EXPECT_EQ(BaseValue(*s, "ASPD_BQ_INI"), 2);
  // Each slot holds what its filter gives when designed alone into slot 1.
  const std::pair<Filter, int> expected[] = {{f2, 1}, {f1, 2}, {f3, 3}};
  for (const auto& [filter, slot] : expected) {
    SCOPED_TRACE("filter " + std::to_string(filter.index));
    auto alone = WithFilters({filter});
    CBiquadDesigner().DesignAllFilters(*alone);
    EXPECT_EQ(Slot(*s, slot), Slot(*alone, 1));
    EXPECT_EQ(report.filters[slot - 1].filter, filter.index);
    EXPECT_EQ(report.filters[slot - 1].slot, slot);
  }
}

// A setup without a slot's coefficient or a place's count cannot hold the design: missing,
// told apart from a filter that cannot be built.
TEST(BiquadDesigner, ASetupWithoutASlotOrACountIsMissingNotRefused) {
  for (const char* missing : {"BQ3B0", "ASPD_BQ_INI"}) {
    SCOPED_TRACE(missing);
    auto s = testing_support::LoadBundledSetupWithout({missing});
    for (int i = 1; i <= 3; ++i) SetBase(*s, "BQFilter" + std::to_string(i), 0);
    ZelCollectErrors errors;
    BiquadReport report;
    EXPECT_EQ(CBiquadDesigner().DesignAllFilters(*s, &report), StepResult::Missing);
    EXPECT_FALSE(report.AnyRefused());
  }
}

TEST(BiquadDesigner, NoFilterOnEmptiesEverySlotAndCount) {
  auto s = WithFilters({});
  for (int slot = 1; slot <= 3; ++slot) {
    for (const auto& name : dcservo::SlotParameterNames(slot)) SetBase(*s, name, 7);
  }
  for (const char* count : dcservo::kBiquadCountNames) SetBase(*s, count, 1);
  BiquadReport report;
  EXPECT_EQ(CBiquadDesigner().DesignAllFilters(*s, &report), StepResult::Done);
  for (int slot = 1; slot <= 3; ++slot) EXPECT_EQ(Slot(*s, slot), (std::array<double, 6>{}));
  for (const char* count : dcservo::kBiquadCountNames) EXPECT_EQ(BaseValue(*s, count), 0) << count;
  EXPECT_TRUE(report.filters.empty());
}

// A filter that cannot be designed keeps its slot, filled with zeros, and says why; no
// coefficient is ever anything but a finite integer. A type that is not offered comes out flat,
// and a pole that quantising puts on the unit circle is stored: both are reported. Whatever
// happens to filter 1, filter 2 gets its own slot.
TEST(BiquadDesigner, FiltersNotDesignedAsAskedAreReported) {
  struct Case {
    const char* name;
    Filter filter;
    const char* reason;  // in the filter's last warning
    bool refused = true;
  };
  const Case cases[] = {
      {"type code above 9", {1, 1, 12, 100, 0.707}, "not a filter type"},
      {"frequency at the Nyquist limit", {1, 1, 1, 1000, 0.707}, "Nyquist"},
      {"frequency above the Nyquist limit", {1, 1, 0, 1500, 0.707}, "Nyquist"},
      {"lag frequency at the Nyquist limit", {1, 1, 9, 100, 1000}, "lag frequency"},
      {"zero frequency", {1, 1, 8, 0, 100}, "not above 0"},
      {"Q of zero", {1, 1, 2, 100, 0}, "Q = 0"},
      {"gain beyond what SF can scale", {1, 1, 9, 0.1, 999}, "more than the slot holds"},
      {"peak, not offered", {1, 1, 5, 120, 2}, "not offered", false},
      {"low shelf, not offered", {1, 1, 6, 120, 2}, "not offered", false},
      {"high shelf, not offered", {1, 1, 7, 120, 2}, "not offered", false},
      // A lag corner of 1e-8 Hz puts the pole within 1e-10 of z = 1, closer than a 32-bit
      // coefficient can tell.
      {"pole on the unit circle", {1, 1, 8, 10, 1e-8}, "unit circle", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = WithFilters({c.filter, {2, 1, 0, 100, 0.707}});
    BiquadReport report;
    EXPECT_EQ(CBiquadDesigner().DesignAllFilters(*s, &report),
              c.refused ? StepResult::Refused : StepResult::Done);
    EXPECT_EQ(Slot(*s, 2)[5], 1) << "the next filter still gets its own slot";
    EXPECT_EQ(BaseValue(*s, "IQREF_BQ_INI"), 2);
    ASSERT_EQ(report.filters.size(), 2u);
    const auto& f = report.filters[0];
    EXPECT_EQ(f.refused, c.refused);
    EXPECT_EQ(report.AnyRefused(), c.refused);
    EXPECT_FALSE(report.filters[1].refused);
    ASSERT_FALSE(f.warnings.empty());
    EXPECT_NE(f.warnings.back().find(c.reason), std::string::npos) << f.warnings.back();
    if (c.refused) {
      EXPECT_EQ(f.warnings.size(), 1u);
      EXPECT_EQ(Slot(*s, 1), (std::array<double, 6>{}));
    } else if (c.filter.type <= 7) {
      EXPECT_EQ(f.warnings.size(), 1u);
      for (double hz : {0.0, 60.0, 120.0, 500.0, 900.0})
        EXPECT_NEAR(std::abs(dcservo::FilterResponse(f.stored, 0.0005, hz)), 1.0, 1e-6) << hz;
    } else {
      EXPECT_GE(f.pole_radius, 1.0);
    }
  }
}

TEST(BiquadDesigner, ChipPipelineLeavesTheSlotsOfADriveWithoutFilters) {
  auto without = testing_support::MakeSetup({{"Ts_S", 0.0005},
                                             {"BQFilter1", 1},
                                             {"BQFilterLocation1", 1},
                                             {"BQFilterType1", 1},
                                             {"BQFilterQ1", 0.707},
                                             {"BQFilterF11", 200},
                                             {"BQ1B0", 5}});
  EXPECT_EQ(dcservo::RunStep(*without, "BQ1B0", dcservo::Direction::ToChip), dcservo::StepResult::Missing);
  EXPECT_EQ(BaseValue(*without, "BQ1B0"), 5);
}

}  // namespace
