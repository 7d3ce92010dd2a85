#include "drivetests/commissioning_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "drivetests/commissioning_report_markup.h"
#include "host/zel_units.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

}  // namespace

namespace report_markup {
namespace {

bool Differs(const ordered_json& a, const ordered_json& b) {
  if (!a.is_number() || !b.is_number()) return a != b;
  const double x = a.get<double>(), y = b.get<double>();
  return std::abs(x - y) > 1e-6 * std::max({1e-12, std::abs(x), std::abs(y)});
}

// A value with its unit, as a cell of the comparison shows it.
std::string WithUnit(const ordered_json& value, const ordered_json& unit,
                     const ordered_json& resolution = nullptr) {
  if (!value.is_number()) return "&ndash;";
  const std::string u = Text(unit);
  return Shown(value, resolution) + (u.empty() ? "" : " " + Escape(u));
}

// A parameter's value after a run, from its record: the whole table where the record has one,
// else what the run changed or showed. Null when the record does not tell.
struct RecordedValue {
  ordered_json value, unit, meaning, resolution;
};

// The values that one record tells, found by name without a search: a record read back from
// disk may hold any number of them. Where a name appears twice, the first tells.
class RecordedValues {
 public:
  explicit RecordedValues(const ordered_json& report) {
    IndexTable(Field(report, "parameters"), parameters_);
    const ordered_json& changes = Field(report, "changes");
    if (changes.is_array()) {
      for (const ordered_json& c : changes) {
        if (const ordered_json& name = Field(c, "name"); name.is_string())
          changes_.emplace(name.get<std::string>(), &c);
      }
    }
    IndexTable(Field(report, "values"), values_);
  }
  RecordedValue After(const std::string& name) const {
    if (const ordered_json* p = Find(parameters_, name); p && p->is_object())
      return {Field(*p, "value"), Field(*p, "unit"), Field(*p, "meaning"),
              Field(*p, "resolution")};
    if (const ordered_json* c = Find(changes_, name))
      return {Field(*c, "after"), Field(*c, "unit"), Field(*c, "meaning"),
              Field(*c, "resolution")};
    const ordered_json* v = Find(values_, name);
    if (!v) return {};
    return {Field(*v, "value"), Field(*v, "unit"), Field(*v, "meaning"),
              Field(*v, "resolution")};
  }

