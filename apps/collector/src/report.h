#pragma once

#include "hit_store.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
        std::set<std::string> clients;
    };
    std::map<std::string, Entry> values;

    void add(const std::string& value, const std::string& client);
    int64_t reports(const std::string& value) const;
};

// What a product team reads, computed from the accepted hits only.
struct Report
{
    int64_t stored = 0;
    int64_t accepted = 0;
    int64_t rejected = 0;
    std::map<std::string, int64_t> rejectionReasons;
    std::set<std::string> clients;

    Tally commands;        // label "LINE (GROUP)"
    Tally unknownCommands; // the name as typed

    // Machine facts, reported once per run of the application.
    Tally operatingSystems, memory, scaling, threads, screenCounts, resolutions;
    Tally rendererCore, rendererCompatibility, versionCore, versionCompatibility;

    int64_t sessionsStarted = 0;
    int64_t sessionsEnded = 0;

    // Sessions reported as finished by a later run.
    int64_t finished = 0; // "Global"
    int64_t good = 0;
    int64_t bad = 0;
    int64_t badWithCrashReport = 0;
    int64_t badWithoutCrashReport = 0;

    struct Application
    {
        int64_t hits = 0;
        std::set<std::string> clients;
    };
    std::map<std::pair<std::string, std::string>, Application> applications; // (an, av)

    // Good finished sessions among good and bad ones; empty when none finished.
    std::optional<double> crashFreeRate() const;
};

Report buildReport(const HitStore& store);
std::string formatReport(const Report& report);

} // namespace zncip::collector
