// The admin listener's JSON and CSV answers: the period a request asks for, and the report, versions,
// rejected samples or one CSV table over it. Called by AdminServer on the HTTP library's threads, one at a
// time for a given reader.
#include "admin/admin_api.h"

#include "report/csv.h"
#include "report/html_report.h"
#include "report/report.h"
#include "text/days.h"

#include <microhttpd.h>

#include <algorithm>

namespace zncip::collector
{
namespace
{

constexpr int kDefaultSamples = 5;
constexpr int kMaxSamples = 50;
const char kJson[] = "application/json";
const char kCsv[] = "text/csv; charset=utf-8";

// The period a request asks for; false when a date is not one.
bool periodOf(const QueryArgument& argument, Period& p)
{
    int32_t day = 0;
    for (const auto& [name, target] : {std::pair{"from", &p.from}, std::pair{"to", &p.to}})
    {
        const std::string_view text = argument(name);
        if (text.empty())
            continue;
        if (!parseDay(std::string(text), day))
            return false;
        *target = day;
    }
    if (const std::string_view v = argument("version"); !v.empty())
        p.version = std::string(v);
    return true;
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

AdminAnswer answerApi(const HitReader& store, const std::string& name, const QueryArgument& argument)
{
    Period period;
    if (!periodOf(argument, period))
        return plainAnswer(MHD_HTTP_BAD_REQUEST, "from and to are days as YYYY-MM-DD\n");
    if (name == "versions")
        return {MHD_HTTP_OK, kJson, versionsJson(store.versions()), {}};
    if (name == "rejected")
    {
        const int limit = sampleLimit(argument("limit"));
        if (limit < 0)
            return plainAnswer(MHD_HTTP_BAD_REQUEST, "limit is a number up to 50\n");
        return {MHD_HTTP_OK, kJson, samplesJson(store.rejectedSamples(period, limit)), {}};
    }
    const Report report = buildReport(store.rollups(period), period);
    if (name == "report")
        return {MHD_HTTP_OK, kJson, reportJson(report), {}};
    if (name.rfind("csv/", 0) == 0)
    {
        const std::string table = name.substr(4);
        if (auto csv = reportCsv(report, table))
            return {MHD_HTTP_OK,
                    kCsv,
                    std::move(*csv),
                    {{"Content-Disposition", "attachment; filename=\"" + table + ".csv\""}}};
    }
    return plainAnswer(MHD_HTTP_NOT_FOUND, "no such table or API\n");
}

} // namespace zncip::collector
