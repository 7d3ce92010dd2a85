#pragma once
// A report printed as Qt prints rich text: an A4 PDF of the report's page, each plot drawn
// as lines and text from its scene so that it stays sharp at any zoom.

#include <string>

struct ZelReportDocument;

// Needs a running Qt application (the on-screen one, or QtOffscreenPainter's). Empty with
// the bytes in `pdf`, else why not.
std::string DrawReportPdf(const ZelReportDocument& report, std::string& pdf);
