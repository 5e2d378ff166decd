// The views a product team asks for first, derived from a Report: active clients over the calendar
// against the previous period, version adoption, release health per version, top lists and physical
// memory by size. The JSON and the CSV (and so the pages) take them from here, so that every writer
// says the same. Pure functions of the report: any thread may call them.
#pragma once

#include "report/report.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zncip::collector
{

// A rate is given only over at least this many sessions or clients: fewer make it a matter of luck (one
// crash of three sessions reads as 67 %).
constexpr int64_t kMinSample = 30;
// A top list shows this many values, the rest summed in one row.
constexpr size_t kTopRows = 10;

// A rate and the number it stands on; no value below kMinSample.
struct SampledRate
{
    int64_t sample = 0;
    std::optional<double> value;
};
SampledRate sampledRate(int64_t part, int64_t sample);

// Distinct clients of each day, ISO week and month of the period, beside those of the previous period of
// as many days (the n-th span of each side by side). A span cut by a bound of its period is partial.
struct ActiveClients
{
    struct Span
    {
        int32_t start = 0, end = 0;
        bool partial = false;
        int64_t clients = 0;
    };
    struct Series
    {
        std::vector<Span> current, previous;
    };
    Rollups::ComparedDays days{};
    Series byDay, byWeek, byMonth;
    int64_t clients = 0, previousClients = 0;
    std::optional<double> change; // clients against the previous period's, -0.25 for a quarter fewer
};
// None when nothing is stored.
std::optional<ActiveClients> activeClients(const Report& report);

// Each version's share of the day's active clients over every calendar day of the period, and when each
// version was seen.
struct Adoption
{
    std::vector<int32_t> days;
    struct Series
    {
        std::string version;
        std::vector<std::optional<double>> share; // none on a day without any active client
    };
    std::vector<Series> series;
    struct Row
    {
        std::string version;
        int32_t firstDay = 0, lastDay = 0;
        int64_t clients = 0; // distinct over the period
    };
    std::vector<Row> rows; // in the order of the version numbers
};
Adoption versionAdoption(const Report& report);

// Per version: crash-free sessions (good of good and bad finished sessions) and crash-free clients (those
// without a bad session of the version's active clients), and the crash-free sessions over the days of
// the period, or over its ISO weeks when most days that had sessions had too few for a rate.
struct ReleaseHealth
{
    struct Row
    {
        std::string version;
        int64_t hits = 0;
        SessionCounts sessions;
        SampledRate crashFreeSessions;
        int64_t clients = 0, badClients = 0;
        SampledRate crashFreeClients;
    };
    std::vector<Row> rows; // every version with hits or sessions, in the order of their numbers
    bool weekly = false;
    std::vector<std::pair<int32_t, int32_t>> spans; // the chart's days or weeks, first and last day
    struct Series
    {
        std::string version;
        std::vector<SampledRate> rates; // one per span
    };
    std::vector<Series> series; // the versions with finished sessions
};
ReleaseHealth releaseHealth(const Report& report);

// The most reported values of a table with their shares of the reports and of the period's active
// clients, and one last row for the rest: its reports summed, its clients unknown (a client may have sent
// several of those values).
struct TopList
{
    struct Row
    {
        std::string value; // for the last row, how many values it sums, in words
        bool other = false;
        int64_t reports = 0;
        double reportShare = 0;
        std::optional<int64_t> clients;
        std::optional<double> clientShare;
    };
    std::vector<Row> rows;
    int64_t reports = 0;
};
TopList topList(const Report& report, const Tally& tally);

// Reports of physical memory (MiB) by size in GiB, the edges exact (8,000 MiB is under 8 GiB); a value
// that is no number of MiB counts as unknown. A bucket's clients are summed over its values.
struct MemoryBucket
{
    std::string size;
    int64_t reports = 0, clients = 0;
};
std::vector<MemoryBucket> memoryBuckets(const Report& report);

// Versions in the order of their numbers: 1.9 before 1.10.
bool versionLess(std::string_view a, std::string_view b);

} // namespace zncip::collector

namespace zncip::collector
{
// The views as members of the report's JSON object (",\"active_clients\":...,\"memory_gib\":[...]").
void appendViewsJson(std::string& out, const Report& report);
// A share or a rate as the JSON and the CSV write it.
std::string formatFraction(double value);
} // namespace zncip::collector
