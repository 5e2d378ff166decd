// What the daily rollups say about a period: the only source of the reports' figures.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zncip::collector
{

// The days a report covers, both included, and optionally one application version.
struct Period
{
    int32_t from = INT32_MIN;
    int32_t to = INT32_MAX;
    std::optional<std::string> version;
};

// Hits are counted under a key of what they say. The rollups hold, for each day, how many hits arrived
// under each key, and which clients sent at least one of them, at four levels of detail.
struct RollupKey
{
    enum class Scope : int
    {
        Event = 0,       // application, version, type, category, action, label
        EventAnyVersion, // as Event with version empty: the same event in any version
        Application,     // application and version only
        All,             // every accepted hit
    };
    Scope scope = Scope::Event;
    std::string application, version, type, category, action, label;
};

// What the rollups say about a period. Each figure is read from the rollups alone, so reading it takes
// as long as there are distinct keys and days, however many hits they count.
struct Rollups
{
    struct Count
    {
        int32_t day;
        RollupKey key; // scope Event
        int64_t hits;
        int64_t valueSum; // of ev
    };
    struct Clients
    {
        RollupKey key;
        int64_t clients; // distinct clients that sent at least one such hit in the period
    };
    struct DailyClients
    {
        int32_t day;
        RollupKey key; // scope Application or All
        int64_t clients;
    };
    // The calendar spans whose distinct clients the active-clients view compares: each day, each ISO week
    // and each month, and the whole period. A span cut by the period's bounds starts at the bound.
    enum class Span : int
    {
        Day = 0,
        Week,
        Month,
        Whole,
    };
    struct ActiveClients
    {
        Span span;
        int32_t start;   // the span's first day within its period
        int64_t clients; // of scope All, or of scope Application when a version is chosen
    };
    // The days the active clients are read over: the period, and the one of equal length just before it.
    struct ComparedDays
    {
        int32_t previousFrom, from, to;
    };
    struct Rejections
    {
        int32_t day;
        std::string reason;
        int64_t hits;
    };
    // Of the period, and of the version when one is chosen. Clients holds the keys of scope Event when a
    // version is chosen and EventAnyVersion when not, plus Application and All.
    std::vector<Count> counts;
    std::vector<Clients> clients;
    std::vector<DailyClients> dailyClients;
    std::vector<ActiveClients> activeClients; // of comparedDaysOf(period), both periods
    std::vector<Rejections> rejections;       // not filtered by version: a rejected hit may have none
    std::optional<int32_t> firstDay, lastDay; // of everything stored, whatever the period

    // A daily count as a store reads it, by the id of its key, and the keys' texts by id, read once.
    struct CountOfKeyId
    {
        int32_t day;
        int64_t key, hits, valueSum;
    };
    using KeysById = std::unordered_map<int64_t, RollupKey>;
    // Adds the counts with their keys' texts. A store reads the keys after the counts, so that every key a
    // count names is there: a key goes only once nothing counts under it any more. (A count whose client
    // is being forgotten meanwhile may have lost its key: it is left out, as it would be a moment later.)
    void addCounts(const std::vector<CountOfKeyId>& byId, const KeysById& keys)
    {
        counts.reserve(counts.size() + byId.size());
        for (const CountOfKeyId& c : byId)
            if (const auto key = keys.find(c.key); key != keys.end())
                counts.push_back({c.day, key->second, c.hits, c.valueSum});
    }

    // Widens firstDay..lastDay to take in the days first..last of one table.
    void coverDays(int32_t first, int32_t last)
    {
        firstDay = firstDay ? std::min(*firstDay, first) : first;
        lastDay = lastDay ? std::max(*lastDay, last) : last;
    }
    // The days of the period within those stored, so that a walk over its days stays short; none when
    // nothing stored falls in it.
    std::optional<std::pair<int32_t, int32_t>> storedDaysOf(const Period& period) const
    {
        if (!firstDay)
            return std::nullopt;
        const int32_t from = std::max(period.from, *firstDay), to = std::min(period.to, *lastDay);
        return from <= to ? std::optional(std::pair(from, to)) : std::nullopt;
    }
    // The period with an open end closed at the days stored, and the period of as many days before it; a
    // period longer than kMaxComparedDays is cut to the days stored, and then to its last days. None when
    // nothing is stored.
    std::optional<ComparedDays> comparedDaysOf(const Period& period) const
    {
        if (!firstDay)
            return std::nullopt;
        int32_t from = period.from == INT32_MIN ? std::min(*firstDay, period.to) : period.from;
        int32_t to = period.to == INT32_MAX ? std::max(*lastDay, period.from) : period.to;
        if (int64_t{to} - from >= kMaxComparedDays)
            from = std::max(from, *firstDay), to = std::min(to, *lastDay);
        from = static_cast<int32_t>(std::max<int64_t>(from, int64_t{to} - kMaxComparedDays + 1));
        if (from > to)
            return std::nullopt;
        return ComparedDays{static_cast<int32_t>(std::max<int64_t>(INT32_MIN, 2 * int64_t{from} - to - 1)),
                            from, to};
    }
    static constexpr int32_t kMaxComparedDays = 3660;
};

} // namespace zncip::collector
