// The commands that read a setup, run a pipeline or a conversion, and print or save.

#include <cmath>
#include <cstdio>

#include "design/coded_values.h"
#include "app/command.h"
#include "derive/display_step.h"
#include "derive/pipelines.h"
#include "host/zel_format.h"
#include "units/scales.h"

namespace {

enum class Run { AllOptions, Chip, Sync };

class PipelineCommand : public Command {
 public:
  PipelineCommand(const char* name, const char* description, Run run, const char* keeps)
      : name_(name), description_(description), run_(run), keeps_(keeps) {}
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

  void Execute(const CLI::App& cmd) override {
    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    const auto names = SplitNameList(print_);
    session.CheckPrintable(names);
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    dcservo::StepFailures failures;
    switch (run_) {
      // Through the plug-in's export, as a host runs it: what went wrong is what the host
      // reported on the way.
      case Run::AllOptions: session.Plugin().ComputeAllOptions(&setup); break;
      case Run::Chip: failures = dcservo::ComputeChipParameters(setup); break;
      case Run::Sync: failures = dcservo::SynchroniseSetup(setup); break;
    }
    session.ReportReplaced(name_, keeps_);
    session.Print(names, internal_);
    if (!failures.empty())
      throw CommandError(kExitFailed, "not derived: " + dcservo::DescribeFailures(failures) +
                                          (out_.empty() ? "" : "; nothing was saved"));
    session.RefuseIfErrorsReported(out_.empty() ? "the setup is not consistent"
                                                : "nothing was saved");
    if (!out_.empty()) {
      session.Save(out_);
      std::fprintf(stderr, "dcservo: saved %s\n", out_.c_str());
    }
  }

 private:
  const char* name_;
  const char* description_;
  Run run_;
  const char* keeps_;  // which command keeps what this one replaces
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
  void Execute(const CLI::App& cmd) override {
    const CZel_Unit* unit = ZelUnitTable().FindUnit(unit_);
    if (!unit) throw CommandError(kExitBadInput, "unknown unit \"" + unit_ + "\"" + SuggestUnit());
    SetupSession session(args_.setup);
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    RefuseUnitOfAnotherKind(setup, *unit);
    if (!dcservo::HasScaleForUnit(unit_.c_str())) ExplainUnscaledUnit(*unit);
    std::printf("%.17g %.17g\n",
                session.Plugin().GetScaleFactor(&setup, unit_.c_str(), name_.c_str()),
                session.Plugin().GetScaleOffset(&setup, unit_.c_str()));
    return;
  }

 private:
  std::string SuggestUnit() const {
    std::vector<std::string> names;
    for (const CZel_Unit& u : ZelUnitTable().All()) {
      if (!u.GetName().empty()) names.push_back(u.GetName());
    }
    const std::string nearest = DidYouMean(unit_, names);
    return nearest.empty() ? "; \"dcservo units\" lists them" : nearest;
  }

  // A factor for rpm asked of a current would be a number without a meaning; a quantity
  // that the setup does not hold, or that has no unit, is the export's to answer.
  void RefuseUnitOfAnotherKind(CZel_Setup& setup, const CZel_Unit& unit) const {
    const CZel_Quantity* quantity = nullptr;
    {
      ZelQuietErrors quiet;
      quantity = setup.FindParameter(name_);
      if (!quantity) quantity = setup.FindVariable(name_, 0);
    }
    if (!quantity || quantity->GetUnitType() == kUnitNone) return;
    if (ZelUnitTable().FindUnitOfType(unit.GetName(), quantity->GetUnitType())) return;
    std::vector<std::string> units;
    for (const CZel_Unit* u : ZelUnitTable().UnitsOfType(quantity->GetUnitType()))
      units.push_back(u->GetName());
    throw CommandError(kExitBadInput,
                       "\"" + unit_ + "\" is a unit of " + ZelUnitTypeName(unit.GetUnitType()) +
                           ", not of \"" + name_ + "\" (" +
                           ZelUnitTypeName(quantity->GetUnitType()) +
                           "); its units: " + QuoteList(units, ", "));
  }

