// dcservo filters: designs the speed loop's biquad filters as the scaled-to-chip pipeline
// does, and prints the slots the drive reads with the report of each filter. Given a speed
// test's report, it shows the current spectrum that the test measured beside the filters and
// places the notch for the resonance that the test named, as the filters dialog does.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/command.h"
#include "app/speed_report_option.h"
#include "derive/pipelines.h"
#include "derive/probes.h"
#include "design/biquad_designer.h"
#include "design/bode.h"
#include "design/design_report.h"
#include "design/last_speed_run.h"
#include "design/notch_placement.h"
#include "dialogs/bode_plot.h"
#include "drivetests/commissioning_report.h"

namespace {

using nlohmann::ordered_json;

// Slot values are integers; JSON shows them so.
ordered_json SlotJson(const dcservo::BiquadSlot& s) {
  const dcservo::BiquadCoefficients& c = s.quantised;
  return {{"B0", static_cast<std::int64_t>(c.b0)}, {"B1", static_cast<std::int64_t>(c.b1)},
          {"B2", static_cast<std::int64_t>(c.b2)}, {"A1", static_cast<std::int64_t>(c.a1)},
          {"A2", static_cast<std::int64_t>(c.a2)}, {"SF", static_cast<std::int64_t>(s.scale_factor)}};
}

// Infinite decibels (a gain of 0) have no JSON number.
ordered_json Decibels(double gain) {
  const double db = dcservo::Decibels(gain);
  return std::isfinite(db) ? ordered_json(db) : ordered_json();
}

ordered_json ReportJson(const dcservo::BiquadReport& r) {
  ordered_json out;
  out["sampling_period_s"] = r.sampling_period_s;
  ordered_json counts;
  for (int place = 0; place < 3; ++place) counts[dcservo::kBiquadCountNames[place]] = r.counts[place];
  out["counts"] = counts;
  ordered_json slots = ordered_json::array();
  for (const dcservo::BiquadSlot& s : r.slots) slots.push_back(SlotJson(s));
  out["slots"] = slots;
  ordered_json filters = ordered_json::array();
  for (const dcservo::FilterReport& f : r.filters) {
    ordered_json poles = ordered_json::array();
    for (const auto& p : f.poles) poles.push_back({p.real(), p.imag()});
    filters.push_back({{"filter", f.filter},
                       {"slot", f.slot},
                       {"place", dcservo::FilterPlaceName(f.place)},
                       {"type", f.type},
                       {"type_name", f.type_name},
                       {"frequency_hz", f.frequency_hz},
                       {"q", f.q},
                       {"lag_frequency_hz", f.lag_frequency_hz},
                       {"refused", f.refused},
                       {"stored", SlotJson(f.stored)},
                       {"dc_gain", f.dc_gain},
                       {"dc_gain_db", Decibels(f.dc_gain)},
                       {"corner_gain", f.corner_gain},
                       {"corner_gain_db", Decibels(f.corner_gain)},
                       {"poles", poles},
                       {"pole_radius", f.pole_radius},
                       {"warnings", f.warnings}});
  }
  out["filters"] = filters;
  out["warnings"] = r.warnings;
  return out;
}

ordered_json NotchJson(const dcservo::NotchPlacement& placed) {
  const dcservo::NotchProposal& p = *placed.proposal;
  return {{"filter", placed.filter},
          {"frequency_hz", p.notch.frequency_hz},
          {"q", p.notch.q},
          {"location", dcservo::FilterPlaceName(p.notch.place)},
          {"depth_db", p.depth_db},
          {"margins", dcservo::MarginsJson(p.margins)},
          {"margins_kept", p.margins_kept}};
}

class FiltersCommand : public Command {
 public:
  const char* Name() const override { return "filters"; }
  const char* Description() const override {
    return "Design the biquad filters and print their coefficient slots";
  }

  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    cmd.add_option("--out", out_, "Save the setup with its designed slots to this file")
        ->check(FileName());
    cmd.add_flag("--force", force_, "Save with --out even a speed loop that is unstable");
    cmd.add_flag("--json", json_, "Print the slots and the report as JSON");
    cmd.add_option("--bode", bode_,
                   "Write the filters' frequency response, as the drive runs them, to "
                   "FILE.svg, FILE.png or FILE.csv")
        ->check(OutputFile({".svg", ".png", ".csv"}));
    AddSpectrumOption(cmd, spectrum_, "shown with the response (--bode, --json)");
    cmd.add_flag("--apply-notch", apply_notch_,
                 "Switch the notch for the resonance that the --spectrum report named on in the "
                 "first free filter, where the speed loop keeps its margins with it");
  }

