// `dcservo test frequency`: the drive excites itself with a stepped sine on the current
// reference; the plant, the speed loop's open and closed loop and the current loop's closed
// loop are read from its logs and set beside the loop model's curves at the same frequencies.

#include "app/frequency_test_command.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <numbers>

#include "app/drive_conditions.h"
#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "design/frequency_response.h"
#include "design/two_mass_fit.h"
#include "drivetests/bode_plot.h"
#include "drivetests/frequency_response_run.h"
#include "host/zel_comm.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "sim/simulated_drive.h"

namespace frequency_test_cmd {

using dcservo::BodePoint;
using nlohmann::ordered_json;

// What each --loop measures: the speed loop's gains as tuned, or softened while the plant is
// measured so that the loop takes little of the excitation.
struct LoopChoice {
  const char* word;
  int speed_gain_shift;
  const char* title;
};
constexpr LoopChoice kLoops[] = {
    {"plant", dcservo::kPlantSpeedGainShift, "Plant: motor current to motor speed"},
    {"speed", 0, "Speed loop: open loop"},
    {"current", 0, "Current loop: closed loop"},
};
constexpr int kMostPoints = dcservo::kMostFrequencyPoints;
// Beyond this the measured inertia tells that the setup's is not the drive's.
constexpr double kInertiaAgreement = 0.1;

const LoopChoice& ChosenLoop(const std::string& word) {
  for (const LoopChoice& c : kLoops)
    if (word == c.word) return c;
  throw CommandError(kExitBadInput, "--loop takes plant, speed or current, not \"" + word + "\"");
}

// Divided by the whole number of steps to a unit, so that 205.1 prints as 205.1.
double RoundedTo(double value, double step) { return std::round(value / step) / std::round(1.0 / step); }

ordered_json PointJson(const BodePoint& p, bool with_coherence) {
  ordered_json j;
  j["frequency_hz"] = p.frequency_hz;
  j["magnitude_db"] = RoundedTo(p.MagnitudeDb(), 0.01);
  j["phase_deg"] = RoundedTo(p.PhaseDeg(), 0.01);
  if (with_coherence) j["coherence"] = RoundedTo(p.coherence, 0.001);
  return j;
}

ordered_json CurveJson(const std::vector<BodePoint>& curve, bool with_coherence) {
  ordered_json list = ordered_json::array();
  for (const BodePoint& p : curve) list.push_back(PointJson(p, with_coherence));
  return list;
}

// The curves that the chosen loop's run gives: the plant from every run, the speed loop's
// open and closed loop from a run on its tuned gains, the current loop's closed loop.
ordered_json CurvesJson(const dcservo::BodeCurves& c, const std::string& loop, bool measured) {
  ordered_json j = ordered_json::object();
  j["plant"] = CurveJson(c.plant, measured);
  if (loop == "speed") {
    j["open_loop"] = CurveJson(c.open_loop, measured);
    j["closed_loop"] = CurveJson(c.closed_loop, measured);
  } else if (loop == "current") {
    j["closed_loop"] = CurveJson(c.current_loop, measured);
  }
  return j;
}

ordered_json CurveMarginsJson(const dcservo::CurveMargins& m) {
  const auto value = [](const std::optional<double>& v, double step) {
    return v ? ordered_json(RoundedTo(*v, step)) : ordered_json(nullptr);
  };
  return {{"crossover_rad_s", value(m.crossover_rad_s, 0.1)},
          {"phase_margin_deg", value(m.phase_margin_deg, 0.1)},
          {"gain_margin_db", value(m.gain_margin_db, 0.01)}};
}

const std::vector<BodePoint>& Plotted(const dcservo::BodeCurves& c, const std::string& loop) {
  if (loop == "speed") return c.open_loop;
  if (loop == "current") return c.current_loop;
  return c.plant;
}

double ParameterOr(CZel_Setup& setup, const char* name, double fallback) {
  ZelQuietErrors quiet;
  const CZel_Parameter* p = setup.FindParameter(name);
  const double v = p ? p->GetValueInBaseUnit() : fallback;
  return std::isfinite(v) && v > 0.0 ? v : fallback;
}

void CheckRequest(const FrequencyTestOptions& o, const dcservo::DriveModel& model,
                  double amplitude_A) {
  const auto finite = [](double v) { return std::isfinite(v); };
  if (!finite(o.from_hz) || !finite(o.to_hz) || !(o.from_hz > 0.0) || !(o.to_hz > o.from_hz))
    throw CommandError(kExitBadInput, "--from and --to need 0 < FROM < TO (Hz)");
  const double highest = dcservo::HighestMeasurableFrequency(model);
  if (o.to_hz > highest) {
    char text[120];
    std::snprintf(text, sizeof text, "--to %g Hz: the drive's fast loop measures up to %g Hz",
                  o.to_hz, highest);
    throw CommandError(kExitBadInput, text);
  }
  if (o.points < 2 || o.points > kMostPoints)
    throw CommandError(kExitBadInput,
                       "--points takes 2 to " + std::to_string(kMostPoints) + " frequencies");
  const double limit = dcservo::LargestExcitation(model);
  if (!finite(amplitude_A) || !(amplitude_A > 0.0) || amplitude_A > limit) {
    char text[120];
    std::snprintf(text, sizeof text, "--amplitude takes a current above 0 A, at most %.3g A", limit);
    throw CommandError(kExitBadInput, text);
  }
}

// The identified coupling of a saved measurement, as the loop model takes it: nothing where
// the file lacks a part of it or its fit was not confident.
template <typename Refuse>
std::optional<dcservo::ShaftCoupling> CouplingOfFile(const ordered_json& identified,
                                                     const Refuse& refuse) {
  const auto value = [&](const char* name, const char* field) -> std::optional<double> {
    if (!identified.contains(name)) return std::nullopt;
    const ordered_json& v = identified[name];
    if (!v.is_object() || !v.contains(field) || !v[field].is_number() ||
        !std::isfinite(v[field].get<double>()))
      throw refuse(std::string("identified.") + name + "." + field + " is not a number");
    return v[field].get<double>();
  };
  const auto motor = value("motor_inertia", "value"), load = value("load_inertia", "value");
  const auto resonance = value("resonance", "value"), damping = value("damping_ratio", "value");
  const auto confidence = value("resonance", "confidence");
  if (!motor || !load || !resonance || !damping || !confidence) return std::nullopt;
  dcservo::PlantIdentification id;
  dcservo::TwoMassPlant& c = id.coupling.emplace();
  c.motor_inertia_kgm2 = *motor;
  c.load_inertia_kgm2 = *load;
  c.resonance_hz = *resonance;
  c.damping_ratio = *damping;
  c.confidence = *confidence;
  return dcservo::ConfidentCoupling(id);
}

}  // namespace frequency_test_cmd

