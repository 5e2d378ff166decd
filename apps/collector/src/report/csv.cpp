// The report's tables as CSV, for the API's downloads and for the self-contained page's: the one place
// where a cell is guarded against being read as a formula.
#include "report/csv.h"

#include "report/report_tables.h"
#include "report/report_views.h"
#include "text/days.h"
#include "text/utf8.h"

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

std::string fraction(const std::optional<double>& v)
{
    return v ? formatFraction(*v) : "";
}

std::string rate(const SessionCounts& s)
{
    return fraction(s.crashFreeRate());
}

// The n-th span of a side, or empty cells where that side has fewer.
std::vector<std::string> spanCells(const std::vector<ActiveClients::Span>& spans, size_t i)
{
    if (i >= spans.size())
        return {"", "", "", ""};
    const ActiveClients::Span& s = spans[i];
    return {formatDay(s.start), formatDay(s.end), s.partial ? "partial" : "", number(s.clients)};
}

void activeClientRows(const Report& r, std::vector<std::vector<std::string>>& lines)
{
    lines.push_back({"span", "start", "end", "partial", "clients", "previous_start", "previous_end",
                     "previous_partial", "previous_clients"});
    const auto a = activeClients(r);
    if (!a)
        return;
    for (const auto& [name, series] :
         {std::pair{"day", &a->byDay}, {"week", &a->byWeek}, {"month", &a->byMonth}})
        for (size_t i = 0; i < std::max(series->current.size(), series->previous.size()); ++i)
        {
            std::vector<std::string> line = {name};
            for (const auto* side : {&series->current, &series->previous})
                for (std::string& c : spanCells(*side, i))
                    line.push_back(std::move(c));
            lines.push_back(std::move(line));
        }
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
                           kRejections = "rejections", kActiveClients = "active_clients",
                           kAdoption = "version_adoption", kHealth = "release_health",
                           kMemoryGiB = "memory_gib", kTopPrefix = "top_";

std::vector<std::string_view> csvTableNames()
{
    std::vector<std::string_view> names;
    for (const ReportTable& t : reportTables())
        names.push_back(t.name);
    names.insert(names.end(), {kApplications, kDays, kVersions, kRejections, kActiveClients, kAdoption,
                               kHealth, kMemoryGiB});
    // The top lists' names are the tables' with a prefix: kept for the life of the program.
    static const std::vector<std::string> top = []
    {
        std::vector<std::string> out;
        for (const ReportTable& t : reportTables())
            out.push_back(std::string(kTopPrefix) + std::string(t.name));
        return out;
    }();
    names.insert(names.end(), top.begin(), top.end());
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
        // Every version that sent hits, those without a session (a run still going, say) too.
        lines.push_back(
            {"version", "hits", "sessions_started", "finished", "good", "bad", "crash_free_rate"});
        for (const ReleaseHealth::Row& v : releaseHealth(r).rows)
            lines.push_back({v.version, number(v.hits), number(v.sessions.started),
                             number(v.sessions.finished), number(v.sessions.good), number(v.sessions.bad),
                             rate(v.sessions)});
    }
    else if (table == kHealth)
    {
        lines.push_back({"version", "sessions", "crash_free_sessions", "clients", "bad_clients",
                         "crash_free_clients", "bad_with_crash_report", "bad_without_crash_report"});
        for (const ReleaseHealth::Row& v : releaseHealth(r).rows)
            lines.push_back({v.version, number(v.crashFreeSessions.sample),
                             fraction(v.crashFreeSessions.value), number(v.clients), number(v.badClients),
                             fraction(v.crashFreeClients.value), number(v.sessions.badWithCrashReport),
                             number(v.sessions.badWithoutCrashReport)});
    }
    else if (table == kActiveClients)
        activeClientRows(r, lines);
    else if (table == kAdoption)
    {
        lines.push_back({"version", "first_day", "last_day", "clients"});
        for (const Adoption::Row& v : versionAdoption(r).rows)
            lines.push_back({v.version, formatDay(v.firstDay), formatDay(v.lastDay), number(v.clients)});
    }
    else if (table == kMemoryGiB)
    {
        lines.push_back({"size", "reports", "clients"});
        for (const MemoryBucket& b : memoryBuckets(r))
            lines.push_back({b.size, number(b.reports), number(b.clients)});
    }
    else if (const ReportTable* top = table.rfind(kTopPrefix, 0) == 0
                                          ? reportTableNamed(table.substr(kTopPrefix.size()))
                                          : nullptr)
    {
        lines.push_back({"value", "reports", "report_share", "clients", "client_share"});
        for (const TopList::Row& row : topList(r, r.*top->tally).rows)
            lines.push_back({row.value, number(row.reports), formatFraction(row.reportShare),
                             row.clients ? number(*row.clients) : "", fraction(row.clientShare)});
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
