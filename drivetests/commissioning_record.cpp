#include "drivetests/commissioning_report.h"

#include <filesystem>

#include "drivetests/commissioning_report_markup.h"
#include "host/zel_file.h"
#include "host/zel_json_parse.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

constexpr char kSetupFile[] = "setup.json";
constexpr char kHtmlFile[] = "report.html";
constexpr char kJsonFile[] = "report.json";
constexpr char kCompareFile[] = "compare.html";
constexpr char kPdfFile[] = "report.pdf";

// What a record folder may hold: its own files, and the temporaries of a save killed in it.
bool IsRecordFile(std::string_view name) {
  if (name == kSetupFile || name == kHtmlFile || name == kJsonFile || name == kCompareFile ||
      name == kPdfFile)
    return true;
  for (const CommissioningStep& s : CommissioningSteps()) {
    if (name == std::string(s.word) + ".csv") return true;
  }
  return name.starts_with(".") && name.find(".tmp-") != std::string_view::npos;
}


}  // namespace

std::string CheckRecordFolder(const std::string& dir) {
  return ZelCheckReplaceableFolder(dir, IsRecordFile);
}

namespace {

// The page as a toolkit prints it: each plot at its placeholder, drawn from its scene.
ZelReportDocument PrintableReport(const ordered_json& report, const CommissioningResult& result) {
  ZelReportDocument document;
  document.title = "Commissioning report: " + report_markup::Text(report["drive"]["description"]);
  // Each plot where the page has it: a placeholder that the printer draws its scene at.
  auto place = [&document](const std::string& svg, const ZelPlotScene& scene) {
    if (svg.empty()) return std::string();
    std::string placeholder = ZelPlotPlaceholder(document.plots.size());
    document.plots.push_back(scene);
    return placeholder;
  };
  std::vector<std::string> placeholders, notch_placeholders;
  for (const StepOutcome& s : result.steps) {
    placeholders.push_back(place(s.svg, s.plot));
    notch_placeholders.push_back(s.notch ? place(s.notch->svg, s.notch->plot) : std::string());
  }
  document.html = report_markup::RecordPage(report, placeholders, notch_placeholders,
                                            report_markup::PrintStyle::kApart);
  document.body_typeface = report_markup::kPageTypeface;
  document.cell_edge = report_markup::kPageCellEdge;
  return document;
}


}  // namespace

std::string WriteCommissioningRecord(const CommissioningResult& result, const CZel_Setup& setup,
                                     const std::string& dir_text, const ReportFiles& record,
                                     const ordered_json& earlier, const ReportPrinter& printer,
                                     RecordPaths& paths) {
  const std::filesystem::path dir(dir_text);
  std::vector<ZelFileBytes> files;
  ReportFiles names = record;
  if (!names.drive) {
    if (const CZel_DriveLink* link = CZel_Comm::GetLink()) names.drive = link->Describe();
  }
  if (names.motor.empty()) names.motor = MotorOfSetup(setup);
  // A run that failed saves no setup, as no command saves one after work that failed: the
  // record tells what failed, and the next run starts again from the setup it is given.
  names.setup = result.succeeded ? kSetupFile : "";
  names.csv.clear();
  std::vector<std::string> svgs, notch_svgs;
  for (const StepOutcome& s : result.steps) {
    notch_svgs.push_back(s.notch ? s.notch->svg : std::string());
    std::string csv;
    if (!s.csv.empty()) {
      csv = std::string(s.step->word) + ".csv";
      files.push_back({csv, s.csv});
    }
    names.csv.push_back(csv);
    svgs.push_back(s.svg);
  }
  if (result.succeeded) files.push_back({kSetupFile, result.setup_text});
  ordered_json report = CommissioningReportJson(result, setup, names);
  std::string pdf;
  const std::string no_pdf = printer ? printer(PrintableReport(report, result), pdf)
                                     : "this program has nothing to draw a PDF with";
  if (no_pdf.empty()) {
    paths.pdf = (dir / kPdfFile).string();
    files.push_back({kPdfFile, std::move(pdf)});
  } else {
    report["warnings"].push_back(std::string(kPdfFile) + " was not written: " + no_pdf);
  }
  files.push_back(
      {kJsonFile, report.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n"});
  paths.html = (dir / kHtmlFile).string();
  files.push_back({kHtmlFile, CommissioningReportHtml(report, svgs, notch_svgs)});
  if (!earlier.is_null()) {
    paths.compare = (dir / kCompareFile).string();
    files.push_back({kCompareFile, ComparisonReportHtml(report, earlier)});
  }
  // A record is one run's files: an earlier run's CSVs must not stay beside this report.
  return ZelReplaceFolder(dir_text, files, IsRecordFile);
}

std::string RecordSetupPath(const std::string& dir) {
  return (std::filesystem::path(dir) / kSetupFile).string();
}

ordered_json ReadCommissioningReport(const std::string& dir, std::string& error) {
  const std::string path = (std::filesystem::path(dir) / kJsonFile).string();
  std::string text;
  error = ZelReadFileLimited(path, kZelMaxInputFileBytes, text);
  if (!error.empty()) return {};
  return ParseCommissioningReport(text, path, error);
}

ordered_json ParseCommissioningReport(std::string_view text, const std::string& path,
                                      std::string& error) {
  error.clear();
  ordered_json report;
  if (std::string why = zel::ZelReadJson(text, report); !why.empty()) {
    error = path + ": not a commissioning report: " + why;
    return {};
  }
  if (!report.is_object() || !report["steps"].is_array() || !report["values"].is_object()) {
    error = path + ": not a commissioning report";
    return {};
  }
  return report;
}

}  // namespace dcservo