using namespace frequency_test_cmd;

FrequencyMeasurement ReadFrequencyMeasurement(const std::string& path) {
  constexpr std::size_t kLargest = 16u << 20;
  std::string text;
  const std::string unread = ZelReadFileLimited(path, kLargest, text);
  if (!unread.empty()) throw CommandError(kExitBadInput, unread);
  const auto refuse = [&path](const std::string& why) {
    return CommandError(kExitBadInput, path + ": " + why);
  };
  const ordered_json file = ordered_json::parse(text, nullptr, false);
  if (file.is_discarded() || !file.is_object())
    throw refuse("not the JSON of `dcservo test frequency --json`");
  FrequencyMeasurement m;
  const auto* resonance = file.contains("identified") && file["identified"].is_object() &&
                                  file["identified"].contains("resonance")
                              ? &file["identified"]["resonance"]
                              : nullptr;
  if (resonance) {
    if (!resonance->is_object() || !(*resonance)["value"].is_number() ||
        !((*resonance)["value"].get<double>() > 0.0))
      throw refuse("identified.resonance.value is not a frequency above 0 Hz");
    m.resonance_hz = (*resonance)["value"].get<double>();
    m.coupling = CouplingOfFile(file["identified"], refuse);
  }
  if (!file.contains("measured") || !file["measured"].is_object() ||
      !file["measured"].contains("open_loop") || !file["measured"]["open_loop"].is_array())
    throw refuse("it holds no measured open loop (measure with --loop speed)");
  std::size_t k = 0;
  for (const ordered_json& p : file["measured"]["open_loop"]) {
    const std::string at = "measured.open_loop[" + std::to_string(k++) + "]";
    for (const char* key : {"frequency_hz", "magnitude_db", "phase_deg", "coherence"}) {
      if (!p.is_object() || !p.contains(key) || !p[key].is_number() ||
          !std::isfinite(p[key].get<double>()))
        throw refuse(at + "." + key + " is not a number");
    }
    const double f = p["frequency_hz"].get<double>();
    if (!(f > 0.0)) throw refuse(at + ".frequency_hz is not above 0 Hz");
    const double gain = std::pow(10.0, p["magnitude_db"].get<double>() / 20.0);
    const double phase = p["phase_deg"].get<double>() * std::numbers::pi / 180.0;
    m.open_loop.push_back({f, std::polar(gain, phase), p["coherence"].get<double>()});
  }
  return m;
}

