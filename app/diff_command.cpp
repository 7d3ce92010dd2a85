// dcservo diff A B: what two setups hold differently, as an engineer compares two parameter
// sets of one machine: every parameter, option and identity field whose shown value differs,
// in the unit the first setup shows it in, under the dialog and box where it is edited.

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "design/coded_values.h"
#include "app/command.h"
#include "derive/display_step.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_dialog_setup.h"
#include "host/zel_errors.h"
#include "host/zel_format.h"
#include "host/zel_headless.h"
#include "names/dialog_names.h"

namespace {

// Where a parameter is edited: "Drive Setup", "Current controller", "Kp". Groups list in
// the order of their rank (dialog, then box), entries in the order of the dialog's fields.
struct Place {
  std::string dialog, group, caption;
  int rank = 0, order = 0;
};

// The dialogs that edit a setup, in the order the drive setup leads a user through them; a
// parameter that two of them show belongs to the first.
constexpr const char* kSetupDialogs[] = {
    dcservo::dialog_names::kDriveSetup,        dcservo::dialog_names::kMotorSetup,
    dcservo::dialog_names::kExternalReference, dcservo::dialog_names::kAdvanced,
    dcservo::dialog_names::kFilters,           dcservo::dialog_names::kDriveInfo,
};

// What no dialog shows comes after the dialogs, each kind under its own heading.
struct Section {
  const char* name;
  int rank;
};
constexpr int kAfterDialogs = 1 << 20;
constexpr Section kChipGroup{"Chip parameters", kAfterDialogs + 1};
constexpr Section kOtherGroup{"Other parameters", kAfterDialogs + 2};
constexpr Section kOptionsGroup{"Options", kAfterDialogs + 3};
constexpr Section kIdentityGroup{"Identity", kAfterDialogs + 4};

// Brings each dialog up headless on `setup` (a copy: bringing a dialog up may derive) and
// reads which box of it holds each bound parameter.
std::map<std::string, Place> PlacesOfParameters(CZel_Setup& setup) {
  std::map<std::string, Place> places;
  ZelHeadlessBackend ui;
  ZelScopedUiBackend installed(ui);
  // A dialog that misses a parameter still places the others, and says nothing of it: the
  // setups are compared, not checked.
  ZelDiscardErrors discarded;
  int order = 0;
  for (std::size_t d = 0; d < std::size(kSetupDialogs); ++d) {
    std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(kSetupDialogs[d], setup);
    auto* editor = dynamic_cast<CZel_EditSetupDlg*>(dialog.get());
    if (!editor) continue;
    editor->ModalInit();
    const std::string caption = ZelStripMnemonic(editor->Template().caption);
    using Role = CZel_EditSetupDlg::Role;
    for (const std::string& parameter : editor->GetBoundParameters()) {
      const std::string key = zel::FoldName(parameter);
      if (places.count(key)) continue;
      int control = 0;
      for (Role role : {Role::Edit, Role::Slider, Role::Check, Role::List, Role::Radio}) {
        if (!control) control = editor->FindBoundControl(parameter, role);
      }
      const ZelControlDef* def = editor->GetControlDef(control);
      const ZelControlDef* box = def && def->group ? editor->GetControlDef(def->group) : nullptr;
      const auto& controls = editor->Template().controls;
      const int box_index = box ? static_cast<int>(box - controls.data()) + 1 : 0;
      places[key] = {caption, box ? ZelStripMnemonic(box->caption) : std::string(),
                     editor->GetFieldCaption(parameter),
                     static_cast<int>(d) * (kAfterDialogs / 64) + box_index, ++order};
    }
  }
  return places;
}

struct Side {
  std::optional<std::string> text;  // as shown; none when the setup lacks the entry
  std::optional<double> number;     // the shown number of a parameter, for --json
  std::string code;                 // the name of a coded value
};

struct Difference {
  std::string name, caption, unit;
  Side a, b;
  int order = 0;
};

struct Group {
  std::string dialog, group;
  int rank = 0;
  std::vector<Difference> entries;
};

// A value by the rule `show` follows: no more digits than the drive tells apart, in `unit`,
// with the name of its code.
Side ShownValue(CZel_Setup& setup, const CZel_Parameter& p, const CZel_Unit& unit) {
  const double base = p.GetValueInBaseUnit();
  const double shown = unit.FromBase(base);
  const std::string text =
      ZelFormatValue(shown, dcservo::DisplayStep(setup, p) / unit.GetFactorToBase());
  double number = shown;
  ZelParseValue(text, number);
  return {text, number, dcservo::NameOfCode(dcservo::CodedValuesOf(p.GetName()), base)};
}

class DiffCommand : public Command {
 public:
  const char* Name() const override { return "diff"; }
  const char* Description() const override {
    return "Compare two setups: every parameter, option and identity field that differs, in "
           "units, grouped as the dialogs show them. Exit 0 when they are the same, 1 when "
           "they differ, 2 on bad input (as diff(1))";
  }
  void Define(CLI::App& cmd) override {
    cmd.add_option("A", a_path_, "The first setup file")->required()->check(FileName());
    cmd.add_option("B", b_path_, "The second setup file")->required()->check(FileName());
    cmd.add_flag("--json", json_, "Print the differences as JSON");
  }

