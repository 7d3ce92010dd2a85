// The filters dialog on the bundled drive, through the headless front end: the showing rules
// with and without a running test, the type and location lists, how a tuning test opens it,
// and its frequency response against SciPy's freqz on the same slot integers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "design/biquad_designer.h"
#include "design/last_speed_run.h"
#include "dialogs/filters_dlg.h"
#include "host/zel_comm.h"
#include "tests/dialogs/bode_vectors.h"
#include "tests/dialogs/dialog_test.h"
#include "tests/support/fake_drive.h"
#include "tests/support/test_tones.h"

namespace {

using namespace dcservo;
using ::testing::ElementsAre;

class FiltersDialog : public testing_support::DialogTest<CFiltersDialog> {
 protected:
  void Filter(int i, double on, double type, double place = 1) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("BQFilter" + n, on));
    ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("BQFilterType" + n, type));
    ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("BQFilterLocation" + n, place));
  }
  int IndexOfType(int list, long long code) const { return dlg_->ListFindItemData(list, code); }
};

TEST_F(FiltersDialog, TypeListsOfferNeitherPeakNorShelvesAndLocationsAreThePlaces) {
  CFiltersDialog& dlg = Open();
  for (const FilterControls& c : kFilterControls) {
    std::vector<long long> codes;
    std::vector<std::string> names;
    for (const ZelListItem& item : State(c.type).items) {
      codes.push_back(item.data);
      names.push_back(item.text);
    }
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4, 8, 9));
    EXPECT_THAT(names, ElementsAre("Low Pass 1st order", "Low Pass 2nd order", "Notch", "High Pass",
                                   "Band Pass", "Lead-lag 1st order", "Lead-lag 2nd order"));
    EXPECT_EQ(dlg.ListGetCount(c.location), 3);
    EXPECT_EQ(dlg.ListGetItemData(c.location, 2), 2);
    EXPECT_EQ(dlg.ListGetText(c.location, 2), "Speed Feedback");
  }
}

TEST_F(FiltersDialog, ShowingRulesFollowOnOffTypeAndTheLock) {
  struct Case {
    double on, type;
    int lock;
    bool location, type_list, q_label, q_edit, on_off;
    bool second_shown;
    const char* q_text;
  };
  const Case cases[] = {
      {1, 2, 0, true, true, true, true, true, false, "Q"},
      {1, 2, 1, false, true, true, true, false, false, "Q"},
      {1, 0, 0, true, true, false, false, true, false, "Q"},
      {1, 9, 1, false, true, true, true, false, true, "Lag Frequency"},
      {0, 2, 0, false, false, false, false, true, false, "Q"},
      {0, 8, 1, false, false, false, false, false, true, "Lag Frequency"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "on " << c.on << " type " << c.type << " lock " << c.lock);
    Filter(2, c.on, c.type);
    Open(c.lock);
    const FilterControls& f = kFilterControls[1];
    EXPECT_EQ(Enabled(f.box), c.on != 0);
    EXPECT_EQ(Enabled(f.location), c.location);
    EXPECT_EQ(Enabled(f.location_label), c.location);
    EXPECT_EQ(Enabled(f.type), c.type_list);
    EXPECT_EQ(Enabled(f.q_label), c.q_label);
    EXPECT_EQ(Enabled(f.frequency), c.on != 0);
    EXPECT_EQ(Enabled(c.second_shown ? f.second_frequency : f.q), c.second_shown ? c.on != 0 : c.q_edit);
    EXPECT_EQ(Enabled(f.on_off), c.on_off);
    EXPECT_EQ(Text(f.on_off), c.on != 0 ? "On" : "Off");
    EXPECT_EQ(Shown(f.second_frequency), c.second_shown);
    EXPECT_EQ(Shown(f.second_frequency_unit), c.second_shown);
    EXPECT_EQ(Shown(f.q), !c.second_shown);
    EXPECT_EQ(Text(f.q_label), c.q_text);
    EXPECT_EQ(Text(f.frequency_label), c.second_shown ? "Lead Frequency" : "Frequency");
    // A first-order low pass shows its Q field empty.
    EXPECT_EQ(State(f.q).blank, c.on != 0 && c.type == 0);
  }
}

