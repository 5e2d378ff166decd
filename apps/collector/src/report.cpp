#include "report.h"

#include "form.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zncip::collector
{

void Tally::add(const std::string& value, const std::string& client)
{
    Entry& e = values[value];
    ++e.reports;
    e.clients.insert(client);
}

int64_t Tally::reports(const std::string& value) const
{
    const auto it = values.find(value);
    return it == values.end() ? 0 : it->second.reports;
}

std::optional<double> Report::crashFreeRate() const
{
    if (good + bad == 0)
        return std::nullopt;
    return static_cast<double>(good) / static_cast<double>(good + bad);
}

Report buildReport(const HitStore& store)
{
    Report r;
    store.forEach(
        [&](const StoredHit& hit)
        {
            ++r.stored;
            if (!hit.accepted)
            {
                ++r.rejected;
                ++r.rejectionReasons[hit.reason];
                return;
            }
            ++r.accepted;
            std::map<std::string, std::string> p;
            for (FormField& f : decodeForm(hit.body).fields)
                p.emplace(std::move(f.name), std::move(f.value));
            const std::string& cid = p["cid"].empty() ? p["uid"] : p["cid"];
            r.clients.insert(cid);
            Report::Application& app = r.applications[{p["an"], p["av"]}];
            ++app.hits;
            app.clients.insert(cid);
            if (p["t"] != "event")
                return;

            const std::string& ec = p["ec"];
            const std::string& ea = p["ea"];
            const std::string& el = p["el"];
            if (ec == "Commands")
                r.commands.add(el, cid);
            else if (ec == "Unknown Commands")
                r.unknownCommands.add(el, cid);
            else if (ec == "System")
            {
                Tally* t = ea == "OS"             ? &r.operatingSystems
                           : ea == "Memory"       ? &r.memory
                           : ea == "DPI"          ? &r.scaling
                           : ea == "Thread Count" ? &r.threads
                           : ea == "Screen Count" ? &r.screenCounts
                                                  : nullptr;
                if (t)
                    t->add(el, cid);
            }
            else if (ec == "Screen" && ea == "Resolution")
                r.resolutions.add(el, cid);
            else if (ec == "OpenGL")
            {
                Tally* t = ea == "Renderer CORE"            ? &r.rendererCore
                           : ea == "Renderer COMPATIBILITY" ? &r.rendererCompatibility
                           : ea == "Version CORE"           ? &r.versionCore
                           : ea == "Version COMPATIBILITY"  ? &r.versionCompatibility
                                                            : nullptr;
                if (t)
                    t->add(el, cid);
            }
            else if (ec == "Session")
            {
                if (ea == "Start")
                    ++r.sessionsStarted;
                else if (ea == "End")
                    ++r.sessionsEnded;
                else if (ea == "Global")
                    ++r.finished;
                else if (ea == "Good")
                    ++r.good;
                else if (ea == "Bad" && el == "Bad")
                    ++r.bad;
                else if (ea == "Bad" && el == "With_Crash_Report")
                    ++r.badWithCrashReport;
                else if (ea == "Bad" && el == "Without_Crash_Report")
                    ++r.badWithoutCrashReport;
            }
        });
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

// Most reported first; ties by value so the output is stable.
std::string table(const char* title, const Tally& tally, const char* empty = "(none)")
{
    std::string out = line("\n%s\n    %8s %8s  %s", title, "reports", "clients", "value");
    std::vector<std::pair<std::string, const Tally::Entry*>> rows;
    for (const auto& [value, entry] : tally.values)
        rows.emplace_back(value, &entry);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second->reports > b.second->reports; });
    for (const auto& [value, entry] : rows)
        out += line("    %8lld %8zu  %s", static_cast<long long>(entry->reports), entry->clients.size(),
                    printableText(value).c_str());
    if (rows.empty())
        out += line("    %s", empty);
    return out;
}

} // namespace

std::string formatReport(const Report& r)
{
    std::string out;
    out += line("Hits: %lld stored, %lld accepted, %lld rejected", static_cast<long long>(r.stored),
                static_cast<long long>(r.accepted), static_cast<long long>(r.rejected));
    out += line("Distinct clients: %zu", r.clients.size());
    if (!r.rejectionReasons.empty())
    {
        out += line("\nRejected hits by reason");
        for (const auto& [reason, n] : r.rejectionReasons)
            out += line("    %8lld  %s", static_cast<long long>(n), printableText(reason).c_str());
    }

    out += line("\nApplications\n    %8s %8s  %s", "hits", "clients", "name / version");
    for (const auto& [key, app] : r.applications)
        out += line("    %8lld %8zu  %s / %s", static_cast<long long>(app.hits), app.clients.size(),
                    printableText(key.first).c_str(), printableText(key.second).c_str());

    out += line("\nSessions\n    started %lld, ended %lld", static_cast<long long>(r.sessionsStarted),
                static_cast<long long>(r.sessionsEnded));
    out += line("    finished %lld: good %lld, bad %lld (with crash report %lld, without %lld)",
                static_cast<long long>(r.finished), static_cast<long long>(r.good),
                static_cast<long long>(r.bad), static_cast<long long>(r.badWithCrashReport),
                static_cast<long long>(r.badWithoutCrashReport));
    if (const auto rate = r.crashFreeRate())
        out += line("    crash-free sessions: %.1f%%", *rate * 100.0);
    else
        out += line("    crash-free sessions: no finished session reported yet");

    out += table("Commands", r.commands);
    out += table("Unknown commands", r.unknownCommands);
    out += table("Operating systems", r.operatingSystems);
    out += table("Physical memory (MiB)", r.memory);
    out += table("Screen scaling (%)", r.scaling);
    out += table("Processor threads", r.threads);
    out += table("Screens", r.screenCounts);
    out += table("Screen resolutions", r.resolutions);
    out += table("OpenGL renderers (core profile)", r.rendererCore);
    out += table("OpenGL vendor:version (core profile)", r.versionCore);
    out += table("OpenGL renderers (compatibility profile)", r.rendererCompatibility);
    out += table("OpenGL vendor:version (compatibility profile)", r.versionCompatibility);
    return out;
}

} // namespace zncip::collector
