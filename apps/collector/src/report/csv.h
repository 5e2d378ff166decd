// The report's tables as CSV files: what the admin API's downloads and the self-contained page's
// downloads both give.
#pragma once

#include "report/report.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zncip::collector
{

// One table of a report as CSV (RFC 4180, CRLF line ends, a header line): a table of values by the name
// it has in the JSON report (commands, operating_systems, ...), its top list (top_commands, ...), or
// applications, days, versions, rejections, active_clients, version_adoption, release_health or memory_gib.
// Empty when there is no such table. A cell that a spreadsheet would read as a formula (=, +, -, @, a tab
// or a carriage return first) gets a leading apostrophe, so that what a client sent cannot run in the
// reader's spreadsheet.
std::optional<std::string> reportCsv(const Report& report, std::string_view table);

// The names reportCsv knows, the tables of values first in the report's order.
std::vector<std::string_view> csvTableNames();

} // namespace zncip::collector