TEST_F(FiltersDialog, ChoosingATypeRelabelsTheRowsAtOnce) {
  Filter(1, 1, 2);
  Open();
  const FilterControls& f = kFilterControls[0];
  ASSERT_TRUE(dlg_->UserSelect(f.type, IndexOfType(f.type, kLeadLag2ndOrder)));
  EXPECT_EQ(Get("BQFilterType1"), 9);
  EXPECT_EQ(Text(f.frequency_label), "Lead Frequency");
  EXPECT_EQ(Text(f.q_label), "Lag Frequency");
  EXPECT_TRUE(Shown(f.second_frequency) && !Shown(f.q));
  ASSERT_TRUE(dlg_->UserSelect(f.type, IndexOfType(f.type, 2)));
  EXPECT_EQ(Text(f.frequency_label), "Frequency");
  EXPECT_EQ(Text(f.q_label), "Q");
  EXPECT_TRUE(Shown(f.q));
  ASSERT_TRUE(dlg_->UserSelect(f.type, IndexOfType(f.type, 0)));
  EXPECT_TRUE(AllEnabled({f.q, f.q_label}, false));
  Click(f.on_off);
  EXPECT_EQ(Get("BQFilter1"), 0);
  EXPECT_FALSE(Enabled(f.type));
}

// What a tuning test does around the dialog: the new slots reach the drive at once while
// the test runs, and only then.
TEST_F(FiltersDialog, TheOpenerSynchronisesAndWritesToTheDriveOnlyWhileATestRuns) {
  for (int running : {0, 1}) {
    SCOPED_TRACE(running);
    auto link = std::make_shared<testing_support::FakeDrive>();
    CZel_CommSession session(link);
    setup_ = testing_support::LoadBundledSetup();
    Filter(2, 1, 2, 2);
    ui_.Then([](CZel_Dialog& top) {
      ASSERT_TRUE(top.UserEdit(kFilterControls[1].frequency, "250"));
      ASSERT_TRUE(top.UserClick(kIdOk));
    });
    EXPECT_EQ(RunFiltersDialog(*setup_, running, nullptr), kIdOk);
    EXPECT_EQ(Get("BQFilterF12"), 250);
    EXPECT_EQ(Get("ASPD_BQ_INI"), 1);  // designed by the pipeline after OK
    EXPECT_NE(Get("BQ1B0"), 0);
    EXPECT_EQ(link->Written("BQ1B0").has_value(), running == 1);
    if (running) {
      EXPECT_EQ(link->Written("BQ1B0"), GetInternal("BQ1B0"));
      EXPECT_EQ(link->Written("ASPD_BQ_INI"), 1);
    }
  }
}