  void Execute(const CLI::App& cmd) override {
    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    if (!dcservo::HasBiquadFilters(setup))
      throw CommandError(kExitFailed, "this drive has no biquad filters (no IQREF_BQ_INI)");
    // The slow-loop period that the design rests on follows the chip timing.
    dcservo::SynchroniseSetup(setup);
    std::optional<dcservo::NotchPlacement> notch;
    if (!spectrum_.empty()) notch = TakeMeasuredSpectrum(setup);
    else if (apply_notch_)
      throw CommandError(kExitBadInput, "--apply-notch places the notch for the resonance that "
                                        "a --spectrum report named");

    dcservo::CBiquadDesigner designer;
    dcservo::BiquadReport report;
    const bool done = designer.DesignAllFilters(setup, &report) == dcservo::StepResult::Done;
    const dcservo::BodeData loop = dcservo::ComputeBodeData(setup, 2);
    if (json_) {
      ordered_json out = ReportJson(report);
      out["speed_loop"] = {{"margins", dcservo::MarginsJson(loop.speed_loop)},
                           {"margins_without_filters", dcservo::MarginsJson(loop.speed_loop_unfiltered)}};
      out["resonance"] = loop.measured ? dcservo::ResonanceJson(loop.measured->resonance)
                                       : ordered_json(nullptr);
      out["notch"] = notch ? NotchJson(*notch) : ordered_json(nullptr);
      std::printf("%s\n",
                  out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
      std::fputs(dcservo::FormatBiquadReport(report).c_str(), stdout);
      for (const std::string& m : {dcservo::SpeedLoopMarginsText(loop),
                                   dcservo::MeasuredSpectrumText(loop)}) {
        if (!m.empty()) std::printf("%s\n", m.c_str());
      }
      if (notch)
        std::printf("applied: %s, in filter %d\n", dcservo::DescribeNotch(*notch->proposal).c_str(),
                    notch->filter);
    }
    if (!done) throw CommandError(kExitFailed, "not every filter that is on could be designed");
    if (!out_.empty() && !force_ && loop.speed_loop && !loop.speed_loop->stable)
      throw CommandError(kExitFailed,
                         "the speed loop is unstable with these filters; nothing was saved "
                         "(--force saves it all the same)");
    if (!bode_.empty()) WriteBode(setup);
    if (!out_.empty()) {
      session.Save(out_);
      std::fprintf(stderr, "dcservo: saved %s\n", out_.c_str());
    }
    return;
  }

 private:
  // The report's spectrum for what follows to show; with --apply-notch the notch placed for
  // its resonance and the filters designed again with it.
  std::optional<dcservo::NotchPlacement> TakeMeasuredSpectrum(CZel_Setup& setup) const {
    const dcservo::MeasuredSpectrum m = TakeSpeedTestSpectrum(spectrum_, setup);
    if (!apply_notch_) return std::nullopt;
    if (!m.resonance)
      throw CommandError(kExitFailed, spectrum_ + ": the run named no resonance, so no notch "
                                                  "is placed; nothing was saved");
    dcservo::NotchPlacement placed = dcservo::PlaceNotch(setup, m.resonance->frequency_hz);
    if (!placed.filter) throw CommandError(kExitFailed, placed.refusal + "; nothing was saved");
    dcservo::SynchroniseSetup(setup);
    return placed;
  }

  void WriteBode(CZel_Setup& setup) const {
    const dcservo::BodeData data = dcservo::ComputeBodeData(setup);
    if (data.curves.empty())
      std::fprintf(stderr, "dcservo: no filter is on; the response is flat\n");
    if (std::string why = dcservo::WriteBodeFile(data, bode_); !why.empty())
      throw CommandError(kExitFailed, why);
  }

  SetupArgs args_;
  std::string positional_setup_, out_, bode_, spectrum_;
  bool json_ = false, apply_notch_ = false, force_ = false;
};

}  // namespace

std::unique_ptr<Command> MakeFiltersCommand() { return std::make_unique<FiltersCommand>(); }
