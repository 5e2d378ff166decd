// The derived views in the report's JSON, in the shapes the dashboard draws: series over every calendar
// day (or span) of the period, null where a value is missing or stands on too small a sample.
#include "report/report_tables.h"
#include "report/report_views.h"
#include "text/days.h"
#include "text/json.h"

#include <cstdio>
#include <utility>

namespace zncip::collector
{
namespace
{

std::string n(int64_t v)
{
    return std::to_string(v);
}

std::string optional(const std::optional<double>& v)
{
    return v ? formatFraction(*v) : "null";
}

std::string day(int32_t d)
{
    return "\"" + formatDay(d) + "\"";
}

// Items written by write, comma-separated, in brackets.
template <typename Items, typename Write> void appendArray(std::string& out, const Items& items, Write write)
{
    out += "[";
    const char* comma = "";
    for (const auto& item : items)
    {
        out += std::exchange(comma, ",");
        write(item);
    }
    out += "]";
}

void appendSpans(std::string& out, const std::vector<ActiveClients::Span>& spans)
{
    appendArray(out, spans,
                [&](const ActiveClients::Span& s)
                {
                    out += "{\"start\":" + day(s.start) + ",\"end\":" + day(s.end) +
                           ",\"partial\":" + (s.partial ? "true" : "false") + ",\"clients\":" + n(s.clients) +
                           "}";
                });
}

void appendActiveClients(std::string& out, const std::optional<ActiveClients>& a)
{
    out += ",\"active_clients\":";
    if (!a)
    {
        out += "null";
        return;
    }
    out += "{\"from\":" + day(a->days.from) + ",\"to\":" + day(a->days.to) +
           ",\"previous_from\":" + day(a->days.previousFrom) + ",\"previous_to\":" + day(a->days.from - 1) +
           ",\"clients\":" + n(a->clients) + ",\"previous_clients\":" + n(a->previousClients) +
           ",\"change\":" + optional(a->change);
    for (const auto& [name, series] :
         {std::pair{"days", &a->byDay}, {"weeks", &a->byWeek}, {"months", &a->byMonth}})
    {
        out += ",\"" + std::string(name) + "\":{\"current\":";
        appendSpans(out, series->current);
        out += ",\"previous\":";
        appendSpans(out, series->previous);
        out += "}";
    }
    out += "}";
}

void appendAdoption(std::string& out, const Adoption& a)
{
    out += ",\"adoption\":{\"days\":";
    appendArray(out, a.days, [&](int32_t d) { out += day(d); });
    out += ",\"series\":";
    appendArray(out, a.series,
                [&](const Adoption::Series& s)
                {
                    out += "{\"version\":";
                    appendJsonString(out, s.version);
                    out += ",\"share\":";
                    appendArray(out, s.share, [&](const std::optional<double>& v) { out += optional(v); });
                    out += "}";
                });
    out += ",\"versions\":";
    appendArray(out, a.rows,
                [&](const Adoption::Row& r)
                {
                    out += "{\"version\":";
                    appendJsonString(out, r.version);
                    out += ",\"first_day\":" + day(r.firstDay) + ",\"last_day\":" + day(r.lastDay) +
                           ",\"clients\":" + n(r.clients) + "}";
                });
    out += "}";
}

void appendRate(std::string& out, const char* name, const SampledRate& r)
{
    out += ",\"" + std::string(name) + "\":" + optional(r.value);
}

void appendHealth(std::string& out, const ReleaseHealth& h)
{
    out += ",\"release_health\":{\"min_sample\":" + n(kMinSample) +
           ",\"weekly\":" + (h.weekly ? "true" : "false") + ",\"spans\":";
    appendArray(out, h.spans,
                [&](const std::pair<int32_t, int32_t>& s)
                { out += "{\"start\":" + day(s.first) + ",\"end\":" + day(s.second) + "}"; });
    out += ",\"series\":";
    appendArray(out, h.series,
                [&](const ReleaseHealth::Series& s)
                {
                    out += "{\"version\":";
                    appendJsonString(out, s.version);
                    out += ",\"rates\":";
                    appendArray(out, s.rates, [&](const SampledRate& r) { out += optional(r.value); });
                    out += ",\"sessions\":";
                    appendArray(out, s.rates, [&](const SampledRate& r) { out += n(r.sample); });
                    out += "}";
                });
    out += ",\"versions\":";
    appendArray(out, h.rows,
                [&](const ReleaseHealth::Row& r)
                {
                    const SessionCounts& s = r.sessions;
                    out += "{\"version\":";
                    appendJsonString(out, r.version);
                    out += ",\"hits\":" + n(r.hits) + ",\"sessions_started\":" + n(s.started) +
                           ",\"finished\":" + n(s.finished) + ",\"good\":" + n(s.good) +
                           ",\"bad\":" + n(s.bad) + ",\"bad_with_crash_report\":" + n(s.badWithCrashReport) +
                           ",\"bad_without_crash_report\":" + n(s.badWithoutCrashReport) +
                           ",\"crash_free_rate\":" + optional(s.crashFreeRate()) +
                           ",\"sessions\":" + n(r.crashFreeSessions.sample);
                    appendRate(out, "crash_free_sessions", r.crashFreeSessions);
                    out += ",\"clients\":" + n(r.clients) + ",\"bad_clients\":" + n(r.badClients);
                    appendRate(out, "crash_free_clients", r.crashFreeClients);
                    out += "}";
                });
    out += "}";
}

void appendTopList(std::string& out, const TopList& t)
{
    out += "{\"reports\":" + n(t.reports) + ",\"rows\":";
    appendArray(out, t.rows,
                [&](const TopList::Row& r)
                {
                    out += "{\"value\":";
                    appendJsonString(out, r.value);
                    out += ",\"other\":" + std::string(r.other ? "true" : "false") +
                           ",\"reports\":" + n(r.reports) +
                           ",\"report_share\":" + formatFraction(r.reportShare) +
                           ",\"clients\":" + (r.clients ? n(*r.clients) : "null") +
                           ",\"client_share\":" + optional(r.clientShare) + "}";
                });
    out += "}";
}

} // namespace

std::string formatFraction(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

void appendViewsJson(std::string& out, const Report& r)
{
    appendActiveClients(out, activeClients(r));
    appendAdoption(out, versionAdoption(r));
    appendHealth(out, releaseHealth(r));
    out += ",\"top_lists\":{";
    const char* comma = "";
    for (const ReportTable& t : reportTables())
    {
        out += std::exchange(comma, ",");
        appendJsonString(out, t.name);
        out += ":";
        appendTopList(out, topList(r, r.*t.tally));
    }
    out += "},\"memory_gib\":";
    appendArray(out, memoryBuckets(r),
                [&](const MemoryBucket& b)
                {
                    out += "{\"size\":";
                    appendJsonString(out, b.size);
                    out += ",\"reports\":" + n(b.reports) + ",\"clients\":" + n(b.clients) + "}";
                });
}

} // namespace zncip::collector