TEST_F(FiltersDialog, ResponseMatchesFreqzOnTheSlotIntegers) {
  for (const auto& c : bode_vectors::kCases) {
    SCOPED_TRACE(c.label);
    setup_ = testing_support::LoadBundledSetup();
    ASSERT_EQ(Get("Ts_S"), bode_vectors::kTs);
    for (int i = 1; i <= 3; ++i) Filter(i, 0, 1);
    for (const auto& f : c.filters) {
      const std::string n = std::to_string(f.filter);
      Filter(f.filter, 1, f.type, f.place);
      ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("BQFilterF1" + n, f.f1));
      const bool leadlag = f.type == kLeadLag1stOrder || f.type == kLeadLag2ndOrder;
      ASSERT_TRUE(setup_->SetParameterValueInBaseUnit((leadlag ? "BQFilterF2" : "BQFilterQ") + n, f.third));
    }
    // The script quantised on its own; the slots agree to the last count or so.
    CBiquadDesigner designer;
    BiquadReport report;
    ASSERT_EQ(designer.DesignAllFilters(*setup_, &report), dcservo::StepResult::Done);
    for (const auto& f : c.filters) {
      const FilterReport* r = nullptr;
      for (const FilterReport& fr : report.filters) r = fr.filter == f.filter ? &fr : r;
      ASSERT_NE(r, nullptr);
      const BiquadCoefficients& q = r->stored.quantised;
      const double ours[] = {q.b0, q.b1, q.b2, q.a1, q.a2};
      for (int k = 0; k < 5; ++k) EXPECT_NEAR(ours[k], static_cast<double>(f.q[k]), 2) << "filter " << f.filter << " " << k;
      EXPECT_EQ(r->stored.scale_factor, f.sf);
    }

    const BodeData bode = ComputeBodeData(*setup_, bode_vectors::kPoints);
    ASSERT_EQ(static_cast<int>(bode.curves.size()), c.curve_count);
    for (int k = 0; k < c.curve_count; ++k) {
      const auto& want = c.curves[k];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(bode.curves[k].name, want.name);
      for (int p = 0; p < bode_vectors::kCompared; ++p) {
        const auto i = static_cast<std::size_t>(p * bode_vectors::kStride);
        EXPECT_NEAR(bode.frequency_hz[i], want.frequency_hz[p], want.frequency_hz[p] * 1e-9);
        EXPECT_NEAR(bode.curves[k].magnitude_db[i], want.magnitude_db[p], 0.01) << bode.frequency_hz[i];
        // The same angle, whichever turn the unwrapping landed on.
        const double turn = std::remainder(bode.curves[k].phase_deg[i] - want.phase_deg[p], 360.0);
        EXPECT_NEAR(turn, 0.0, 0.01) << bode.frequency_hz[i];
      }
    }
  }
}

TEST_F(FiltersDialog, AFilterThatCannotBeDesignedIsShownWithItsReason) {
  Filter(1, 1, 1);
  Filter(2, 1, 2);
  // At the Nyquist frequency the bilinear design has no finite coefficients.
  setup_->FindParameter("BQFilterF12")->SetMaxInBaseUnit(1e9);
  ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("BQFilterF12", 1000));
  Open();
  ASSERT_EQ(dlg_->GetBodeData().refused.size(), 1u);
  EXPECT_THAT(Text(kBodeStatus), ::testing::StartsWith("Filter 2: "));
  ASSERT_EQ(dlg_->GetBodeData().curves.size(), 1u);
  EXPECT_EQ(dlg_->GetBodeData().curves[0].name, "Filter 1");
  // The response follows an edit at once.
  Type(kFilterControls[1].frequency, "100");
  EXPECT_TRUE(dlg_->GetBodeData().refused.empty());
  EXPECT_EQ(dlg_->GetBodeData().curves.size(), 3u);  // two filters and their cascade
  // What the filters cost the speed loop, beside what it has without them.
  EXPECT_THAT(Text(kBodeStatus),
              ::testing::MatchesRegex("Speed loop: crossover .* rad/s, PM .* deg, GM .* dB\n"
                                      "without filters: crossover .*"));
}

}  // namespace

