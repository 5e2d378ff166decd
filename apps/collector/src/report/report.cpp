#include "report/report.h"

#include "report/export.h"
#include "ingest/form.h"
#include "ingest/hit_facts.h"
#include "text/days.h"
#include "text/json.h"
#include "text/utf8.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

namespace zncip::collector
{
namespace
{

using Scope = RollupKey::Scope;

// The table of the report that counts an event, or null when none does.
Tally* tallyOf(Report& r, const RollupKey& k)
{
    if (k.type != "event")
        return nullptr;
    const std::string& ec = k.category;
    const std::string& ea = k.action;
    if (ec == "Commands")
        return &r.commands;
    if (ec == "Unknown Commands")
        return &r.unknownCommands;
    if (ec == "System")
        return ea == "OS"             ? &r.operatingSystems
               : ea == "Memory"       ? &r.memory
               : ea == "DPI"          ? &r.scaling
               : ea == "Thread Count" ? &r.threads
               : ea == "Screen Count" ? &r.screenCounts
                                      : nullptr;
    if (ec == "Screen" && ea == "Resolution")
        return &r.resolutions;
    if (ec == "OpenGL")
        return ea == "Renderer CORE"            ? &r.rendererCore
               : ea == "Renderer COMPATIBILITY" ? &r.rendererCompatibility
               : ea == "Version CORE"           ? &r.versionCore
               : ea == "Version COMPATIBILITY"  ? &r.versionCompatibility
                                                : nullptr;
    return nullptr;
}

void countSession(SessionCounts& s, const RollupKey& k, int64_t hits)
{
    if (k.type != "event" || k.category != "Session")
        return;
    const std::string& ea = k.action;
    const std::string& el = k.label;
    if (ea == "Start")
        s.started += hits;
    else if (ea == "End")
        s.ended += hits;
    else if (ea == "Global")
        s.finished += hits;
    else if (ea == "Good")
        s.good += hits;
    else if (ea == "Bad" && el == "Bad")
        s.bad += hits;
    else if (ea == "Bad" && el == "With_Crash_Report")
        s.badWithCrashReport += hits;
    else if (ea == "Bad" && el == "Without_Crash_Report")
        s.badWithoutCrashReport += hits;
}

} // namespace

std::optional<double> SessionCounts::crashFreeRate() const
{
    if (good + bad == 0)
        return std::nullopt;
    return static_cast<double>(good) / static_cast<double>(good + bad);
}

Report buildReport(const Rollups& rollups, const Period& period)
{
    Report r;
    r.version = period.version;
    auto coverDay = [&](int32_t day)
    {
        r.from = r.from ? std::min(*r.from, day) : day;
        r.to = r.to ? std::max(*r.to, day) : day;
    };
    for (const Rollups::Count& c : rollups.counts)
    {
        coverDay(c.day);
        r.accepted += c.hits;
        r.applications[{c.key.application, c.key.version}].hits += c.hits;
        Report::Day& day = r.days[c.day];
        day.usage.hits += c.hits;
        Report::VersionDay& versionDay = day.versions[c.key.version];
        versionDay.usage.hits += c.hits;
        countSession(r.sessions, c.key, c.hits);
        countSession(day.sessions, c.key, c.hits);
        countSession(versionDay.sessions, c.key, c.hits);
        if (c.key.category == "Session")
            countSession(r.versions[c.key.version], c.key, c.hits);
        if (Tally* t = tallyOf(r, c.key))
            t->values[c.key.label].reports += c.hits;
    }
    // With a version chosen the rollups hold no count over all versions: the clients of that version
    // across applications stand for it.
    const Scope total = period.version ? Scope::Application : Scope::All;
    for (const Rollups::Clients& c : rollups.clients)
    {
        if (c.key.scope == Scope::Application)
            r.applications[{c.key.application, c.key.version}].clients += c.clients;
        if (c.key.scope == total)
            r.clients += c.clients;
        if (c.key.scope == Scope::Event || c.key.scope == Scope::EventAnyVersion)
            if (Tally* t = tallyOf(r, c.key))
                t->values[c.key.label].clients += c.clients;
    }
    for (const Rollups::DailyClients& c : rollups.dailyClients)
    {
        Report::Day& day = r.days[c.day];
        if (c.key.scope == Scope::Application)
            day.versions[c.key.version].usage.clients += c.clients;
        if (c.key.scope == total)
            day.usage.clients += c.clients;
    }
    for (const Rollups::Rejections& j : rollups.rejections)
    {
        coverDay(j.day);
        r.rejected += j.hits;
        r.rejectionReasons[j.reason] += j.hits;
    }
    return r;
}

namespace
{

std::string line(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string line(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer) + "\n";
}

long long ll(int64_t n)
{
    return static_cast<long long>(n);
}

std::string rateText(const SessionCounts& s)
{
    const auto rate = s.crashFreeRate();
    if (!rate)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", *rate * 100.0);
    return text;
}

// Most reported first; ties by value so the output is stable.
std::vector<std::pair<std::string, Tally::Entry>> sorted(const Tally& tally)
{
    std::vector<std::pair<std::string, Tally::Entry>> rows(tally.values.begin(), tally.values.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.reports > b.second.reports; });
    return rows;
}

std::string table(const char* title, const Tally& tally)
{
    std::string out = line("\n%s\n    %8s %8s  %s", title, "reports", "clients", "value");
    for (const auto& [value, entry] : sorted(tally))
        out += line("    %8lld %8lld  %s", ll(entry.reports), ll(entry.clients), printableText(value).c_str());
    if (tally.values.empty())
        out += line("    (none)");
    return out;
}

// The tables of a report, with the names they have in JSON.
std::vector<std::tuple<const char*, const char*, const Tally*>> tables(const Report& r)
{
    return {{"Commands", "commands", &r.commands},
            {"Unknown commands", "unknown_commands", &r.unknownCommands},
            {"Operating systems", "operating_systems", &r.operatingSystems},
            {"Physical memory (MiB)", "memory_mib", &r.memory},
            {"Screen scaling (%)", "screen_scaling_percent", &r.scaling},
            {"Processor threads", "processor_threads", &r.threads},
            {"Screens", "screens", &r.screenCounts},
            {"Screen resolutions", "screen_resolutions", &r.resolutions},
            {"OpenGL renderers (core profile)", "opengl_renderers_core", &r.rendererCore},
            {"OpenGL vendor:version (core profile)", "opengl_versions_core", &r.versionCore},
            {"OpenGL renderers (compatibility profile)", "opengl_renderers_compatibility",
             &r.rendererCompatibility},
            {"OpenGL vendor:version (compatibility profile)", "opengl_versions_compatibility",
             &r.versionCompatibility}};
}

} // namespace

