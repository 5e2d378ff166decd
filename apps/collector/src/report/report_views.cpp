// The report's derived views: the calendar spans of the active clients, adoption, release health, top
// lists and memory buckets, each from the figures buildReport read out of the rollups.
#include "report/report_views.h"

#include "report/report_tables.h"
#include "text/days.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace zncip::collector
{
namespace
{

using Span = Rollups::Span;

double share(int64_t part, int64_t whole)
{
    return static_cast<double>(part) / static_cast<double>(whole);
}

// The span of a kind that holds a day, as the calendar has it (not cut by any period).
std::pair<int32_t, int32_t> calendarSpan(Span kind, int32_t day)
{
    switch (kind)
    {
    case Span::Week:
        return {weekStart(day), weekStart(day) + 6};
    case Span::Month:
        return {monthStart(day), nextMonthStart(day) - 1};
    default:
        return {day, day};
    }
}

// The spans of a kind that cover the days from..to, cut at both ends, with their distinct clients.
std::vector<ActiveClients::Span> spansOf(const Report& r, Span kind, int32_t from, int32_t to)
{
    std::vector<ActiveClients::Span> out;
    for (int64_t start = from; start <= to;)
    {
        const auto [first, last] = calendarSpan(kind, static_cast<int32_t>(start));
        ActiveClients::Span s;
        s.start = static_cast<int32_t>(start);
        s.end = std::min(last, to);
        s.partial = s.start != first || s.end != last;
        const auto it = r.activeClients.find({kind, s.start});
        s.clients = it == r.activeClients.end() ? 0 : it->second;
        out.push_back(s);
        start = int64_t{s.end} + 1;
    }
    return out;
}

ActiveClients::Series seriesOf(const Report& r, Span kind, const Rollups::ComparedDays& d)
{
    return {spansOf(r, kind, d.from, d.to), spansOf(r, kind, d.previousFrom, d.from - 1)};
}

int64_t clientsOf(const Report& r, const std::string& version)
{
    int64_t n = 0;
    for (const auto& [key, usage] : r.applications)
        if (key.second == version)
            n += usage.clients;
    return n;
}

// The versions of the report, in the order of their numbers.
std::vector<std::string> versionsOf(const Report& r)
{
    std::set<std::string> names;
    for (const auto& [key, usage] : r.applications)
        names.insert(key.second);
    for (const auto& [version, sessions] : r.versions)
        names.insert(version);
    std::vector<std::string> sorted(names.begin(), names.end());
    std::stable_sort(sorted.begin(), sorted.end(), versionLess);
    return sorted;
}

const SessionCounts* sessionsOn(const Report& r, int32_t day, const std::string& version)
{
    const auto d = r.days.find(day);
    if (d == r.days.end())
        return nullptr;
    const auto v = d->second.versions.find(version);
    return v == d->second.versions.end() ? nullptr : &v->second.sessions;
}

// Finished sessions, good or bad.
int64_t finished(const SessionCounts* s)
{
    return s ? s->good + s->bad : 0;
}

} // namespace

SampledRate sampledRate(int64_t part, int64_t sample)
{
    SampledRate r;
    r.sample = sample;
    if (sample >= kMinSample)
        r.value = share(part, sample);
    return r;
}

std::optional<ActiveClients> activeClients(const Report& r)
{
    if (!r.compared)
        return std::nullopt;
    ActiveClients a;
    a.days = *r.compared;
    a.byDay = seriesOf(r, Span::Day, a.days);
    a.byWeek = seriesOf(r, Span::Week, a.days);
    a.byMonth = seriesOf(r, Span::Month, a.days);
    const auto whole = [&](int32_t start)
    {
        const auto it = r.activeClients.find({Span::Whole, start});
        return it == r.activeClients.end() ? int64_t{0} : it->second;
    };
    a.clients = whole(a.days.from);
    a.previousClients = whole(a.days.previousFrom);
    if (a.previousClients > 0)
        a.change = share(a.clients - a.previousClients, a.previousClients);
    return a;
}

Adoption versionAdoption(const Report& r)
{
    Adoption a;
    if (r.compared)
        for (int32_t day = r.compared->from; day <= r.compared->to; ++day)
            a.days.push_back(day);
    for (const std::string& version : versionsOf(r))
    {
        Adoption::Series series{version, {}};
        Adoption::Row row{version, 0, 0, clientsOf(r, version)};
        bool seen = false;
        for (const int32_t day : a.days)
        {
            const auto d = r.days.find(day);
            if (d == r.days.end() || d->second.usage.clients == 0)
            {
                series.share.emplace_back();
                continue;
            }
            const auto v = d->second.versions.find(version);
            const int64_t clients = v == d->second.versions.end() ? 0 : v->second.usage.clients;
            series.share.push_back(share(clients, d->second.usage.clients));
            if (clients > 0)
                row.firstDay = seen ? row.firstDay : day, row.lastDay = day, seen = true;
        }
        if (!seen)
            continue;
        a.series.push_back(std::move(series));
        a.rows.push_back(std::move(row));
    }
    return a;
}

ReleaseHealth releaseHealth(const Report& r)
{
    ReleaseHealth h;
    for (const std::string& version : versionsOf(r))
    {
        ReleaseHealth::Row row;
        row.version = version;
        for (const auto& [key, usage] : r.applications)
            row.hits += key.second == version ? usage.hits : 0;
        if (const auto s = r.versions.find(version); s != r.versions.end())
            row.sessions = s->second;
        row.crashFreeSessions = sampledRate(row.sessions.good, row.sessions.good + row.sessions.bad);
        row.clients = clientsOf(r, version);
        if (const auto b = r.badClients.find(version); b != r.badClients.end())
            row.badClients = b->second;
        row.crashFreeClients = sampledRate(row.clients - row.badClients, row.clients);
        h.rows.push_back(std::move(row));
    }
    if (!r.compared)
        return h;
    // By week when most days that had finished sessions had too few for a rate.
    int64_t daysWithSessions = 0, thinDays = 0;
    for (const ReleaseHealth::Row& row : h.rows)
        for (int32_t day = r.compared->from; day <= r.compared->to; ++day)
            if (const int64_t n = finished(sessionsOn(r, day, row.version)); n > 0)
                ++daysWithSessions, thinDays += n < kMinSample;
    h.weekly = thinDays * 2 > daysWithSessions;
    for (const ActiveClients::Span& s :
         spansOf(r, h.weekly ? Span::Week : Span::Day, r.compared->from, r.compared->to))
        h.spans.emplace_back(s.start, s.end);
    for (const ReleaseHealth::Row& row : h.rows)
    {
        if (row.sessions.good + row.sessions.bad == 0)
            continue;
        ReleaseHealth::Series series{row.version, {}};
        for (const auto& [first, last] : h.spans)
        {
            int64_t good = 0, all = 0;
            for (int32_t day = first; day <= last; ++day)
                if (const SessionCounts* s = sessionsOn(r, day, row.version))
                    good += s->good, all += s->good + s->bad;
            series.rates.push_back(sampledRate(good, all));
        }
        h.series.push_back(std::move(series));
    }
    return h;
}

TopList topList(const Report& r, const Tally& tally)
{
    TopList t;
    const auto rows = sortedRows(tally);
    for (const auto& row : rows)
        t.reports += row.second.reports;
    int64_t otherReports = 0;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        if (i >= kTopRows)
        {
            otherReports += rows[i].second.reports;
            continue;
        }
        TopList::Row row;
        row.value = rows[i].first;
        row.reports = rows[i].second.reports;
        row.reportShare = t.reports ? share(row.reports, t.reports) : 0;
        row.clients = rows[i].second.clients;
        if (r.clients > 0)
            row.clientShare = share(rows[i].second.clients, r.clients);
        t.rows.push_back(std::move(row));
    }
    if (rows.size() > kTopRows)
    {
        TopList::Row other;
        const size_t n = rows.size() - kTopRows;
        other.value = std::to_string(n) + (n == 1 ? " other value" : " other values");
        other.other = true;
        other.reports = otherReports;
        other.reportShare = share(otherReports, t.reports);
        t.rows.push_back(std::move(other));
    }
    return t;
}

