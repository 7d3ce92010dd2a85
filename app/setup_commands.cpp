// The commands that read a setup, run a pipeline or a conversion, and print or save.

#include <cstdio>

#include "app/command.h"
#include "derive/pipelines.h"

namespace {

enum class Run { AllOptions, Chip, Sync };

class PipelineCommand : public Command {
 public:
  PipelineCommand(const char* name, const char* description, Run run)
      : name_(name), description_(description), run_(run) {}
  const char* Name() const override { return name_; }
  const char* Description() const override { return description_; }

  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    cmd.add_option("--print", print_, "Comma-separated names to print after the run")
        ->check(NameList());
    cmd.add_flag("--internal", internal_, "Print in internal units");
    cmd.add_option("--out", out_, "Save the resulting setup to this file")->check(FileName());
  }

  int Execute(const CLI::App& cmd) override {
    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    const auto names = SplitNameList(print_);
    session.CheckPrintable(names);
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    switch (run_) {
      case Run::AllOptions: session.Plugin().ComputeAllOptions(&setup); break;
      case Run::Chip: dcservo::ComputeChipParameters(setup); break;
      case Run::Sync:
        dcservo::ComputeChipParameters(setup);
        dcservo::ComputeScaledParameters(setup);
        break;
    }
    session.Print(names, internal_);
    if (!out_.empty()) session.Save(out_);
    return 0;
  }

 private:
  const char* name_;
  const char* description_;
  Run run_;
  SetupArgs args_;
  std::string positional_setup_, print_, out_;
  bool internal_ = false;
};

class ScaleCommand : public Command {
 public:
  const char* Name() const override { return "scale"; }
  const char* Description() const override {
    return "Print the factor and offset of a unit and name";
  }
  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("UNIT", unit_, "Unit name, e.g. rad/s")->required();
    cmd.add_option("NAME", name_, "Variable or parameter name")->required();
  }
  int Execute(const CLI::App& cmd) override {
    SetupSession session(args_.setup);
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    std::printf("%.17g %.17g\n",
                session.Plugin().GetScaleFactor(&setup, unit_.c_str(), name_.c_str()),
                session.Plugin().GetScaleOffset(&setup, unit_.c_str()));
    return 0;
  }

 private:
  SetupArgs args_;
  std::string unit_, name_;
};

class ShowCommand : public Command {
 public:
  const char* Name() const override { return "show"; }
  const char* Description() const override {
    return "Print value, internal value, range and unit";
  }
  void Define(CLI::App& cmd) override {
    args_.AddTo(cmd);
    cmd.add_option("NAME", names_, "Parameter or variable names")->required();
  }
  int Execute(const CLI::App& cmd) override {
    SetupSession session(args_.setup);
    session.Apply(args_.InOrder(cmd));
    ZelQuietErrors quiet;
    CZel_Setup& setup = session.Setup();
    for (const std::string& n : names_) {
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

 private:
  SetupArgs args_;
  std::vector<std::string> names_;
};

class UnitsCommand : public Command {
 public:
  const char* Name() const override { return "units"; }
  const char* Description() const override { return "List the unit table"; }
  void Define(CLI::App&) override {}
  int Execute(const CLI::App&) override {
    for (const CZel_Unit& unit : ZelUnitTable().All()) {
      if (unit.GetName().empty()) continue;
      std::printf("%-12s type=%-2d to_base=%.17g\n", ("\"" + unit.GetName() + "\"").c_str(),
                  unit.GetUnitType(), unit.GetFactorToBase());
    }
    return 0;
  }
};

}  // namespace

std::unique_ptr<Command> MakeComputeCommand() {
  return std::make_unique<PipelineCommand>(
      "compute", "Bring the setup into a consistent state from its chip parameters",
      Run::AllOptions);
}
std::unique_ptr<Command> MakeChipCommand() {
  return std::make_unique<PipelineCommand>(
      "chip", "Derive the chip parameters from the scaled ones", Run::Chip);
}
std::unique_ptr<Command> MakeSyncCommand() {
  return std::make_unique<PipelineCommand>(
      "sync", "Derive the chip parameters, then the scaled ones back from them", Run::Sync);
}
std::unique_ptr<Command> MakeScaleCommand() { return std::make_unique<ScaleCommand>(); }
std::unique_ptr<Command> MakeShowCommand() { return std::make_unique<ShowCommand>(); }
std::unique_ptr<Command> MakeUnitsCommand() { return std::make_unique<UnitsCommand>(); }