std::string formatReport(const Report& r)
{
    std::string out;
    out += line("Hits: %lld stored, %lld accepted, %lld rejected", ll(r.accepted + r.rejected), ll(r.accepted),
                ll(r.rejected));
    out += line("Distinct clients: %lld", ll(r.clients));
    if (r.from)
        out += line("Days: %s to %s%s", formatDay(*r.from).c_str(), formatDay(*r.to).c_str(),
                    r.version ? (", version " + printableText(*r.version) + " only").c_str() : "");
    if (!r.rejectionReasons.empty())
    {
        out += line("\nRejected hits by reason");
        for (const auto& [reason, n] : r.rejectionReasons)
            out += line("    %8lld  %s", ll(n), printableText(reason).c_str());
    }

    out += line("\nApplications\n    %8s %8s  %s", "hits", "clients", "name / version");
    for (const auto& [key, app] : r.applications)
        out += line("    %8lld %8lld  %s / %s", ll(app.hits), ll(app.clients), printableText(key.first).c_str(),
                    printableText(key.second).c_str());

    const SessionCounts& s = r.sessions;
    out += line("\nSessions\n    started %lld, ended %lld", ll(s.started), ll(s.ended));
    out += line("    finished %lld: good %lld, bad %lld (with crash report %lld, without %lld)", ll(s.finished),
                ll(s.good), ll(s.bad), ll(s.badWithCrashReport), ll(s.badWithoutCrashReport));
    if (const auto rate = s.crashFreeRate())
        out += line("    crash-free sessions: %.1f%%", *rate * 100.0);
    else
        out += line("    crash-free sessions: no finished session reported yet");

    out += line("\nPer day\n    %-10s %8s %8s %8s %8s %6s %6s  %s", "day", "hits", "clients", "started",
                "finished", "good", "bad", "crash-free");
    for (const auto& [day, d] : r.days)
        out += line("    %-10s %8lld %8lld %8lld %8lld %6lld %6lld  %s", formatDay(day).c_str(), ll(d.usage.hits),
                    ll(d.usage.clients), ll(d.sessions.started), ll(d.sessions.finished), ll(d.sessions.good),
                    ll(d.sessions.bad), rateText(d.sessions).c_str());

    out += line("\nPer version\n    %-12s %8s %8s %6s %6s  %s", "version", "started", "finished", "good", "bad",
                "crash-free");
    for (const auto& [version, v] : r.versions)
        out += line("    %-12s %8lld %8lld %6lld %6lld  %s", printableText(version).c_str(), ll(v.started),
                    ll(v.finished), ll(v.good), ll(v.bad), rateText(v).c_str());

    for (const auto& [title, name, tally] : tables(r))
        out += table(title, *tally);
    return out;
}

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
    if (rate)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", *rate);
        out += text;
    }
    else
        out += "null";
}

void appendUsage(std::string& out, const Report::Usage& u)
{
    out += "\"hits\":" + std::to_string(u.hits) + ",\"clients\":" + std::to_string(u.clients);
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
    for (const auto& [title, name, tally] : tables(r))
    {
        out += ",\"" + std::string(name) + "\":[";
        comma = "";
        for (const auto& [value, entry] : sorted(*tally))
        {
            out += std::exchange(comma, ",") + std::string("{\"value\":");
            appendJsonString(out, value);
            out += ",\"reports\":" + std::to_string(entry.reports) + ",\"clients\":" + std::to_string(entry.clients) +
                   "}";
        }
        out += "]";
    }
    return out + "}";
}

} // namespace zncip::collector