  int Execute(const CLI::App&) override {
    SetupSession a(a_path_), b(b_path_), layout(a_path_);
    const std::vector<Group> groups = Compare(a.Setup(), b.Setup(), layout.Setup());
    std::size_t count = 0;
    for (const Group& g : groups) count += g.entries.size();
    if (json_)
      PrintJson(groups, count);
    else
      PrintText(groups, count);
    return count == 0 ? 0 : 1;
  }

 private:
  std::vector<Group> Compare(CZel_Setup& a, CZel_Setup& b, CZel_Setup& layout) const {
    const std::map<std::string, Place> places = PlacesOfParameters(layout);
    std::vector<Group> groups;
    int order = 0;
    auto add = [&](const Place& place, Difference d) {
      d.order = place.rank >= kAfterDialogs ? ++order : place.order;
      for (Group& g : groups) {
        if (g.dialog == place.dialog && g.group == place.group) {
          g.entries.push_back(std::move(d));
          return;
        }
      }
      groups.push_back({place.dialog, place.group, place.rank, {std::move(d)}});
    };
    auto place_of = [&places](const CZel_Parameter& p) {
      auto found = places.find(zel::FoldName(p.GetName()));
      if (found != places.end()) return found->second;
      const Section& kind = p.GetType() == ZelStorageType::Double ? kOtherGroup : kChipGroup;
      return Place{kind.name, "", p.GetName(), kind.rank};
    };
    auto compare_parameter = [&](const CZel_Parameter* pa, const CZel_Parameter* pb) {
      const CZel_Parameter& any = pa ? *pa : *pb;
      // Both sides in the unit the first shows, so that the numbers compare.
      const CZel_Unit& unit = any.GetSelectedUnit();
      Difference d{any.GetName(), "", unit.GetName(), {}, {}};
      if (pa) d.a = ShownValue(a, *pa, unit);
      if (pb) d.b = ShownValue(b, *pb, unit);
      if (d.a.text == d.b.text) return;
      const Place place = place_of(any);
      d.caption = place.caption == d.name ? "" : place.caption;
      add(place, std::move(d));
    };
    const CZel_Parameters& pa = a.GetParameters();
    for (int i = 0; i < pa.GetParametersCount(); ++i) {
      ZelQuietErrors quiet;
      compare_parameter(pa[i], b.FindParameter(pa[i]->GetName()));
    }
    const CZel_Parameters& pb = b.GetParameters();
    for (int i = 0; i < pb.GetParametersCount(); ++i) {
      ZelQuietErrors quiet;
      if (!a.FindParameter(pb[i]->GetName())) compare_parameter(nullptr, pb[i]);
    }
    auto compare_text = [&add](const Section& section, const std::string& name,
                               std::optional<std::string> ta, std::optional<std::string> tb) {
      if (ta != tb)
        add({section.name, "", name, section.rank}, {name, "", "", {ta, {}, {}}, {tb, {}, {}}});
    };
    auto option_of = [](const CZel_Setup& s,
                        const std::string& name) -> std::optional<std::string> {
      if (!s.HasOption(name)) return std::nullopt;
      return s.GetOptionNoError(name);
    };
    for (const auto& [name, text] : a.GetOptions())
      compare_text(kOptionsGroup, name, text, option_of(b, name));
    for (const auto& [name, text] : b.GetOptions())
      if (!a.HasOption(name)) compare_text(kOptionsGroup, name, std::nullopt, text);
    const ZelIdentity &ia = a.GetIdentity(), &ib = b.GetIdentity();
    const std::pair<const char*, std::string ZelIdentity::*> fields[] = {
        {"description", &ZelIdentity::description},
        {"product ID", &ZelIdentity::product_id},
        {"firmware ID", &ZelIdentity::firmware_id},
        {"application ID", &ZelIdentity::application_id},
    };
    for (const auto& [name, field] : fields)
      compare_text(kIdentityGroup, name, ia.*field, ib.*field);
    compare_text(kIdentityGroup, "E2ROM size", std::to_string(ia.e2rom_size_words) + " words",
                 std::to_string(ib.e2rom_size_words) + " words");
    std::stable_sort(groups.begin(), groups.end(),
                     [](const Group& x, const Group& y) { return x.rank < y.rank; });
    for (Group& g : groups)
      std::stable_sort(g.entries.begin(), g.entries.end(),
                       [](const Difference& x, const Difference& y) { return x.order < y.order; });
    return groups;
  }

