// `dcservo test frequency`: the measured Bode curves beside the model's in one JSON shape, the
// plot's files, and bad requests refused before the drive runs.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"

namespace {

using namespace testing_support;

TEST(FrequencyTestCommand, TheSpeedLoopsCurvesStandBesideTheModelsPointByPoint) {
  TempDir dir;
  const std::string csv = dir.File("bode.csv"), svg = dir.File("bode.svg");
  const auto r = ExpectRun({"test frequency --from 20 --to 200 --points 5 --json --csv " +
                                ShellQuote(csv) + " --svg " + ShellQuote(svg),
                            0, ""});
  const auto out = nlohmann::json::parse(r.out);
  for (const char* curve : {"plant", "open_loop", "closed_loop"}) {
    SCOPED_TRACE(curve);
    ASSERT_EQ(out["measured"][curve].size(), 5u);
    ASSERT_EQ(out["model"][curve].size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
      const auto& m = out["measured"][curve][k];
      EXPECT_EQ(m["frequency_hz"], out["model"][curve][k]["frequency_hz"]);
      for (const char* key : {"magnitude_db", "phase_deg", "coherence"})
        EXPECT_TRUE(m[key].is_number()) << key;
      EXPECT_FALSE(out["model"][curve][k].contains("coherence"));
    }
  }
  for (const char* margins : {"margins_measured", "margins_model"})
    for (const char* key : {"crossover_rad_s", "phase_margin_deg", "gain_margin_db"})
      EXPECT_TRUE(out[margins].contains(key)) << margins << " " << key;
  EXPECT_EQ(out["identified"]["Jt"]["unit"], "kg m^2");
  // The bundled drive is the setup's: its model holds.
  EXPECT_TRUE(out["warnings"].empty()) << out["warnings"];
  EXPECT_NE(ReadFile(csv).find("Coherence"), std::string::npos);
  EXPECT_NE(ReadFile(svg).find("<svg"), std::string::npos);
}

TEST(FrequencyTestCommand, ADriveThatIsNotTheSetupsIsToldWhatDiffers) {
  const auto r = ExpectRun({"test frequency --loop plant --from 10 --to 100 --points 4 "
                            "--fault inertia=9e-5 --json",
                            0, ""});
  const auto out = nlohmann::json::parse(r.out);
  EXPECT_FALSE(out["measured"].contains("open_loop"));
  EXPECT_NEAR(out["identified"]["Jt"]["value"].get<double>(), 9e-5, 9e-6);
  ASSERT_EQ(out["warnings"].size(), 1u);
  EXPECT_NE(out["warnings"][0].get<std::string>().find("the measured inertia"), std::string::npos);
}

// The load's share of the inertia reaches the simulated coupling from --set as from the
// setup's own Jt over Jm: the anti-resonance, at the resonance over sqrt(1 + Jload/J), moves
// with the load the drive swings.
TEST(FrequencyTestCommand, TheLoadAskedForIsTheLoadTheCouplingSwings) {
  TempDir dir;
  const std::string heavier = dir.File("heavier.json");
  ExpectRun({"sync --set Jt=6e-5 --out " + ShellQuote(heavier), 0, ""});
  struct Case {
    std::string settings;
    double load_over_motor;
  };
  const Case cases[] = {
      {"", 0.5},
      {"--set Jload_over_J=1", 1.0},
      {"--set Jload_over_J=0.7", 0.7},
      {ShellQuote(heavier), 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const auto r = ExpectRun({"test frequency --loop plant --from 100 --to 800 --points 25 "
                              "--fault resonance=300 --fault resonance_damping=0.01 --json " +
                                  c.settings,
                              0, ""});
    const auto id = nlohmann::json::parse(r.out)["identified"];
    ASSERT_TRUE(id.contains("anti_resonance")) << id;
    EXPECT_NEAR(id["resonance"]["value"].get<double>(), 300.0, 9.0);
    const double anti = 300.0 / std::sqrt(1.0 + c.load_over_motor);
    EXPECT_NEAR(id["anti_resonance"]["value"].get<double>(), anti, 0.05 * anti);
  }
}

TEST(FrequencyTestCommand, BadRequestsAreRefusedBeforeTheDriveRuns) {
  TempDir dir;
  const std::string csv = dir.File("never.csv");
  ExpectRuns({
                 {"test frequency --loop position", 2, "--loop takes plant, speed or current"},
                 {"test frequency --from 0", 2, "--from and --to need 0 < FROM < TO"},
                 {"test frequency --from 100 --to 50", 2, "--from and --to need"},
                 {"test frequency --from nan", 2, ""},
                 {"test frequency --to 6000", 2, "the drive's fast loop measures up to 5000 Hz"},
                 {"test frequency --points 1", 2, "--points takes 2 to 200 frequencies"},
                 {"test frequency --amplitude -1", 2, "--amplitude takes a current above 0 A"},
                 {"test frequency --amplitude 50", 2, "--amplitude takes a current above 0 A"},
                 {"test frequency --fault no_such_fault", 2, "no_such_fault"},
             },
             {csv});
}

// The notch goes where the measurement found the coupling, and the measured open loop is
// judged with it: the coupling's peak that took the gain margin comes down.
TEST(FrequencyTestCommand, TuneFromTheMeasurementPlacesTheNotchAndJudgesTheMeasuredLoop) {
  TempDir dir;
  const std::string measured = dir.File("measured.json");
  const auto run = ExpectRun({"test frequency --from 20 --to 1000 --points 40 --amplitude 3 "
                              "--fault resonance=500 --fault resonance_damping=0.01 --json",
                              0, ""});
  WriteFile(measured, run.out);
  const auto r = ExpectRun({"tune speed --from-measurement " + ShellQuote(measured) + " --json", 0, ""});
  const auto out = nlohmann::json::parse(r.out);
  const auto notch = out["notch"];
  EXPECT_NEAR(notch["frequency_hz"].get<double>(), 500.0, 15.0);
  // The loop model takes the measured coupling: its peak takes the gain margin that the rigid
  // model keeps.
  const auto& plant = out["measured_plant"];
  EXPECT_NEAR(plant["coupling"]["resonance_hz"].get<double>(), 500.0, 15.0);
  EXPECT_LT(plant["margins_with_coupling"]["gain_margin_db"].get<double>(),
            plant["margins_rigid"]["gain_margin_db"].get<double>() - 6.0);
  const auto& margins = notch["measured_margins"];
  EXPECT_GT(margins["with_notch"]["gain_margin_db"].get<double>(),
            margins["before"]["gain_margin_db"].get<double>() + 3.0);
  EXPECT_TRUE(margins["kept"].get<bool>());
}

// A load coupled at 120 Hz that the setup's inertia does not know of. Four times the inertia:
// the notch keeps the model's margins but not the measured loop's. Seven times: the measured
// loop does not cross 0 dB in the band at all, so its margins are unknown, not kept. Either
// way the notch is not applied and nothing is saved.
TEST(FrequencyTestCommand, ANotchTheMeasuredLoopCannotAffordIsNotApplied) {
  TempDir dir;
  struct Case {
    const char* inertia;
    const char* err;
  };
  const Case cases[] = {
      {"1.8e-4",
       "dcservo: with the notch the measured open loop keeps too little margin: phase margin 42 "
       "deg, gain margin 32 dB\n  nothing was saved (--force applies it)\n"},
      {"3.15e-4",
       "dcservo: with the notch the measured open loop does not cross 0 dB between 10 and 1000 "
       "Hz, so its phase margin cannot be judged: measure a wider band\n  nothing was saved "
       "(--force applies it)\n"},
  };
  const std::string measured = dir.File("measured.json"), out = dir.File("never.json");
  for (const Case& c : cases) {
    const auto run = ExpectRun({std::string("test frequency --from 10 --to 1000 --points 40 "
                                            "--amplitude 3 --fault inertia=") +
                                    c.inertia +
                                    " --fault resonance=120 --fault resonance_damping=0.01 --json",
                                0, ""});
    WriteFile(measured, run.out);
    ExpectRun({"tune speed --from-measurement " + ShellQuote(measured) + " --apply-notch --out " +
                   ShellQuote(out),
               1, c.err},
              {out});
  }
}

TEST(FrequencyTestCommand, AMeasurementFileThatIsNoneIsRefusedWithItsPlace) {
  TempDir dir;
  struct Case {
    std::string text;
    int exit_code;
    std::string err;
  };
  const std::string point = R"({"frequency_hz": 10, "magnitude_db": 3, "phase_deg": -120, "coherence": 1})";
  const Case cases[] = {
      {"not json", 2, "not the JSON of `dcservo test frequency --json`"},
      {R"({"measured": {"plant": []}})", 2, "it holds no measured open loop"},
      {R"({"measured": {"open_loop": [{"frequency_hz": 10, "magnitude_db": "3"}]}})", 2,
       "measured.open_loop[0].magnitude_db is not a number"},
      {R"({"identified": {"resonance": {"value": -5}}, "measured": {"open_loop": []}})", 2,
       "identified.resonance.value is not a frequency above 0 Hz"},
      {R"({"measured": {"open_loop": [)" + point + "]}}", 1, "the measurement identified no resonance"},
  };
  const std::string file = dir.File("m.json"), out = dir.File("never.json");
  for (const Case& c : cases) {
    WriteFile(file, c.text);
    ExpectRun({"tune speed --from-measurement " + ShellQuote(file) + " --apply-notch --out " +
                   ShellQuote(out),
               c.exit_code, file + ": "},
              {out});
    ExpectRun({"tune speed --from-measurement " + ShellQuote(file), c.exit_code, c.err});
  }
  ExpectRun({"tune current --from-measurement " + ShellQuote(file), 2,
             "--from-measurement is for the speed loop"});
}

// The frequency response dialog from a dialog script: on the bundled rigid drive it finds no
// resonance and offers no notch; on a load coupled at 300 Hz, Apply Notch writes the notch
// into the setup that OK saves. A fault the simulated drive does not know opens nothing.
TEST(FrequencyResponseDialogScript, MeasuresFindsAndNotchesThroughEdit) {
  TempDir dir;
  const std::string rigid = dir.File("rigid.json"), coupled = dir.File("coupled.json");
  WriteFile(rigid, R"([{"do": "click", "caption": "Measure"},
    {"do": "expect", "caption": "Apply Notch", "enabled": false}, {"do": "dump"}])");
  WriteFile(coupled, R"([{"do": "click", "caption": "Measure"},
    {"do": "click", "caption": "Apply Notch"}, {"do": "ok"}])");
  const auto r = ExpectRun({"edit --dialog frequency-response --script " + ShellQuote(rigid), 0,
                            "cancelled"});
  EXPECT_NE(r.out.find("no resonance found"), std::string::npos) << r.out;
  const std::string notched = dir.File("notched.json");
  ExpectRun({"edit --dialog frequency-response --fault resonance=300 --fault "
             "resonance_damping=0.01 --out " + ShellQuote(notched) + " --script " +
                 ShellQuote(coupled),
             0, "saved"});
  const auto filter = ExpectRun({"params -s " + ShellQuote(notched) + " 'BQFilter*1'", 0, ""});
  EXPECT_NE(filter.out.find("2 (notch)"), std::string::npos) << filter.out;
  EXPECT_NE(filter.out.find("300 Hz"), std::string::npos) << filter.out;
  // Stop taken by the sweep's message pump, as a click while it runs.
  const std::string stop = dir.File("stop.json");
  WriteFile(stop, R"([{"do": "click", "caption": "Measure"},
    {"do": "click", "caption": "Stop", "pump": true},
    {"do": "expect", "caption": "Stop", "enabled": false}, {"do": "dump"}])");
  const auto stopped = ExpectRun({"edit --dialog frequency-response --script " +
                                      ShellQuote(stop), 0, "cancelled"});
  EXPECT_NE(stopped.out.find("Stopped before the first frequency was measured"), std::string::npos)
      << stopped.out;
  ExpectRuns({{"edit --dialog frequency-response --fault resonanc=300 --script " +
                   ShellQuote(rigid),
               2, "no fault or action is called \"resonanc\""},
              {"edit --dialog frequency-response --fault resonance=-1 --script " +
                   ShellQuote(rigid),
               2, "\"resonance\" takes a value from 0 to"}});
}

}  // namespace