std::vector<MemoryBucket> memoryBuckets(const Report& r)
{
    struct Edge
    {
        const char* size;
        int64_t belowGiB;
    };
    static const Edge edges[] = {{"< 4 GiB", 4},    {"4–8 GiB", 8},    {"8–16 GiB", 16},
                                 {"16–32 GiB", 32}, {"32–64 GiB", 64}, {"≥ 64 GiB", INT64_MAX / 1024}};
    std::vector<MemoryBucket> buckets;
    for (const Edge& e : edges)
        buckets.push_back({e.size, 0, 0});
    MemoryBucket unknown{"Unknown", 0, 0};
    for (const auto& [value, entry] : r.memory.values)
    {
        // Whole MiB, or with a fraction, which moves no value across an edge of whole GiB.
        const size_t digits = std::min(value.find_first_not_of("0123456789"), value.size());
        const bool number = digits > 0 && digits <= 15 &&
                            (digits == value.size() ||
                             (value[digits] == '.' && digits + 1 < value.size() &&
                              value.find_first_not_of("0123456789", digits + 1) == std::string::npos));
        MemoryBucket* b = &unknown;
        if (number)
        {
            const int64_t mib = std::stoll(value.substr(0, digits));
            size_t i = 0;
            while (i + 1 < std::size(edges) && mib >= edges[i].belowGiB * 1024)
                ++i;
            b = &buckets[i];
        }
        b->reports += entry.reports;
        b->clients += entry.clients;
    }
    if (unknown.reports > 0)
        buckets.push_back(unknown);
    return buckets;
}

bool versionLess(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
    {
        const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
        if (isDigit(a[i]) && isDigit(b[j]))
        {
            // Numbers by their value: without leading zeros, the longer is the greater.
            const size_t ia = i, jb = j;
            while (i < a.size() && isDigit(a[i]))
                ++i;
            while (j < b.size() && isDigit(b[j]))
                ++j;
            std::string_view x = a.substr(ia, i - ia), y = b.substr(jb, j - jb);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i, ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace zncip::collector
