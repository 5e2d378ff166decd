// The report of a period: what a product team reads, built from the rollups (report.cpp) and written as
// text (report_text.cpp) or JSON (report_json.cpp); the CSV and the page are in csv.h and html_report.h.
#pragma once

#include "store/hit_store.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace zncip::collector
{

// How often each value was reported, and by how many distinct clients.
struct Tally
{
    struct Entry
    {
        int64_t reports = 0;
        int64_t clients = 0;
    };
    std::map<std::string, Entry> values;
};

struct SessionCounts
{
    int64_t started = 0; // "Start"
    int64_t ended = 0;   // "End"
    // Sessions reported as finished by a later run.
    int64_t finished = 0; // "Global"
    int64_t good = 0;
    int64_t bad = 0;
    int64_t badWithCrashReport = 0;
    int64_t badWithoutCrashReport = 0;

    // Good finished sessions among good and bad ones; empty when none finished.
    std::optional<double> crashFreeRate() const;
};

// What a product team reads about a period, from the accepted hits (rejected ones only counted).
struct Report
{
    std::optional<int32_t> from, to; // the days with hits in the period; empty when there are none
    std::optional<std::string> version;

    int64_t accepted = 0;
    int64_t rejected = 0;
    int64_t clients = 0;
    std::map<std::string, int64_t> rejectionReasons;

    struct Usage
    {
        int64_t hits = 0;
        int64_t clients = 0;
    };
    std::map<std::pair<std::string, std::string>, Usage> applications; // (an, av)

    SessionCounts sessions;
    struct VersionDay
    {
        Usage usage;
        SessionCounts sessions;
    };
    struct Day
    {
        Usage usage;
        SessionCounts sessions;
        std::map<std::string, VersionDay> versions; // by av: adoption and crash-free rate over time
    };
    std::map<int32_t, Day> days;
    std::map<std::string, SessionCounts> versions; // by av
    std::map<std::string, int64_t> badClients;     // by av: clients with at least one bad session

    // Distinct clients of the days, ISO weeks and months of the period and of the one before it, as the
    // rollups read them (Rollups::activeClients), by span and first day; none when nothing is stored.
    std::optional<Rollups::ComparedDays> compared;
    std::map<std::pair<Rollups::Span, int32_t>, int64_t> activeClients;

    Tally commands;        // label "LINE (GROUP)"
    Tally unknownCommands; // the name as typed

    // Machine facts, reported once per run of the application.
    Tally operatingSystems, memory, scaling, threads, screenCounts, resolutions;
    Tally rendererCore, rendererCompatibility, versionCore, versionCompatibility;
};

Report buildReport(const Rollups& rollups, const Period& period);
// For a person at a terminal: what came from clients is made printable; every row of every table.
std::string formatReport(const Report& report);
// The same numbers for programs: one JSON object. Its tables of values give their most reported rows
// only (kJsonTableRows), the rest summed in a last row; "tables" lists them with their titles.
std::string reportJson(const Report& report);

} // namespace zncip::collector
