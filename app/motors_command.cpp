// dcservo motors: the motor database from the command line. The catalogue that ships with
// the program and the user's motors, listed, shown, and applied to a setup.

#include <cmath>
#include <cstdio>

#include "app/command.h"
#include "derive/pipelines.h"
#include "derive/plausibility.h"
#include "host/zel_dialog_setup.h"
#include "host/zel_format.h"
#include "host/zel_motor_database.h"

namespace {

const char* SourceName(ZelMotorSource source) {
  return source == ZelMotorSource::Catalogue ? "catalogue" : "user";
}

// Files that had to be skipped are named as warnings by the database, and the rest serves.
ZelMotorDatabase OpenDatabase() { return ZelMotorDatabase::Default(); }

const ZelMotorEntry& FindMotor(const ZelMotorDatabase& db, const std::string& name) {
  if (std::string why = ZelCheckMotorName(name); !why.empty())
    throw CommandError(kExitBadInput, "\"" + name + "\": " + why);
  const ZelMotorEntry* m = db.Find(name);
  if (!m) throw CommandError(kExitBadInput, "no motor \"" + name + "\" (see dcservo motors list)");
  return *m;
}

// "IlimPS 8 A (0.001 to 0.9 A), ...": the values that a setup holds outside their ranges, as
// the limits of a motor with higher ratings stay when a smaller motor comes in.
std::string ValuesOutsideTheirRanges(const CZel_Setup& setup) {
  std::string out;
  const CZel_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *all[i];
    const double v = p.GetValueInBaseUnit(), min = p.GetMinInBaseUnit(),
                 max = p.GetMaxInBaseUnit();
    if (v >= min && v <= max) continue;
    const std::string unit = *p.GetUnitName() ? std::string(" ") + p.GetUnitName() : "";
    // Six digits tell a limit from its range's ends.
    const double step = std::abs(max - min) * 1e-6;
    out += (out.empty() ? "" : ", ") + p.GetName() + " " + ZelFormatValue(v, step) + unit +
           " (" + ZelFormatValue(min, step) + " to " + ZelFormatValue(max, step) + unit + ")";
  }
  return out;
}

class MotorsCommand : public Command {
 public:
  const char* Name() const override { return "motors"; }
  const char* Description() const override {
    return "List, show and apply the motors of the motor database";
  }

  void Define(CLI::App& cmd) override {
    cmd.require_subcommand(1);
    list_ = cmd.add_subcommand("list", "List the motors, catalogue first");
    list_->add_option("PATTERN", pattern_, "Only names matching this pattern (\"DC40*\")");
    show_ = cmd.add_subcommand("show", "Print a motor's data");
    show_->add_option("NAME", name_, "Motor name")->required();
    apply_ = cmd.add_subcommand("apply", "Write a motor's data into a setup and save it");
    apply_->add_option("NAME", name_, "Motor name")->required();
    // The setup as every command takes it: -s or first, and --set before the motor goes in.
    args_.AddTo(*apply_);
    apply_->add_option("SETUP", setup_, "Drive setup file (same as --setup)")->check(FileName());
    apply_->add_option("--out", out_, "Save the setup with the motor to this file")
        ->required()
        ->check(FileName());
  }

  void Execute(const CLI::App&) override {
    if (*list_) return List();
    if (*show_) return Show();
    return Apply();
  }

 private:
  void List() const {
    const ZelMotorDatabase db = OpenDatabase();
    const auto found = db.Matching(pattern_);
    if (found.empty())
      throw CommandError(kExitBadInput, "no motor matches \"" + pattern_ + "\"");
    std::printf("%-24s %-9s %8s %8s %10s %9s %10s %10s\n", "name", "database", "In [A]",
                "Ipk [A]", "K [Nm/A]", "R [ohm]", "L [H]", "J [kgm^2]");
    for (const ZelMotorEntry* m : found) {
      const ZelMotorData& d = m->data;
      std::printf("%-24s %-9s %8g %8g %10g %9g %10g %10g\n", d.name.c_str(), SourceName(m->source),
                  d.nominal_current_A, d.peak_current_A, d.torque_constant_Nm_per_A,
                  d.resistance_ohm, d.inductance_H, d.inertia_kgm2);
    }
  }

  void Show() const {
    const ZelMotorDatabase db = OpenDatabase();
    const ZelMotorEntry& m = FindMotor(db, name_);
    std::printf("%s (%s database, %s)\n", m.data.name.c_str(), SourceName(m.source),
                ZelEscapeText(m.path).c_str());
    for (const ZelMotorField& f : ZelMotorFields())
      std::printf("  %-18s %-6s %s %s\n", f.label, f.parameter, ZelFormatValue(m.data.*(f.value)).c_str(),
                  f.unit);
  }

  void Apply() const {
    const ZelMotorDatabase db = OpenDatabase();
    const ZelMotorEntry& m = FindMotor(db, name_);
    SetupSession session(ResolveSetup(args_.setup, setup_));
    CZel_Setup& setup = session.Setup();
    const std::string refused = "\"" + m.data.name + "\" does not suit this drive";
    if (std::string why = ZelApplyMotorToSetup(setup, m.data); !why.empty())
      throw CommandError(kExitBadInput, refused + ": " + why);
    // The chip parameters follow the new motor, as after the motor setup dialog, and the
    // ranges with them: --set then gives the limits for this motor (an i2t current below the
    // last motor's nominal current) within the ranges that this motor sets.
    dcservo::SynchroniseSetup(setup);
    session.Apply(args_.InOrder(*apply_));
    dcservo::SynchroniseSetup(setup);
    std::string why = dcservo::ImplausibleMotorData(setup);
    if (const std::string outside = ValuesOutsideTheirRanges(setup); !outside.empty())
      why += (why.empty() ? "" : "; ") + std::string("the setup's values for the motor before are "
             "outside what this one admits: ") + outside + "; give each a value in its range "
             "(--set NAME=VALUE)";
    if (!why.empty()) throw CommandError(kExitBadInput, refused + ": " + why);
    session.Save(out_);
    std::printf("%s applied; saved to %s\n", m.data.name.c_str(), out_.c_str());
  }

  CLI::App* list_ = nullptr;
  CLI::App* show_ = nullptr;
  CLI::App* apply_ = nullptr;
  SetupArgs args_;
  std::string pattern_, name_, setup_, out_;
};

}  // namespace

std::unique_ptr<Command> MakeMotorsCommand() { return std::make_unique<MotorsCommand>(); }