 private:
  using Index = std::unordered_map<std::string, const ordered_json*>;
  static void IndexTable(const ordered_json& table, Index& index) {
    if (!table.is_object()) return;
    for (auto it = table.begin(); it != table.end(); ++it) index.emplace(it.key(), &*it);
  }
  static const ordered_json* Find(const Index& index, const std::string& name) {
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
  }
  Index parameters_, changes_, values_;
};

// The names to compare: what either run changed, then whatever else ends differently.
std::vector<std::string> ComparedNames(const ordered_json& now, const ordered_json& before) {
  const RecordedValues after_now(now), after_before(before);
  std::vector<std::string> names;
  std::unordered_set<std::string> listed;
  auto add = [&names, &listed](const std::string& name) {
    if (listed.insert(name).second) names.push_back(name);
  };
  for (const ordered_json* report : {&now, &before}) {
    const ordered_json& changes = Field(*report, "changes");
    if (!changes.is_array()) continue;
    for (const ordered_json& c : changes) {
      if (Field(c, "name").is_string()) add(Field(c, "name").get<std::string>());
    }
  }
  for (const ordered_json* report : {&now, &before}) {
    for (const char* table : {"values", "parameters"}) {
      const ordered_json& all = Field(*report, table);
      if (!all.is_object()) continue;
      for (auto it = all.begin(); it != all.end(); ++it) {
        const RecordedValue a = after_before.After(it.key()), b = after_now.After(it.key());
        // A record of an earlier version tells only some values: no guess for the others.
        if (a.value.is_null() || b.value.is_null()) continue;
        if (a.unit != b.unit || Differs(a.value, b.value)) add(it.key());
      }
    }
  }
  return names;
}

void WriteParameterComparison(std::ostringstream& h, const ordered_json& now,
                              const ordered_json& before) {
  h << "<h2>Parameters</h2>\n";
  const std::vector<std::string> names = ComparedNames(now, before);
  const RecordedValues after_now(now), after_before(before);
  if (names.empty()) {
    h << "<p>Neither run changed a parameter, and both ended with the same values.</p>\n";
    return;
  }
  h << "<table><tr><th>Parameter</th><th>Before</th><th>Now</th><th>Meaning</th></tr>\n";
  for (const std::string& name : names) {
    const RecordedValue a = after_before.After(name), b = after_now.After(name);
    const bool changed = a.unit != b.unit || Differs(a.value, b.value);
    const ordered_json& meaning = b.meaning.is_string() ? b.meaning : a.meaning;
    h << "<tr" << (changed ? " class=\"changed\"" : "") << "><td>" << Escape(name) << "</td><td>"
      << WithUnit(a.value, a.unit, a.resolution) << "</td><td>"
      << WithUnit(b.value, b.unit, b.resolution) << "</td><td>"
      << Escape(Text(meaning)) << "</td></tr>\n";
  }
  h << "</table>\n";
}

// Every figure that a step's record gives, as (what, value with its unit, as markup): the
// step's figures and tracking, measured and predicted, what its log identified and each
// target's figure.
using StepFigureList = std::vector<std::pair<std::string, std::string>>;

StepFigureList FiguresOf(const ordered_json& step) {
  StepFigureList out;
  auto add = [&out](std::string what, const ordered_json& value, std::string unit, double scale) {
    if (!value.is_number()) return;
    out.emplace_back(std::move(what), Number(value.get<double>() * scale) +
                                          (unit.empty() ? "" : " " + Escape(unit)));
  };
  const ordered_json figures = StepResponseOf(step);
  const ordered_json tracking = TrackingOf(step);
  for (const char* side : {"measured", "predicted"}) {
    for (const FigureRow& r : kFigureRows)
      add(std::string(r.title) + ", " + side, Field(Field(figures, side), r.key), r.unit, r.scale);
    for (const TrackingRow& r : kTrackingRows)
      add(std::string(r.title) + ", " + side, Field(Field(tracking, side), r.key),
          r.unit ? r.unit : Text(Field(tracking, "unit")), r.scale);
  }
  const ordered_json& identified = Field(step, "identified");
  if (identified.is_object()) {
    for (const auto& [name, v] : identified.items())
      add("Identified " + name, Field(v, "value"), Text(Field(v, "unit")), 1.0);
  }
  const ordered_json& targets = Field(step, "targets");
  if (targets.is_array()) {
    for (const ordered_json& t : targets) {
      if (Field(t, "measured").is_string())
        out.emplace_back("Target: " + Text(Field(t, "figure")), Escape(Text(Field(t, "measured"))));
    }
  }
  return out;
}

const ordered_json* FindStep(const ordered_json& report, const std::string& word) {
  const ordered_json& steps = Field(report, "steps");
  if (!steps.is_array()) return nullptr;
  for (const ordered_json& s : steps) {
    if (Field(s, "step") == word) return &s;
  }
  return nullptr;
}

std::string VerdictOf(const ordered_json* step) {
  return step ? VerdictCell(Field(*step, "verdict")) : "<td>not run</td>";
}

// The earlier step with its tracking errors in the unit of the step now, where the two runs
// give them in units of one kind (rad/s before, rpm now): figures compare as numbers, not as
// units. Units of different kinds, or unknown ones, stay as they are, each with its value.
ordered_json TrackingInUnitOf(const ordered_json& before, const ordered_json& now) {
  const std::string from = Text(Field(TrackingOf(before), "unit"));
  const std::string to = Text(Field(TrackingOf(now), "unit"));
  const CZel_Unit* a = ZelUnitTable().FindUnit(from);
  const CZel_Unit* b = a ? ZelUnitTable().FindUnitOfType(to, a->GetUnitType()) : nullptr;
  if (from == to || !b) return before;
  ordered_json converted = before;
  converted["tracking"] = TrackingOf(before);
  ordered_json& tracking = converted["tracking"];
  tracking["unit"] = to;
  for (const char* side : {"measured", "predicted"}) {
    if (!tracking[side].is_object()) continue;
    for (const char* key : {"rms_error", "peak_error", "deviation_from_prediction_rms"}) {
      if (tracking[side].contains(key) && tracking[side][key].is_number())
        tracking[side][key] = b->FromBase(a->ToBase(tracking[side][key].get<double>()));
    }
  }
  return converted;
}

// One step of either run: its verdict, then every figure that either run gives for it.
void WriteStepComparison(std::ostringstream& h, const ordered_json* now, const ordered_json* before) {
  const ordered_json& any = now ? *now : *before;
  h << "<h2>" << Escape(Text(Field(any, "title"))) << "</h2>\n<table><tr><th>Figure</th>"
    << "<th>Before</th><th>Now</th></tr>\n<tr><td>Verdict</td>" << VerdictOf(before)
    << VerdictOf(now) << "</tr>\n";
  const StepFigureList a =
      before ? FiguresOf(now ? TrackingInUnitOf(*before, *now) : *before) : StepFigureList{};
  const StepFigureList b = now ? FiguresOf(*now) : StepFigureList{};
  // A step read back from disk may name any number of figures.
  std::unordered_map<std::string, std::string> before_values, now_values;
  for (const auto& [w, v] : a) before_values.emplace(w, v);
  for (const auto& [w, v] : b) now_values.emplace(w, v);
  auto value_in = [](const std::unordered_map<std::string, std::string>& values,
                     const std::string& what) -> std::string {
    const auto it = values.find(what);
    return it == values.end() ? "&ndash;" : it->second;
  };
  std::vector<std::string> rows;
  std::unordered_set<std::string> listed;
  for (const StepFigureList* list : {&b, &a}) {
    for (const auto& [what, v] : *list) {
      if (listed.insert(what).second) rows.push_back(what);
    }
  }
  for (const std::string& what : rows) {
    const std::string x = value_in(before_values, what), y = value_in(now_values, what);
    h << "<tr" << (x != y ? " class=\"changed\"" : "") << "><td>" << Escape(what) << "</td><td>" << x
      << "</td><td>" << y << "</td></tr>\n";
  }
  h << "</table>\n";
}


}  // namespace
}  // namespace report_markup

