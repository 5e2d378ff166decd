// The admin listener's JSON and CSV answers: the period a request asks for, and the report, versions,
// rejected samples or one CSV table over it. Called by AdminServer on the HTTP library's threads, one at a
// time for a given reader.
#include "admin/admin_api.h"

#include "report/csv.h"
#include "report/html_report.h"
#include "report/report.h"
#include "text/days.h"
#include "text/utf8.h"

#include <microhttpd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <optional>

namespace zncip::collector
{
namespace
{

constexpr int kDefaultSamples = 5;
constexpr int kMaxSamples = 50;
constexpr size_t kMaxQuoted = 40; // of a client's text in an error or a file name
const char kJson[] = "application/json";
const char kCsv[] = "text/csv; charset=utf-8";

// The period a request asks for; on a date that is not one, or a period that ends before it begins, the
// sentence that tells the person which field to change (the page shows it as it is).
std::optional<std::string> periodOf(const QueryArgument& argument, Period& p)
{
    int32_t day = 0;
    for (const auto& [name, target] : {std::pair{"from", &p.from}, std::pair{"to", &p.to}})
    {
        const std::string_view text = argument(name);
        if (text.empty())
            continue;
        if (!parseDay(std::string(text), day))
            return std::string(name) + ": \"" + printableText(text.substr(0, kMaxQuoted)) +
                   "\" is not a day; write it as YYYY-MM-DD\n";
        *target = day;
    }
    if (p.from > p.to)
        return "from: " + formatDay(p.from) + " is after to (" + formatDay(p.to) +
               "); the period would hold no day\n";
    if (const std::string_view v = argument("version"); !v.empty())
        p.version = std::string(v);
    return std::nullopt;
}

// The name a download is saved under: the table and the filter, so that the files of different
// periods or versions do not overwrite each other. Only characters that every file system takes.
std::string downloadName(const std::string& table, const Period& p)
{
    std::string name = table;
    if (p.from != Period{}.from)
        name += "_from-" + formatDay(p.from);
    if (p.to != Period{}.to)
        name += "_to-" + formatDay(p.to);
    if (p.version)
    {
        name += "_version-";
        for (const char c : p.version->substr(0, kMaxQuoted))
            name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    }
    return name + ".csv";
}

// The number of samples asked for; -1 when it is not a number.
int sampleLimit(std::string_view n)
{
    if (n.empty())
        return kDefaultSamples;
    if (n.size() > 2 || n.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    return std::min(std::stoi(std::string(n)), kMaxSamples);
}

} // namespace

AdminAnswer plainAnswer(unsigned status, std::string body)
{
    return {status, "text/plain; charset=utf-8", std::move(body), {}};
}

AdminAnswer answerApi(const HitReader& store, ReportCache& reports, const std::string& name,
                      const QueryArgument& argument, bool gzip)
{
    Period period;
    if (auto wrong = periodOf(argument, period))
        return plainAnswer(MHD_HTTP_BAD_REQUEST, std::move(*wrong));
    if (name == "versions")
        return {MHD_HTTP_OK, kJson, versionsJson(store.versions()), {}};
    if (name == "rejected")
    {
        const int limit = sampleLimit(argument("limit"));
        if (limit < 0)
            return plainAnswer(MHD_HTTP_BAD_REQUEST, "limit is a number up to 50\n");
        return {MHD_HTTP_OK, kJson, samplesJson(store.rejectedSamples(period, limit)), {}};
    }
    const std::shared_ptr<ReportCache::Built> built = reports.reportOf(store, period);
    if (name == "report")
    {
        AdminAnswer a{MHD_HTTP_OK, kJson, gzip ? built->gzipJson() : built->json(), {}};
        a.headers = {{MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING}};
        if (gzip)
            a.headers.emplace_back(MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
        return a;
    }
    if (name.rfind("csv/", 0) == 0)
    {
        const std::string table = name.substr(4);
        if (auto csv = reportCsv(built->report, table))
            return {MHD_HTTP_OK,
                    kCsv,
                    std::move(*csv),
                    {{"Content-Disposition", "attachment; filename=\"" + downloadName(table, period) + "\""}}};
    }
    return plainAnswer(MHD_HTTP_NOT_FOUND, "no such table or API\n");
}

std::string withStoredDays(std::string status, const HitReader& store)
{
    Period none; // past any stored day: only the bounds are read
    none.from = none.to = INT32_MAX;
    const Rollups bounds = store.rollups(none);
    auto day = [](const std::optional<int32_t>& d)
    { return d ? "\"" + formatDay(*d) + "\"" : std::string("null"); };
    const size_t end = status.rfind('}');
    if (end == std::string::npos)
        throw StoreError("the status is not a JSON object");
    const bool first = status.find_first_not_of(" \n\t", status.find('{') + 1) == end;
    status.insert(end, std::string(first ? "" : ",") + "\"first_day\":" + day(bounds.firstDay) +
                           ",\"last_day\":" + day(bounds.lastDay));
    return status;
}

} // namespace zncip::collector