void FrequencyTestOptions::AddTo(CLI::App& cmd) {
  args.AddTo(cmd);
  cmd.add_option("SETUP", positional_setup, "Drive setup file (same as --setup)");
  cmd.add_option("--loop", loop,
                 "What to measure: plant (current to speed, the speed loop softened), speed "
                 "(the speed loop's open and closed loop, default) or current (the current "
                 "loop's closed loop)");
  cmd.add_option("--from", from_hz, "Lowest frequency, Hz (default 10)");
  cmd.add_option("--to", to_hz, "Highest frequency, Hz (default 1000)");
  cmd.add_option("--points", points, "Frequencies, spaced evenly on a logarithmic axis (default 30)");
  cmd.add_option("--amplitude", amplitude_A,
                 "The sine's amplitude, A (default a third of the motor's rated current)");
  cmd.add_option("--fault", faults, "Fault of the simulated drive, NAME or NAME=VALUE")
      ->allow_extra_args(false);
  cmd.add_flag("--json", json, "Print the measurement as JSON");
  cmd.add_option("--png", png, "Save the Bode plot as PNG")->check(OutputFile({".png"}));
  cmd.add_option("--svg", svg, "Save the Bode plot as SVG")->check(OutputFile({".svg"}));
  cmd.add_option("--csv", csv, "Save the plotted data as CSV")->check(OutputFile({".csv"}));
  drive.AddTo(cmd);
}