std::string ComparisonReportHtml(const ordered_json& now, const ordered_json& before) {
  using namespace report_markup;
  std::ostringstream h;
  h << PageStart("Two commissionings compared: " +
                 Text(Field(Field(now, "drive"), "description")));
  auto row = [&h](const char* what, const char* group, const char* key, const ordered_json& a,
                  const ordered_json& b) {
    h << "<tr><td>" << what << "</td><td>" << Escape(Text(Field(Field(a, group), key)))
      << "</td><td>" << Escape(Text(Field(Field(b, group), key))) << "</td></tr>";
  };
  h << "<table><tr><th></th><th>Before</th><th>Now</th></tr>";
  row("Setup", "drive", "source", before, now);
  row("Commissioned (UTC)", "record", "time_utc", before, now);
  row("Operator", "record", "operator", before, now);
  h << "<tr><td>Verdict</td>" << VerdictCell(Field(before, "verdict"))
    << VerdictCell(Field(now, "verdict")) << "</tr></table>\n";
  WriteParameterComparison(h, now, before);
  const ordered_json& steps = Field(now, "steps");
  if (steps.is_array()) {
    for (const ordered_json& s : steps)
      WriteStepComparison(h, &s, FindStep(before, Text(Field(s, "step"))));
  }
  const ordered_json& earlier_steps = Field(before, "steps");
  if (earlier_steps.is_array()) {
    for (const ordered_json& s : earlier_steps) {
      if (!FindStep(now, Text(Field(s, "step")))) WriteStepComparison(h, nullptr, &s);
    }
  }
  h << "</body></html>\n";
  return WithTableHeads(h.str());
}

}  // namespace dcservo