namespace {

// What the last speed run measured, as the bundled drive's 2 kHz loop logs it: a tone at
// 796.9 Hz (a bin of 7.8125 Hz) standing 43 dB over the floor.
constexpr double kLoopPeriod = 0.0005, kPeakHz = 796.875, kPeakA = 0.45;

class FiltersDialogWithSpectrum : public FiltersDialog {
 protected:
  ~FiltersDialogWithSpectrum() override { ForgetMeasuredSpectrum(); }
  void Measured(double period_s, std::optional<double> resonance_hz) {
    std::optional<Resonance> r;
    if (resonance_hz) r = Resonance{*resonance_hz, 43.5, 2.0, true};
    RememberMeasuredSpectrum(*setup_, testing_support::LoggedSpectrum(period_s, kPeakHz, kPeakA), r);
  }
};

TEST_F(FiltersDialogWithSpectrum, TheNotchButtonPlacesTheNotchForTheMeasuredResonanceOrSaysWhyNot) {
  struct Case {
    const char* what;
    double period_s;
    std::optional<double> resonance_hz;
    int filters_on;  // the first ones, as low passes on the speed feedback
    int lock;
    bool enabled, shown;  // the button; the spectrum on the plot
    const char* refusal;  // the message box of a click; null: placed in filter filters_on + 1
  };
  const Case cases[] = {
      {"placed", kLoopPeriod, kPeakHz, 0, 0, true, true, nullptr},
      {"beside a filter in use", kLoopPeriod, kPeakHz, 1, 0, true, true, nullptr},
      {"no free filter", kLoopPeriod, kPeakHz, 3, 0, true, true, "no filter is free"},
      // So far down that any notch takes the speed loop's phase at its crossover.
      {"margins lost", kLoopPeriod, 20.0, 0, 0, true, true, "keep no margins"},
      {"a test runs", kLoopPeriod, kPeakHz, 0, 1, false, true, nullptr},
      {"no resonance named", kLoopPeriod, std::nullopt, 0, 0, false, true, nullptr},
      // A log at 1 kHz folds what rings above 500 Hz: neither shown nor offered.
      {"log slower than the loop", 2 * kLoopPeriod, kPeakHz, 0, 0, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reload();
    for (int i = 1; i <= 3; ++i) {
      Filter(i, i <= c.filters_on, 1, 2);
      Put({{("BQFilterF1" + std::to_string(i)).c_str(), 300}});
    }
    Measured(c.period_s, c.resonance_hz);
    CFiltersDialog& dlg = Open(c.lock);
    EXPECT_EQ(Enabled(kApplyNotch), c.enabled);
    const BodeData& bode = dlg.GetBodeData();
    ASSERT_EQ(bode.spectrum_db.size(), c.shown ? bode.frequency_hz.size() : 0u);
    if (c.shown) {
      // The peak's bin is a point of the plot, at its level in dB of 1 A.
      const auto at = std::find(bode.frequency_hz.begin(), bode.frequency_hz.end(), kPeakHz);
      ASSERT_NE(at, bode.frequency_hz.end());
      EXPECT_NEAR(bode.spectrum_db[at - bode.frequency_hz.begin()], 20 * std::log10(kPeakA), 1e-9);
      EXPECT_THAT(Text(kBodeStatus), testing::HasSubstr("Measured "));
    }
    if (!c.enabled) continue;
    EXPECT_TRUE(ClickTells(kApplyNotch, c.refusal ? c.refusal : ""));
    if (c.refusal) {
      for (int i = c.filters_on + 1; i <= 3; ++i) EXPECT_EQ(Get(("BQFilter" + std::to_string(i)).c_str()), 0);
      continue;
    }
    const int placed = c.filters_on + 1;
    const std::string n = std::to_string(placed);
    // A notch on the speed controller's output.
    EXPECT_TRUE(Holds({{("BQFilter" + n).c_str(), 1}, {("BQFilterType" + n).c_str(), 2},
                       {("BQFilterLocation" + n).c_str(), 1},
                       {("BQFilterF1" + n).c_str(), std::round(*c.resonance_hz)}}));
    // The dialog shows the filter it switched on, and its response has the notch's dip.
    EXPECT_EQ(Text(kFilterControls[placed - 1].on_off), "On");
    EXPECT_FALSE(Enabled(kApplyNotch));  // one notch for the resonance
    EXPECT_TRUE(Enabled(kFilterControls[placed - 1].type));
    const auto& curves = dlg.GetBodeData().curves;
    const auto curve = std::find_if(curves.begin(), curves.end(),
                                    [&](const BodeCurve& b) { return b.filter == placed; });
    ASSERT_NE(curve, curves.end());
    const BodeCurve& notch = *curve;
    const auto at = std::find(dlg.GetBodeData().frequency_hz.begin(),
                              dlg.GetBodeData().frequency_hz.end(), kPeakHz);
    EXPECT_LT(notch.magnitude_db[at - dlg.GetBodeData().frequency_hz.begin()], -20.0);
  }
}

}  // namespace
