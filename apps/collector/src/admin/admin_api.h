// The admin listener's JSON and CSV answers over the stored rollups, apart from HTTP and from who may ask.
// AdminServer calls answerApi on the HTTP library's threads, after the caller was let in, with a reader
// that no other thread uses meanwhile (an SQLite reader serves one thread at a time).
#pragma once

#include "admin/report_cache.h"
#include "store/hit_store.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zncip::collector
{

// An answer of the admin listener, before it is put on the wire.
struct AdminAnswer
{
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string_view file{}; // one of the program's own files, sent from where it lies instead of body
};

AdminAnswer plainAnswer(unsigned status, std::string body);

// A query argument of the request by name; empty when absent.
using QueryArgument = std::function<std::string_view(const char* name)>;

// The answer to GET /api/NAME (NAME without the /api/ prefix): report, versions, rejected, csv/TABLE.
//   report?from=YYYY-MM-DD&to=YYYY-MM-DD&version=V   as `report --json`
//   versions                                         {"versions":["1.0",...]} of everything stored
//   rejected?from=&to=&limit=N                       {"samples":[{"received","reason","body"},...]}
//   csv/TABLE?from=&to=&version=                     one table of the report as CSV, saved under a name
//                                                    that holds the filter
// A date that is not one, or from after to, is answered 400 with a sentence that names the field. The
// report is the one reports kept when it still holds; its JSON is sent gzip-compressed when gzip is true.
AdminAnswer answerApi(const HitReader& store, ReportCache& reports, const std::string& name,
                      const QueryArgument& argument, bool gzip);

// The JSON object status (GET /api/status) with the first and last day of the stored data added:
// "first_day" and "last_day", YYYY-MM-DD in UTC, or null when nothing is stored. Reads the rollups' bounds.
std::string withStoredDays(std::string status, const HitReader& store);

} // namespace zncip::collector
