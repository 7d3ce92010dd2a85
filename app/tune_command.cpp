// dcservo tune current|speed|position: the Tune action of a tuning test, on a setup file,
// with the report of what the drive's fixed-point encoding makes of the gains.

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/frequency_test_command.h"
#include "derive/biquad_slots.h"
#include "derive/pipelines.h"
#include "design/design_report.h"
#include "design/notch_placement.h"
#include "design/notch_proposal.h"
#include "design/tune.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_format.h"

namespace {

using nlohmann::ordered_json;

ordered_json Poles(const std::vector<std::complex<double>>& poles) {
  ordered_json out = ordered_json::array();
  for (const auto& p : poles) out.push_back({p.real(), p.imag()});
  return out;
}

ordered_json Maybe(const std::optional<double>& v) { return v ? ordered_json(*v) : ordered_json(); }

ordered_json LoopJson(const std::optional<dcservo::ClosedLoopSummary>& s) {
  if (!s) return nullptr;
  ordered_json out;
  out["pole_radius"] = s->pole_radius;
  out["stable"] = s->stable;
  out["bandwidth_rad_s"] = Maybe(s->bandwidth_rad_s);
  out["poles"] = Poles(s->poles);
  return out;
}

ordered_json ProposalJson(const dcservo::SpeedLoopProposal& p) {
  ordered_json out;
  out["pass_band_rad_s"] = p.pass_band_rad_s;
  out["requested_rad_s"] = p.requested_rad_s;
  out["limited_by"] = dcservo::PassBandLimitText(p.limited_by);
  out["feedback_low_pass_hz"] =
      p.feedback_low_pass ? ordered_json(p.feedback_low_pass->frequency_hz) : ordered_json();
  out["acceleration_feedforward"] = p.acceleration_feedforward;
  out["jump_A"] = p.jump_A;
  out["ripple_A"] = p.ripple_A;
  out["ripple_target_A"] = p.allowed_A;
  out["margins"] = dcservo::MarginsJson(p.margins);
  return out;
}

ordered_json ReportJson(const dcservo::LoopTuneReport& r) {
  ordered_json out;
  out["loop"] = dcservo::LoopName(r.loop);
  out["pass_band"] = {{"name", r.pass_band_name}, {"value_rad_s", r.pass_band_rad_s}};
  out["damping"] = {{"name", r.damping_name}, {"value", r.damping}};
  out["sampling_period_s"] = r.sampling_period_s;
  ordered_json gains = ordered_json::array();
  for (const dcservo::TunedGain& g : r.gains) {
    gains.push_back({{"name", g.name},
                     {"designed", g.designed},
                     {"stored", g.stored},
                     {"mantissa", {{"name", g.mantissa}, {"value", g.mantissa_value}}},
                     {"shift", {{"name", g.shift}, {"value", g.shift_value}}},
                     {"warnings", g.warnings}});
  }
  out["gains"] = gains;
  out["stored_loop"] = LoopJson(r.stored_loop);
  out["designed_loop"] = LoopJson(r.designed_loop);
  out["margins"] = dcservo::MarginsJson(r.stored_loop);
  if (r.inertia_spread) {
    ordered_json cases = ordered_json::array();
    for (const dcservo::InertiaCase& c : r.inertia_spread->cases)
      cases.push_back({{"inertia_factor", c.factor}, {"margins", dcservo::MarginsJson(c.margins)}});
    out["inertia_spread"] = cases;
  }
  if (r.ripple)
    out["ripple"] = {{"quantum_rad_s", r.ripple->quantum_rad_s},
                     {"per_count_A", r.ripple->per_count_A},
                     {"target_A", r.ripple->allowed_A},
                     {"highest_pass_band_rad_s", r.ripple->highest_pass_band_rad_s},
                     {"met", r.ripple->met()}};
  if (r.proposal) out["proposal"] = ProposalJson(*r.proposal);
  out["warnings"] = r.warnings;
  out["failures"] = dcservo::TuneFailures(r);
  return out;
}

class TuneCommand : public Command {
 public:
  const char* Name() const override { return "tune"; }
  const char* Description() const override {
    return "Design the current, speed or position controller from its pass band and damping";
  }

  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("LOOP", loop_, "current, speed or position")
        ->required()
        ->check(CLI::IsMember({"current", "speed", "position"}));
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    cmd.add_option("--out", out_, "Save the tuned setup to this file")->check(FileName());
    cmd.add_flag("--json", json_, "Print the report as JSON");
    cmd.add_flag("--apply-proposal", apply_proposal_,
                 "speed: take the proposed pass band, feedback low pass and feedforward, and tune "
                 "again");
    // Judged with the loop's Nyquist frequency, by the rule every notch follows.
    notch_opt_ = cmd.add_option("--notch", notch_hz_,
                                "speed: propose a notch for a resonance at this frequency (Hz) "
                                "on the speed controller's output, with the loop's margins");
    cmd.add_flag("--apply-notch", apply_notch_,
                 "speed: switch the proposed notch on in the first free filter and tune again");
    cmd.add_option("--from-measurement", measurement_path_,
                   "speed: place the notch at the resonance that a saved `test frequency --json` "
                   "identified, and check the margins on its measured open loop with the notch")
        ->check(FileName());
    cmd.add_flag("--force", force_,
                 "Save and exit 0 even when the loop is unstable or a gain is unusable");
  }

