#pragma once

#include "report/report.h"

#include <optional>
#include <string>
#include <string_view>

namespace zncip::collector
{

// One table of a report as CSV (RFC 4180, CRLF line ends, a header line): a table of values by the name
// it has in the JSON report (commands, operating_systems, ...), or applications, days, versions or rejections.
// Empty when there is no such table. A cell that a spreadsheet would read as a formula (=, +, -, @ first)
// gets a leading apostrophe, so that what a client sent cannot run in the reader's spreadsheet.
std::optional<std::string> reportCsv(const Report& report, std::string_view table);

} // namespace zncip::collector
