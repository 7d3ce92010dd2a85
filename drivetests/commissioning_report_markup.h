#pragma once
// What the record's page (commissioning_report_html.cpp) and the comparison of two records
// (commissioning_compare.cpp) draw alike: a record's members read safely, values shown by the
// display rule, verdict cells, the figures' rows and the page's frame.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/zel_report_document.h"

namespace dcservo::report_markup {

using nlohmann::ordered_json;

std::string Escape(const std::string& text);
const ordered_json& Field(const ordered_json& j, const char* key);
std::string Number(const ordered_json& v);
std::string Text(const ordered_json& v);
std::string Shown(const ordered_json& value, const ordered_json& resolution);
std::string VerdictCell(const ordered_json& verdict);
ordered_json TrackingOf(const ordered_json& step);
ordered_json StepResponseOf(const ordered_json& step);
// The typeface and the cells' edge of the page. Its style writes them for a browser; a
// printer, which applies them to the whole document at less cost than reading them off each
// element, is handed them as data (`kApart`) beside a style that leaves them out. The body's
// ink stays in the style: a printer draws text of no ink with a pen of another width.
inline constexpr char kPageTypeface[] = "sans-serif";
inline constexpr ZelCellEdge kPageCellEdge{1.0, 0xBBBBBB};
enum class PrintStyle { kInStyle, kApart };
std::string PageStart(const std::string& title, PrintStyle print_style = PrintStyle::kInStyle);
std::string WithTableHeads(std::string html);
// The record's page (see CommissioningReportHtml), its print style in its style or apart.
std::string RecordPage(const ordered_json& report, const std::vector<std::string>& svgs,
                       const std::vector<std::string>& notch_svgs, PrintStyle print_style);

// One figure's row: name, measured and predicted in the shown unit.
struct FigureRow {
  const char* key;
  const char* title;
  double scale;
  const char* unit;
};
constexpr FigureRow kFigureRows[] = {
    {"rise_time_s", "Rise time (10-90 %)", 1e3, "ms"},
    {"overshoot_pct", "Overshoot", 1.0, "%"},
    {"settling_time_s", "Settling time (2 %)", 1e3, "ms"},
    // Only the current test measures a step.
    {"steady_state_error", "Steady-state error", 1.0, "A"},
};

// The tracking figures of a run that follows a profile, in the unit of its errors.
struct TrackingRow {
  const char* key;
  const char* title;
  double scale;
  const char* unit;  // null: the run's own
};
constexpr TrackingRow kTrackingRows[] = {
    {"rms_error", "Tracking error (RMS)", 1.0, nullptr},
    {"peak_error", "Tracking error (peak)", 1.0, nullptr},
    {"overshoot_pct", "Overshoot", 1.0, "%"},
    {"settling_time_s", "Settling time after the ramp", 1e3, "ms"},
};

}  // namespace dcservo::report_markup