  // The export scales the base units only; the plug-in's host converts from there by the
  // unit table, so a script that asks for another unit gets 1 and must be told.
  void ExplainUnscaledUnit(const CZel_Unit& unit) const {
    const CZel_Unit* base = ZelUnitTable().BaseUnitOfType(unit.GetUnitType());
    std::string text = "dcservo: the export has no scale for \"" + unit.GetName() +
                       "\" and answers 1 0";
    if (base && base != &unit && dcservo::HasScaleForUnit(base->GetName().c_str())) {
      char factor[64];
      std::snprintf(factor, sizeof factor, "%.17g", unit.GetFactorToBase());
      text += "; the unit table gives 1 " + unit.GetName() + " = " + factor + " " +
              base->GetName() + ": divide the factor of \"" + base->GetName() + "\" by it";
    }
    std::fprintf(stderr, "%s\n", ZelEscapeText(text).c_str());
  }

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
  void Execute(const CLI::App& cmd) override {
    SetupSession session(args_.setup);
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    for (const std::string& n : names_) {
      const CZel_Parameter* p = nullptr;
      const CZel_Quantity* q = nullptr;
      {
        ZelQuietErrors quiet;
        p = setup.FindParameter(n);
        q = p;
        if (!q) q = setup.FindVariable(n, 0);
      }
      if (!q)
        throw CommandError(kExitBadInput,
                           "unknown name \"" + n + "\"" + session.Suggest(n, true, true, false));
      std::printf("%s\n", ShowLine(setup, *q, p).c_str());
    }
    return;
  }

  // Values as the drive can tell them apart; ranges and the internal value as stored.
  static std::string ShowLine(CZel_Setup& setup, const CZel_Quantity& q, const CZel_Parameter* p) {
    const double base = q.GetValueInBaseUnit();
    const double step = dcservo::DisplayStep(setup, q);
    std::string line = q.GetName() + " value=" + ZelFormatValue(base, step);
    if (const std::string code = dcservo::NameOfCode(dcservo::CodedValuesOf(q.GetName()), base);
        !code.empty())
      line += " (" + code + ")";
    line += " internal=" + ZelFormatValue(q.GetValueInInternalUnit(), 0.0);
    if (p)
      line += " min=" + ZelFormatValue(p->GetMinInBaseUnit(), 0.0) +
              " max=" + ZelFormatValue(p->GetMaxInBaseUnit(), 0.0);
    const std::string unit = q.GetUnitName();
    line += " unit=\"" + (unit.empty() ? std::string("1") : unit) + "\"";
    const CZel_Unit& shown = q.GetSelectedUnit();
    if (!shown.IsBaseUnit())
      line += " shown=\"" + ZelFormatValue(shown.FromBase(base), step / shown.GetFactorToBase()) +
              " " + shown.GetName() + "\"";
    return line;
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
  void Execute(const CLI::App&) override {
    for (const CZel_Unit& unit : ZelUnitTable().All()) {
      if (unit.GetName().empty()) continue;
      std::printf("%-12s type=%-2d to_base=%.17g\n", ("\"" + unit.GetName() + "\"").c_str(),
                  unit.GetUnitType(), unit.GetFactorToBase());
    }
    return;
  }
};

}  // namespace

std::unique_ptr<Command> MakeComputeCommand() {
  return std::make_unique<PipelineCommand>(
      "compute", "Bring the setup into a consistent state from its chip parameters",
      Run::AllOptions,
      "compute derives the scaled parameters from the chip parameters; \"dcservo sync\" (or "
      "\"chip\") derives the chip parameters from assigned scaled values and keeps them");
}
std::unique_ptr<Command> MakeChipCommand() {
  return std::make_unique<PipelineCommand>(
      "chip", "Derive the chip parameters from the scaled ones", Run::Chip,
      "chip derives the chip parameters from the scaled ones; \"dcservo compute\" keeps "
      "assigned chip values and derives the scaled ones from them");
}
std::unique_ptr<Command> MakeSyncCommand() {
  return std::make_unique<PipelineCommand>(
      "sync", "Derive the chip parameters, then the scaled ones back from them",
      Run::Sync,
      "sync derives the chip parameters from the scaled ones; \"dcservo compute\" keeps "
      "assigned chip values and derives the scaled ones from them");
}
std::unique_ptr<Command> MakeScaleCommand() { return std::make_unique<ScaleCommand>(); }
std::unique_ptr<Command> MakeShowCommand() { return std::make_unique<ShowCommand>(); }
std::unique_ptr<Command> MakeUnitsCommand() { return std::make_unique<UnitsCommand>(); }
