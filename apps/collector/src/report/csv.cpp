#include "report/csv.h"

#include "ingest/form.h"
#include "ingest/hit_facts.h"
#include "text/days.h"
#include "text/utf8.h"

#include <algorithm>
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

const Tally* tallyNamed(const Report& r, std::string_view name)
{
    const std::pair<const char*, const Tally*> tallies[] = {
        {"commands", &r.commands},
        {"unknown_commands", &r.unknownCommands},
        {"operating_systems", &r.operatingSystems},
        {"memory_mib", &r.memory},
        {"screen_scaling_percent", &r.scaling},
        {"processor_threads", &r.threads},
        {"screens", &r.screenCounts},
        {"screen_resolutions", &r.resolutions},
        {"opengl_renderers_core", &r.rendererCore},
        {"opengl_versions_core", &r.versionCore},
        {"opengl_renderers_compatibility", &r.rendererCompatibility},
        {"opengl_versions_compatibility", &r.versionCompatibility}};
    for (const auto& [n, t] : tallies)
        if (name == n)
            return t;
    return nullptr;
}

} // namespace

std::optional<std::string> reportCsv(const Report& r, std::string_view table)
{
    std::vector<std::vector<std::string>> lines;
    if (const Tally* t = tallyNamed(r, table))
    {
        lines.push_back({"value", "reports", "clients"});
        std::vector<std::pair<std::string, Tally::Entry>> sorted(t->values.begin(), t->values.end());
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.second.reports > b.second.reports; });
        for (const auto& [value, e] : sorted)
            lines.push_back({value, number(e.reports), number(e.clients)});
    }
    else if (table == "applications")
    {
        lines.push_back({"name", "version", "hits", "clients"});
        for (const auto& [key, u] : r.applications)
            lines.push_back({key.first, key.second, number(u.hits), number(u.clients)});
    }
    else if (table == "days")
    {
        lines.push_back({"day", "hits", "clients", "sessions_started", "sessions_ended", "finished", "good", "bad",
                         "crash_free_rate"});
        for (const auto& [day, d] : r.days)
            lines.push_back({formatDay(day), number(d.usage.hits), number(d.usage.clients),
                             number(d.sessions.started), number(d.sessions.ended), number(d.sessions.finished),
                             number(d.sessions.good), number(d.sessions.bad), rate(d.sessions)});
    }
    else if (table == "versions")
    {
        lines.push_back({"version", "sessions_started", "finished", "good", "bad", "crash_free_rate"});
        for (const auto& [version, v] : r.versions)
            lines.push_back({version, number(v.started), number(v.finished), number(v.good), number(v.bad), rate(v)});
    }
    else if (table == "rejections")
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