  // The design with the host's reports printed; the first of them says what was lacking.
  static int Tune(CZel_Setup& setup, dcservo::TunedLoop loop, dcservo::LoopTuneReport& report,
                  std::string& lacking) {
    ZelCollectErrors reports;
    const int done = dcservo::TuneController(setup, loop, &report);
    for (const std::string& m : reports.Messages()) {
      std::fprintf(stderr, "dcservo: %s\n", m.c_str());
      if (lacking.empty()) lacking = m;
    }
    return done;
  }

  void Execute(const CLI::App& cmd) override {
    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    // As the drive setup does before it opens a tuning test.
    dcservo::SynchroniseSetup(setup);

    const dcservo::TunedLoop loop = loop_ == "current" ? dcservo::TunedLoop::Current
                                    : loop_ == "speed" ? dcservo::TunedLoop::Speed
                                                       : dcservo::TunedLoop::Position;
    std::optional<FrequencyMeasurement> measurement;
    if (!measurement_path_.empty()) {
      if (loop != dcservo::TunedLoop::Speed)
        throw CommandError(kExitBadInput, "--from-measurement is for the speed loop");
      measurement = ReadFrequencyMeasurement(measurement_path_);
    }
    // The tuner's margins and proposal, and the notch's, on the coupling that was measured.
    std::optional<dcservo::MeasuredCouplingScope> measured_plant;
    if (measurement && measurement->coupling) measured_plant.emplace(setup, *measurement->coupling);

    dcservo::LoopTuneReport report;
    std::string lacking;
    int done = Tune(setup, loop, report, lacking);
    if (apply_proposal_ && loop == dcservo::TunedLoop::Speed && report.proposal) {
      if (!dcservo::ApplySpeedLoopProposal(setup, *report.proposal))
        throw CommandError(kExitFailed, "the proposal could not be written into the setup");
      dcservo::SynchroniseSetup(setup);
      done = Tune(setup, loop, report, lacking);
    }
    if (measurement) {
      if (!measurement->resonance_hz)
        throw CommandError(kExitFailed, measurement_path_ +
                                            ": the measurement identified no resonance; no "
                                            "notch is placed");
      // A notch sits at a whole hertz.
      notch_hz_ = std::round(*measurement->resonance_hz);
    }
    std::optional<dcservo::NotchProposal> notch;
    std::optional<dcservo::MeasuredNotchMargins> measured_notch;
    if (notch_opt_->count() > 0 || measurement || apply_notch_) {
      notch = ProposeNotchFor(setup, loop);
      if (measurement) measured_notch = CheckOnMeasurement(setup, *notch, *measurement);
      if (apply_notch_) {
        if (measured_notch && !measured_notch->kept && !force_)
          throw CommandError(kExitFailed, dcservo::MeasuredNotchRefusal(*measured_notch) +
                                              "\n  nothing was saved (--force applies it)");
        if (!notch->margins_kept && !force_)
          throw CommandError(kExitFailed, "the " + dcservo::DescribeNotch(*notch) +
                                              "\n  nothing was saved (--force applies it)");
        if (!dcservo::ApplyNotch(setup, *notch))
          throw CommandError(kExitFailed, "no filter is free for the notch");
        dcservo::SynchroniseSetup(setup);
        done = Tune(setup, loop, report, lacking);
      }
    }
    if (report.gains.empty())
      throw CommandError(kExitFailed,
                         "the " + loop_ + " controller was not tuned: " +
                             (lacking.empty()
                                  ? "a parameter that its design needs gives no finite gain"
                                  : lacking));
    std::optional<dcservo::LoopMargins> rigid;
    if (measured_plant) rigid = RigidMargins(setup, loop);
    if (json_) {
      ordered_json out = ReportJson(report);
      if (measured_plant)
        out["measured_plant"] = {{"coupling", CouplingJson(*measurement->coupling)},
                                 {"margins_rigid", dcservo::MarginsJson(rigid)},
                                 {"margins_with_coupling", dcservo::MarginsJson(report.stored_loop)}};
      if (notch) out["notch"] = NotchJson(*notch, apply_notch_);
      if (measured_notch)
        out["notch"]["measured_margins"] = {{"before", MeasuredMarginsJson(measured_notch->before)},
                                            {"with_notch", MeasuredMarginsJson(measured_notch->with_notch)},
                                            {"kept", measured_notch->kept}};
      std::printf("%s\n",
                  out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
      std::fputs(dcservo::FormatTuneReport(report, setup).c_str(), stdout);
      if (notch)
        std::printf("%s %s\n", apply_notch_ ? "applied:" : "proposed:",
                    dcservo::DescribeNotch(*notch).c_str());
      if (measured_notch)
        std::printf("measured open loop: before %s; with the notch %s\n",
                    dcservo::DescribeMeasuredMargins(measured_notch->before).c_str(),
                    dcservo::DescribeMeasuredMargins(measured_notch->with_notch).c_str());
      if (measured_plant)
        std::printf("loop model: rigid %s; with the measured coupling (%s) %s\n",
                    ModelMarginsText(rigid).c_str(),
                    CouplingText(*measurement->coupling).c_str(),
                    ModelMarginsText(report.stored_loop).c_str());
    }
    if (!done) throw CommandError(kExitFailed, "a chip or scaled gain could not be derived");
    const auto failures = dcservo::TuneFailures(report);
    if (!failures.empty() && !force_) {
      std::string text = "the tuned " + loop_ + " controller is not usable";
      for (const std::string& f : failures) text += "\n  " + f;
      throw CommandError(kExitFailed, text + "\n  nothing was saved (--force keeps the gains)");
    }
    if (!out_.empty()) {
      session.Save(out_);
      std::fprintf(stderr, "dcservo: saved %s\n", out_.c_str());
    }
    return;
  }

 private:
  // The stored gains' margins on the model without the measured coupling: what the tuner saw
  // before the measurement.
  static std::optional<dcservo::LoopMargins> RigidMargins(CZel_Setup& setup,
                                                          dcservo::TunedLoop loop) {
    std::optional<dcservo::DriveModel> model = dcservo::ReportedDriveModelOf(setup);
    if (!model) return std::nullopt;
    model->coupling.reset();
    return dcservo::MarginsOf(*model, dcservo::StructureOfLoop(setup, loop), loop);
  }

  static ordered_json CouplingJson(const dcservo::ShaftCoupling& c) {
    return {{"resonance_hz", c.resonance_hz},
            {"load_share", c.load_share},
            {"damping_ratio", c.damping_ratio}};
  }

  static std::string CouplingText(const dcservo::ShaftCoupling& c) {
    char text[40];
    std::snprintf(text, sizeof text, ", load %.0f %% of Jt, damping ", c.load_share * 100.0);
    return "resonance " + ZelFormatValue(c.resonance_hz, ZelFigureStep(c.resonance_hz)) +
           " Hz" + text + ZelFormatValue(c.damping_ratio, ZelFigureStep(c.damping_ratio));
  }

  static std::string ModelMarginsText(const std::optional<dcservo::LoopMargins>& m) {
    if (!m) return "no model";
    std::string text = m->stable ? "" : "unstable, ";
    text += "phase margin " +
            (m->phase_margin_deg ? ZelFormatValue(std::round(*m->phase_margin_deg), 0.0)
                                 : std::string("none")) +
            " deg, gain margin " +
            (m->gain_margin_db ? ZelFormatValue(std::round(*m->gain_margin_db), 0.0)
                               : std::string("none")) +
            " dB";
    return text;
  }

  // Margins read off the measured open loop, as the JSON report gives them.
  static ordered_json MeasuredMarginsJson(const dcservo::CurveMargins& m) {
    const auto value = [](const std::optional<double>& v) {
      return v ? ordered_json(std::round(*v * 10.0) / 10.0) : ordered_json(nullptr);
    };
    return {{"phase_margin_deg", value(m.phase_margin_deg)},
            {"gain_margin_db", value(m.gain_margin_db)}};
  }

  // The notch as the drive stores it, applied to the measured open loop.
  static dcservo::MeasuredNotchMargins CheckOnMeasurement(CZel_Setup& setup,
                                                          const dcservo::NotchProposal& notch,
                                                          const FrequencyMeasurement& measurement) {
    const std::optional<dcservo::DriveModel> model = dcservo::ReportedDriveModelOf(setup);
    const double ts = model ? model->OuterPeriod() : 0.0;
    const auto m = dcservo::NotchOnMeasuredLoop(measurement.open_loop, notch.notch, ts);
    if (!m) throw CommandError(kExitFailed, "the notch cannot be stored at the speed loop's rate");
    return *m;
  }

  std::string measurement_path_;
  SetupArgs args_;
  std::string loop_, positional_setup_, out_;
  // The notch for a resonance at --notch, with the setup's speed loop as it stands.
  std::optional<dcservo::NotchProposal> ProposeNotchFor(CZel_Setup& setup,
                                                        dcservo::TunedLoop loop) const {
    if (loop != dcservo::TunedLoop::Speed)
      throw CommandError(kExitBadInput, "--notch and --apply-notch are for the speed loop");
    if (notch_opt_->count() == 0 && measurement_path_.empty())
      throw CommandError(kExitBadInput, "--apply-notch needs --notch HZ or --from-measurement FILE");
    std::string why;
    const std::optional<dcservo::DriveModel> model = dcservo::ReportedDriveModelOf(setup, &why);
    if (!model) throw CommandError(kExitFailed, "the loop cannot be modelled: " + why);
    if (std::string refusal = dcservo::NotchFrequencyRefusal(notch_hz_, model->OuterPeriod());
        !refusal.empty())
      throw CommandError(kExitBadInput, "--notch: " + refusal);
    auto notch = dcservo::ProposeNotch(
        *model, dcservo::StructureOfLoop(setup, dcservo::TunedLoop::Speed), notch_hz_);
    if (!notch)
      throw CommandError(kExitFailed, "--notch: the drive cannot store a notch's coefficients "
                                      "at " + ZelFormatValue(notch_hz_, 0.0) + " Hz");
    return notch;
  }

  static ordered_json NotchJson(const dcservo::NotchProposal& p, bool applied) {
    return {{"frequency_hz", p.notch.frequency_hz},
            {"q", p.notch.q},
            {"location", dcservo::FilterPlaceName(p.notch.place)},
            {"depth_db", p.depth_db},
            {"margins", dcservo::MarginsJson(p.margins)},
            {"margins_kept", p.margins_kept},
            {"applied", applied}};
  }

  double notch_hz_ = 0.0;
  CLI::Option* notch_opt_ = nullptr;
  bool apply_notch_ = false;
  bool json_ = false, force_ = false, apply_proposal_ = false;
};

}  // namespace

std::unique_ptr<Command> MakeTuneCommand() { return std::make_unique<TuneCommand>(); }
