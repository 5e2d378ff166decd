// The report's tables as CSV, for the API's downloads and for the self-contained page's: the one place
// where a cell is guarded against being read as a formula.
#include "report/csv.h"

#include "report/report_tables.h"
#include "text/days.h"
#include "text/utf8.h"

#include <cstdio>
#include <vector>

namespace zncip::collector
{
namespace
{

std::string cell(std::string_view text)
{
    std::string value = sanitizeUtf8(text);
    if (!value.empty() && std::string_view("=+-@\t\r").find(value[0]) != std::string_view::npos)
        value.insert(0, "'");
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value)
        (quoted += c) += c == '"' ? "\"" : "";
    return quoted + "\"";
}

std::string number(int64_t n)
{
    return std::to_string(n);
}

std::string rate(const SessionCounts& s)
{
    const auto r = s.crashFreeRate();
    if (!r)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", *r);
    return text;
}

std::string rows(const std::vector<std::vector<std::string>>& lines)
{
    std::string out;
    for (const auto& line : lines)
    {
        for (size_t i = 0; i < line.size(); ++i)
            out += (i ? "," : "") + cell(line[i]);
        out += "\r\n";
    }
    return out;
}

} // namespace

constexpr std::string_view kApplications = "applications", kDays = "days", kVersions = "versions",
                           kRejections = "rejections";

std::vector<std::string_view> csvTableNames()
{
    std::vector<std::string_view> names;
    for (const ReportTable& t : reportTables())
        names.push_back(t.name);
    names.insert(names.end(), {kApplications, kDays, kVersions, kRejections});
    return names;
}

std::optional<std::string> reportCsv(const Report& r, std::string_view table)
{
    std::vector<std::vector<std::string>> lines;
    if (const ReportTable* t = reportTableNamed(table))
    {
        // Every row, unlike the JSON the pages read: a download is how the rows past the top of a list
        // are seen, and it costs the collector only when someone asks for it.
        lines.push_back({"value", "reports", "clients"});
        for (const auto& [value, e] : sortedRows(r.*t->tally))
            lines.push_back({value, number(e.reports), number(e.clients)});
    }
    else if (table == kApplications)
    {
        lines.push_back({"name", "version", "hits", "clients"});
        for (const auto& [key, u] : r.applications)
            lines.push_back({key.first, key.second, number(u.hits), number(u.clients)});
    }
    else if (table == kDays)
    {
        lines.push_back({"day", "hits", "clients", "sessions_started", "sessions_ended", "finished", "good", "bad",
                         "crash_free_rate"});
        for (const auto& [day, d] : r.days)
            lines.push_back({formatDay(day), number(d.usage.hits), number(d.usage.clients),
                             number(d.sessions.started), number(d.sessions.ended), number(d.sessions.finished),
                             number(d.sessions.good), number(d.sessions.bad), rate(d.sessions)});
    }
    else if (table == kVersions)
    {
        lines.push_back({"version", "sessions_started", "finished", "good", "bad", "crash_free_rate"});
        for (const auto& [version, v] : r.versions)
            lines.push_back({version, number(v.started), number(v.finished), number(v.good), number(v.bad), rate(v)});
    }
    else if (table == kRejections)
    {
        lines.push_back({"reason", "hits"});
        for (const auto& [reason, n] : r.rejectionReasons)
            lines.push_back({reason, number(n)});
    }
    else
        return std::nullopt;
    return rows(lines);
}

} // namespace zncip::collector
