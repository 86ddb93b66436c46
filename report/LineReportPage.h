// The line report as one page: CSS and SVG charts inline, nothing fetched, so it shows the same
// opened from a mail, a share or paper.
#pragma once

#include <string>

#include "report/LineReport.h"

std::string LineReportPage(const LineReport& report);

// Text safe inside HTML elements and attribute values.
std::string HtmlEscaped(const std::string& text);
