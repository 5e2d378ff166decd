// The report as text for a person at a terminal: everything a client sent is made printable first.
#include "report/report.h"

#include "report/report_tables.h"
#include "text/days.h"
#include "text/utf8.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace zncip::collector
{
namespace
{

std::string line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// As long as the values make it: a fixed buffer would cut a long label, even within a character.
std::string line(const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(static_cast<size_t>(std::max(length, 0)), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
    return out + "\n";
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

std::string table(const ReportTable& t, const Tally& tally)
{
    std::string out = line("\n%.*s\n    %8s %8s  %s", static_cast<int>(t.title.size()), t.title.data(), "reports",
                           "clients", "value");
    for (const auto& [value, entry] : sortedRows(tally))
        out += line("    %8lld %8lld  %s", ll(entry.reports), ll(entry.clients), printableText(value).c_str());
    if (tally.values.empty())
        out += line("    (none)");
    return out;
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

    // Every row: a person who asks for the text report wants it all, and reads it from a file or a pager.
    for (const ReportTable& t : reportTables())
        out += table(t, r.*t.tally);
    return out;
}

} // namespace zncip::collector