  static std::string Heading(const Group& g) {
    return g.group.empty() ? g.dialog : g.dialog + " / " + g.group;
  }

  void PrintText(const std::vector<Group>& groups, std::size_t count) const {
    auto side = [](const Side& s, const std::string& unit) {
      if (!s.text) return std::string("(absent)");
      if (!s.number) return "\"" + *s.text + "\"";
      return *s.text + (unit.empty() ? "" : " " + unit) +
             (s.code.empty() ? "" : " (" + s.code + ")");
    };
    auto name_of = [](const Difference& d) {
      return d.caption.empty() ? d.name : d.name + " (" + d.caption + ")";
    };
    // Columns as wide as their widest entry, so that A and B read straight down.
    std::size_t name_width = 0, a_width = 0;
    for (const Group& g : groups) {
      for (const Difference& d : g.entries) {
        name_width = std::max(name_width, name_of(d).size());
        a_width = std::max(a_width, side(d.a, d.unit).size());
      }
    }
    auto pad = [](std::string text, std::size_t width) {
      return text + std::string(width + 2 - text.size(), ' ');
    };
    std::printf("%s\n", ZelEscapeText("A: " + a_path_ + "\nB: " + b_path_).c_str());
    for (const Group& g : groups) {
      std::printf("\n%s\n", ZelEscapeText(Heading(g)).c_str());
      for (const Difference& d : g.entries) {
        const std::string line =
            pad(name_of(d), name_width) + pad(side(d.a, d.unit), a_width) + side(d.b, d.unit);
        std::printf("  %s\n", ZelEscapeText(line).c_str());
      }
    }
    std::printf(
        "\n%s\n",
        count == 0
            ? "The setups are the same."
            : (std::to_string(count) + (count == 1 ? " difference." : " differences.")).c_str());
  }

  void PrintJson(const std::vector<Group>& groups, std::size_t count) const {
    auto side = [](const Side& s) -> nlohmann::ordered_json {
      if (s.number) return *s.number;
      if (s.text) return *s.text;
      return nullptr;
    };
    nlohmann::ordered_json out{{"a", a_path_},
                               {"b", b_path_},
                               {"differences", count},
                               {"groups", nlohmann::ordered_json::array()}};
    for (const Group& g : groups) {
      nlohmann::ordered_json entries = nlohmann::ordered_json::array();
      for (const Difference& d : g.entries) {
        nlohmann::ordered_json e{{"name", d.name}, {"a", side(d.a)}, {"b", side(d.b)}};
        if (!d.caption.empty()) e["caption"] = d.caption;
        if (!d.unit.empty()) e["unit"] = d.unit;
        if (!d.a.code.empty()) e["a_code"] = d.a.code;
        if (!d.b.code.empty()) e["b_code"] = d.b.code;
        entries.push_back(std::move(e));
      }
      out["groups"].push_back({{"dialog", g.dialog}, {"group", g.group}, {"entries", entries}});
    }
    std::printf("%s\n",
                out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
  }

  std::string a_path_, b_path_;
  bool json_ = false;
};

}  // namespace

std::unique_ptr<Command> MakeDiffCommand() { return std::make_unique<DiffCommand>(); }
