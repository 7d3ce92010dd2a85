#pragma once
// The record of a commissioning: report.json for scripts, report.html, one page with nothing
// outside it (plots inline as SVG) that a customer can be handed, and report.pdf, the same
// page printed on A4. They say the same; the page is drawn from the JSON and the plots. Two
// reports side by side show what changed between two commissionings of the same axis.

#include <functional>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "design/drive_model.h"
#include "drivetests/commissioning.h"
#include "drivetests/drive_test_json.h"
#include "host/zel_comm.h"
#include "host/zel_report_document.h"

namespace dcservo {

struct ReportFiles {
  std::string setup;              // the commissioned setup, relative to the report; empty
                                  // when none was saved (the run failed)
  std::vector<std::string> csv;   // the logged run of each step that ran, in order
  std::string source;             // the setup the run started from
  std::string operator_name;      // who commissioned the drive; may be empty
  std::string note;               // why, or anything the engineer files with the record
  std::string shaft_notices;      // who answered the notices that block and free the shaft
  // The drive the steps ran on; none: no drive was attached. WriteCommissioningRecord takes
  // the attached one's where this is not given.
  std::optional<ZelDriveDescription> drive;
  // The motor database's motor whose data the setup holds; empty: none of them.
  std::string motor;
  // Over a link: how long the drive's programs ran, and the run on the wall clock; none in
  // this process, whose clock is the run's own.
  struct LinkTimes {
    double programs_s = 0.0, wall_s = 0.0;
  };
  std::optional<LinkTimes> link_times;
};

// The name of the motor of the database whose data `setup` holds, empty when none does.
std::string MotorOfSetup(const CZel_Setup& setup);

nlohmann::ordered_json CommissioningReportJson(const CommissioningResult& result,
                                               const CZel_Setup& setup,
                                               const ReportFiles& files);
// `svgs` holds the plot of each step in the report's order, `notch_svgs` the plot of each
// step's notch (empty where the step placed none).
std::string CommissioningReportHtml(const nlohmann::ordered_json& report,
                                    const std::vector<std::string>& svgs,
                                    const std::vector<std::string>& notch_svgs = {});
// Two reports (as CommissioningReportJson makes them, or an earlier version did) side by side:
// every parameter that either run changed or that they ended with differently, and each
// step of either run with every figure that either gives; the differences marked.
std::string ComparisonReportHtml(const nlohmann::ordered_json& now,
                                 const nlohmann::ordered_json& before);

// Draws a report as an A4 PDF: empty with its bytes in `pdf`, else why it could not (the
// toolkit that draws it is not there).
using ReportPrinter =
    std::function<std::string(const ZelReportDocument& report, std::string& pdf)>;

// The record in `dir` (created if missing): report.json, report.html, report.pdf (drawn by
// `printer`; when there is none or it fails, the record says why among its warnings), a CSV
// per step that logged a run, setup.json when every step succeeded and, with `earlier` (a
// report.json), compare.html. The folder is built aside and swapped in whole, so it never
// holds files of two runs; a folder that holds other files is refused. Empty on success,
// else why not.
struct RecordPaths {
  std::string html, pdf, compare;  // empty: not written
};
// `record` names the source, the operator and the note; its file names are the record's own.
std::string WriteCommissioningRecord(const CommissioningResult& result, const CZel_Setup& setup,
                                     const std::string& dir, const ReportFiles& record,
                                     const nlohmann::ordered_json& earlier,
                                     const ReportPrinter& printer, RecordPaths& paths);
// Empty when `dir` is new, empty or a record, else why a record cannot be written there.
std::string CheckRecordFolder(const std::string& dir);
// The commissioned setup's file in the record `dir`.
std::string RecordSetupPath(const std::string& dir);
// The report.json of an earlier record in `dir`; empty with `error` set when there is none.
nlohmann::ordered_json ReadCommissioningReport(const std::string& dir, std::string& error);
// The same from the text of a report.json read from `path`.
nlohmann::ordered_json ParseCommissioningReport(std::string_view text, const std::string& path,
                                                std::string& error);

}  // namespace dcservo
