// The admin listener's JSON and CSV answers over the stored rollups, apart from HTTP and from who may ask.
// AdminServer calls answerApi on the HTTP library's threads, after the caller was let in, with a reader
// that no other thread uses meanwhile (an SQLite reader serves one thread at a time).
#pragma once

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
// A date that is not one, or from after to, is answered 400 with a sentence that names the field.
AdminAnswer answerApi(const HitReader& store, const std::string& name, const QueryArgument& argument);

} // namespace zncip::collector
