// `commission --compare DIR` reads the report.json of an earlier record, which anyone may have
// edited or replaced: any text is refused naming the file or compared, in time and stack
// that its size bounds; a report compares with itself.

#include "drivetests/commissioning_report.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const nlohmann::ordered_json earlier =
      dcservo::ParseCommissioningReport(fuzz::AsText(data, size), "E/report.json", error);
  if (!error.empty()) {
    if (error.rfind("E/report.json: ", 0) != 0) fuzz::Fail("a refusal does not name the file");
    return 0;
  }
  if (dcservo::ComparisonReportHtml(earlier, earlier).empty()) fuzz::Fail("no comparison");
  return 0;
}
