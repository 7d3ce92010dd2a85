#include "app/cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

#include "app/setup_session.h"
#include "derive/pipelines.h"
#include "host/zel_errors.h"

namespace {

// Options every setup-editing command shares.
struct SetupArgs {
  std::string setup;
  std::vector<std::string> set, set_internal, option;
  CLI::Option* set_opt = nullptr;
  CLI::Option* set_internal_opt = nullptr;
  CLI::Option* option_opt = nullptr;

  void AddTo(CLI::App& cmd, bool with_options) {
    cmd.add_option("-s,--setup", setup, "Drive setup file (default: the bundled drive)");
    set_opt = cmd.add_option("--set", set, "NAME=VALUE in base units (a unit may follow)")
                  ->allow_extra_args(false);
    set_internal_opt =
        cmd.add_option("--set-internal", set_internal, "NAME=VALUE in internal units")
            ->allow_extra_args(false);
    if (with_options)
      option_opt = cmd.add_option("--option", option, "NAME=TEXT sets a setup option")
                       ->allow_extra_args(false);
  }

  // The assignments in the order they were typed, across the three options.
  std::vector<Assignment> InOrder(const CLI::App& cmd) const {
    std::vector<Assignment> out;
    std::size_t next_set = 0, next_internal = 0, next_option = 0;
    for (const CLI::Option* opt : cmd.parse_order()) {
      if (opt == set_opt && next_set < set.size())
        out.push_back({Assignment::Kind::Base, set[next_set++]});
      else if (opt == set_internal_opt && next_internal < set_internal.size())
        out.push_back({Assignment::Kind::Internal, set_internal[next_internal++]});
      else if (option_opt && opt == option_opt && next_option < option.size())
        out.push_back({Assignment::Kind::Option, option[next_option++]});
    }
    return out;
  }
};

enum class Run { AllOptions, Chip, Sync };

struct PipelineCommand {
  SetupArgs args;
  std::string positional_setup;
  std::string print;
  bool internal = false;
  std::string out;
  Run run = Run::AllOptions;

  void Define(CLI::App& cmd, Run what) {
    run = what;
    args.AddTo(cmd, true);
    cmd.add_option("SETUP", positional_setup, "Drive setup file (same as --setup)");
    cmd.add_option("--print", print, "Comma-separated names to print after the run");
    cmd.add_flag("--internal", internal, "Print in internal units");
    cmd.add_option("--out", out, "Save the resulting setup to this file");
  }

  int Execute(const CLI::App& cmd) {
    if (!positional_setup.empty() && !args.setup.empty() && positional_setup != args.setup)
      throw CommandError(kExitBadInput, "two different setup files given");
    SetupSession session(args.setup.empty() ? positional_setup : args.setup);
    const auto names = SplitNameList(print);
    session.CheckPrintable(names);
    session.Apply(args.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    switch (run) {
      case Run::AllOptions: session.Plugin().ComputeAllOptions(&setup); break;
      case Run::Chip: dcservo::ComputeChipParameters(setup); break;
      case Run::Sync:
        dcservo::ComputeChipParameters(setup);
        dcservo::ComputeScaledParameters(setup);
        break;
    }
    session.Print(names, internal);
    if (!out.empty()) session.Save(out);
    return 0;
  }
};

struct ScaleCommand {
  SetupArgs args;
  std::string unit, name;

  void Define(CLI::App& cmd) {
    args.AddTo(cmd, true);
    cmd.add_option("UNIT", unit, "Unit name, e.g. rad/s")->required();
    cmd.add_option("NAME", name, "Variable or parameter name")->required();
  }

  int Execute(const CLI::App& cmd) {
    SetupSession session(args.setup);
    session.Apply(args.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    std::printf("%.17g %.17g\n", session.Plugin().GetScaleFactor(&setup, unit.c_str(), name.c_str()),
                session.Plugin().GetScaleOffset(&setup, unit.c_str()));
    return 0;
  }
};

struct ShowCommand {
  SetupArgs args;
  std::vector<std::string> names;

  void Define(CLI::App& cmd) {
    args.AddTo(cmd, true);
    cmd.add_option("NAME", names, "Parameter or variable names")->required();
  }

  int Execute(const CLI::App& cmd) {
    SetupSession session(args.setup);
    session.Apply(args.InOrder(cmd));
    ZelQuietErrors quiet;
    for (const std::string& n : names) {
      CZel_Setup& setup = session.Setup();
      const CZel_Parameter* p = setup.FindParameter(n);
      const CZel_Quantity* q = p;
      if (!q) q = setup.FindVariable(n, 0);
      if (!q) throw CommandError(kExitBadInput, "unknown name \"" + n + "\"");
      const double base = q->GetValueInBaseUnit();
      std::printf("%s value=%.17g internal=%.17g", q->GetName().c_str(), base,
                  q->GetValueInInternalUnit());
      if (p) std::printf(" min=%.17g max=%.17g", p->GetMinInBaseUnit(), p->GetMaxInBaseUnit());
      std::printf(" unit=\"%s\"", q->GetUnitName());
      const CZel_Unit& shown = q->GetSelectedUnit();
      if (!shown.IsBaseUnit())
        std::printf(" shown=\"%.10g %s\"", shown.FromBase(base), shown.GetName().c_str());
      std::printf("\n");
    }
    return 0;
  }
};

int ListUnits() {
  for (const CZel_Unit& unit : ZelUnitTable().All()) {
    if (unit.GetName().empty()) continue;
    std::printf("%-10s type=%-2d to_base=%.17g\n", ("\"" + unit.GetName() + "\"").c_str(),
                unit.GetUnitType(), unit.GetFactorToBase());
  }
  return 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"dcservo: setup of DC servo drives"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "dcservo 0.1.0");

  PipelineCommand compute, chip, sync;
  ScaleCommand scale;
  ShowCommand show;
  auto* compute_cmd = app.add_subcommand(
      "compute", "Bring the setup into a consistent state from its chip parameters");
  compute.Define(*compute_cmd, Run::AllOptions);
  auto* chip_cmd = app.add_subcommand("chip", "Derive the chip parameters from the scaled ones");
  chip.Define(*chip_cmd, Run::Chip);
  auto* sync_cmd = app.add_subcommand(
      "sync", "Derive the chip parameters, then the scaled ones back from them");
  sync.Define(*sync_cmd, Run::Sync);
  auto* scale_cmd = app.add_subcommand("scale", "Print the factor and offset of a unit and name");
  scale.Define(*scale_cmd);
  auto* show_cmd = app.add_subcommand("show", "Print value, internal value, range and unit");
  show.Define(*show_cmd);
  auto* units_cmd = app.add_subcommand("units", "List the unit table");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitBadInput;
  }

  try {
    if (*compute_cmd) return compute.Execute(*compute_cmd);
    if (*chip_cmd) return chip.Execute(*chip_cmd);
    if (*sync_cmd) return sync.Execute(*sync_cmd);
    if (*scale_cmd) return scale.Execute(*scale_cmd);
    if (*show_cmd) return show.Execute(*show_cmd);
    if (*units_cmd) return ListUnits();
  } catch (const CommandError& e) {
    std::fprintf(stderr, "dcservo: %s\n", e.what());
    return e.code;
  }
  return kExitBadInput;
}