void RunFrequencyTest(const CLI::App& cmd, const FrequencyTestOptions& o) {
  const LoopChoice& loop = ChosenLoop(o.loop);
  SetupSession session(ResolveSetup(o.args.setup, o.positional_setup));
  CZel_Setup& setup = session.Setup();
  // Synchronised before --set, as `test speed` does: a sync after it would derive the values
  // assigned (Jload_over_J from Jt and Jm) back from the others, and the simulated drive
  // would swing the setup's load, not the one asked for.
  dcservo::SynchroniseSetup(setup);
  session.Apply(o.args.InOrder(cmd));
  dcservo::ComputeChipParameters(setup);
  session.RefuseIfErrorsReported("the drive was not started");
  std::string why;
  const std::optional<dcservo::DriveModel> model = dcservo::ReportedDriveModelOf(setup, &why);
  if (!model) throw CommandError(kExitBadInput, "the setup gives no model of the drive: " + why);
  const double amplitude_A =
      o.amplitude_A != 0.0 ? o.amplitude_A : ParameterOr(setup, dcservo::param::In, 3.0) / 3.0;
  CheckRequest(o, *model, amplitude_A);

  o.drive.RefuseConditions(o.faults);
  std::shared_ptr<CZel_DriveLink> link = o.drive.Open(setup);
  std::shared_ptr<dcsim::SimulatedDrive> simulated;
  if (!link) link = simulated = dcsim::MakeSimulatedDrive(setup);
  for (const std::string& f : o.faults) {
    const NameValue c = ParseCondition(f, false);
    std::string error;
    if (!simulated->Inject(c.name, c.value, error)) throw CommandError(kExitBadInput, error);
  }
  CZel_CommSession comm(link);
  double clock = 0.0;
  CZel_Comm::SetClock([&clock] { return clock; });
  struct ClockReset {
    ~ClockReset() { CZel_Comm::SetClock(nullptr); }
  } reset;
  if (!CZel_Comm::DownloadChipParameters(setup))
    throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());

  dcservo::FrequencyRunRequest request;
  request.frequency_hz = dcservo::LogSpacedFrequencies(o.from_hz, o.to_hz, o.points);
  request.amplitude_A = amplitude_A;
  request.speed_gain_shift = loop.speed_gain_shift;
  request.speed_counts = dcservo::kExcitationTurn_rad_s * model->speed_counts_per_rad_s;
  request.protection_A = ParameterOr(setup, dcservo::param::TestProtectionCurrent, 0.0);
  const dcservo::FrequencyMeasurementRun run = dcservo::MeasureFrequencyResponse(
      *model, request, link->LogCapacityWords(), [&clock](double s) {
        clock += s;
        CZel_Comm::Synchronize();
      });
  if (!run.error.empty()) throw CommandError(kExitFailed, run.error);
  const dcservo::BodeCurves& measured = run.measured;
  const dcservo::BodeCurves& predicted = run.model;
  const std::vector<double>& frequencies = run.frequency_hz;

  ordered_json out;
  out["loop"] = o.loop;
  out["amplitude_A"] = amplitude_A;
  out["measured"] = CurvesJson(measured, o.loop, true);
  out["model"] = CurvesJson(predicted, o.loop, false);
  std::vector<std::string> warnings;
  if (o.loop == "speed") {
    const dcservo::CurveMargins measured_margins = dcservo::MarginsOfCurve(measured.open_loop);
    const dcservo::CurveMargins model_margins = dcservo::MarginsOfCurve(predicted.open_loop);
    out["margins_measured"] = CurveMarginsJson(measured_margins);
    out["margins_model"] = CurveMarginsJson(model_margins);
    warnings = dcservo::CompareMargins(measured_margins, model_margins);
  }
  for (const BodePoint& p : Plotted(measured, o.loop)) {
    if (p.coherence >= dcservo::kLeastCoherence) continue;
    char text[120];
    std::snprintf(text, sizeof text, "coherence %.2f at %.4g Hz: the point is uncertain", p.coherence,
                  p.frequency_hz);
    warnings.push_back(text);
  }

  std::vector<ZelFileBytes> files;
  if (!o.png.empty() || !o.svg.empty() || !o.csv.empty()) {
    const std::string error = dcservo::BodePlotFiles(loop.title, Plotted(measured, o.loop),
                                                     Plotted(predicted, o.loop), o.png, o.svg,
                                                     o.csv, files);
    if (!error.empty()) throw CommandError(kExitFailed, error);
    const std::string written = ZelWriteFilesTogether(files);
    if (!written.empty()) throw CommandError(kExitFailed, written);
  }
  if (o.loop != "current") {
    if (const auto id = dcservo::IdentifyPlant(measured.plant, model->K)) {
      out["identified"] = dcservo::IdentifiedJson(dcservo::PlantValues(*id));
      if (std::abs(id->total_inertia_kgm2 / model->J - 1.0) > kInertiaAgreement) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the model does not hold for this drive: the measured inertia is %.3g kg m^2, "
                      "the setup's Jt %.3g kg m^2",
                      id->total_inertia_kgm2, model->J);
        warnings.push_back(text);
      }
    }
  }
  out["warnings"] = warnings;

  if (o.json) {
    std::printf("%s\n", out.dump(2).c_str());
    return;
  }
  std::printf("%s, %zu frequencies from %g to %g Hz, amplitude %.3g A\n", loop.title,
              frequencies.size(), o.from_hz, o.to_hz, amplitude_A);
  std::printf("%10s %10s %10s %9s %10s %10s\n", "Hz", "dB", "deg", "coherence", "model dB",
              "model deg");
  const auto& shown = Plotted(measured, o.loop);
  const auto& shown_model = Plotted(predicted, o.loop);
  for (std::size_t k = 0; k < shown.size(); ++k)
    std::printf("%10.4g %10.2f %10.2f %9.3f %10.2f %10.2f\n", shown[k].frequency_hz,
                shown[k].MagnitudeDb(), shown[k].PhaseDeg(), shown[k].coherence,
                shown_model[k].MagnitudeDb(), shown_model[k].PhaseDeg());
  if (out.contains("margins_measured")) {
    for (const char* which : {"margins_measured", "margins_model"}) {
      const ordered_json& m = out[which];
      const auto figure = [&m](const char* key) {
        return m[key].is_number() ? m[key].dump() : std::string("none");
      };
      std::printf("%s: phase margin %s deg, gain margin %s dB, crossover %s rad/s\n", which,
                  figure("phase_margin_deg").c_str(), figure("gain_margin_db").c_str(),
                  figure("crossover_rad_s").c_str());
    }
  }
  for (const std::string& w : warnings) std::printf("warning: %s\n", w.c_str());
}
