// The report as one JSON object, for programs and for the pages (which read its "tables" for the order
// and titles of its tables of values).
#include "report/report.h"

#include "report/report_tables.h"
#include "report/report_views.h"
#include "text/days.h"
#include "text/json.h"

#include <utility>

namespace zncip::collector
{

namespace
{

void appendSessions(std::string& out, const SessionCounts& s)
{
    out += "\"sessions_started\":" + std::to_string(s.started) + ",\"sessions_ended\":" +
           std::to_string(s.ended) + ",\"finished\":" + std::to_string(s.finished) +
           ",\"good\":" + std::to_string(s.good) + ",\"bad\":" + std::to_string(s.bad) +
           ",\"bad_with_crash_report\":" + std::to_string(s.badWithCrashReport) +
           ",\"bad_without_crash_report\":" + std::to_string(s.badWithoutCrashReport) + ",\"crash_free_rate\":";
    const auto rate = s.crashFreeRate();
    out += rate ? formatFraction(*rate) : "null";
}

void appendUsage(std::string& out, const Report::Usage& u)
{
    out += "\"hits\":" + std::to_string(u.hits) + ",\"clients\":" + std::to_string(u.clients);
}

// The most reported rows of a table, and the rest in one row whose value is null: "values" says how
// many it sums. Its distinct clients are null, as no sum of the rows' client counts tells them (a
// client may have sent many of those values).
void appendTable(std::string& out, std::string_view name, const Tally& tally)
{
    out += ",";
    appendJsonString(out, name);
    out += ":[";
    const auto rows = sortedRows(tally);
    const char* comma = "";
    for (size_t i = 0; i < rows.size() && i < kJsonTableRows; ++i)
    {
        out += std::exchange(comma, ",") + std::string("{\"value\":");
        appendJsonString(out, rows[i].first);
        out += ",\"reports\":" + std::to_string(rows[i].second.reports) +
               ",\"clients\":" + std::to_string(rows[i].second.clients) + "}";
    }
    if (rows.size() > kJsonTableRows)
    {
        int64_t reports = 0;
        for (size_t i = kJsonTableRows; i < rows.size(); ++i)
            reports += rows[i].second.reports;
        out += ",{\"value\":null,\"reports\":" + std::to_string(reports) +
               ",\"clients\":null,\"values\":" + std::to_string(rows.size() - kJsonTableRows) + "}";
    }
    out += "]";
}

} // namespace

std::string reportJson(const Report& r)
{
    std::string out = "{\"from\":";
    r.from ? appendJsonString(out, formatDay(*r.from)) : void(out += "null");
    out += ",\"to\":";
    r.to ? appendJsonString(out, formatDay(*r.to)) : void(out += "null");
    out += ",\"version\":";
    r.version ? appendJsonString(out, *r.version) : void(out += "null");
    out += ",\"hits\":{\"stored\":" + std::to_string(r.accepted + r.rejected) +
           ",\"accepted\":" + std::to_string(r.accepted) + ",\"rejected\":" + std::to_string(r.rejected) +
           "},\"clients\":" + std::to_string(r.clients) + ",\"rejections\":[";
    const char* comma = "";
    for (const auto& [reason, n] : r.rejectionReasons)
    {
        out += std::exchange(comma, ",") + std::string("{\"reason\":");
        appendJsonString(out, reason);
        out += ",\"hits\":" + std::to_string(n) + "}";
    }
    out += "],\"applications\":[";
    comma = "";
    for (const auto& [key, u] : r.applications)
    {
        out += std::exchange(comma, ",") + std::string("{\"name\":");
        appendJsonString(out, key.first);
        out += ",\"version\":";
        appendJsonString(out, key.second);
        out += ",";
        appendUsage(out, u);
        out += "}";
    }
    out += "],\"sessions\":{";
    appendSessions(out, r.sessions);
    out += "},\"days\":[";
    comma = "";
    for (const auto& [day, d] : r.days)
    {
        out += std::exchange(comma, ",") + std::string("{\"day\":\"") + formatDay(day) + "\",";
        appendUsage(out, d.usage);
        out += ",";
        appendSessions(out, d.sessions);
        out += ",\"versions\":[";
        const char* inner = "";
        for (const auto& [version, v] : d.versions)
        {
            out += std::exchange(inner, ",") + std::string("{\"version\":");
            appendJsonString(out, version);
            out += ",";
            appendUsage(out, v.usage);
            out += ",";
            appendSessions(out, v.sessions);
            out += "}";
        }
        out += "]}";
    }
    out += "],\"versions\":[";
    comma = "";
    for (const auto& [version, s] : r.versions)
    {
        out += std::exchange(comma, ",") + std::string("{\"version\":");
        appendJsonString(out, version);
        out += ",";
        appendSessions(out, s);
        out += "}";
    }
    out += "]";
    out += ",\"tables\":[";
    comma = "";
    for (const ReportTable& t : reportTables())
    {
        out += std::exchange(comma, ",") + std::string("{\"name\":");
        appendJsonString(out, t.name);
        out += ",\"title\":";
        appendJsonString(out, t.title);
        out += "}";
    }
    out += "]";
    for (const ReportTable& t : reportTables())
        appendTable(out, t.name, r.*t.tally);
    appendViewsJson(out, r);
    return out + "}";
}

} // namespace zncip::collector
