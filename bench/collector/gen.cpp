// Writes a collector database (an SQLite file, or a postgresql:// address) of a month of a fleet's
// telemetry, through the collector's own store, for the report and size benchmarks.
//
// usage: zncip-collector-gen --db PATH [--hits N] [--days D] [--versions V] [--clients C]
//                            [--last-day YYYY-MM-DD] [--seed S]

#include "ingest/hit_facts.h"
#include "hit_generator.h"
#include "store/hit_store.h"
#include "text/days.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    using namespace zncip;
    bench::FleetOptions options;
    std::string db;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (i + 1 >= argc)
        {
            std::fprintf(stderr, "zncip-collector-gen: %s needs a value\n", a.c_str());
            return 2;
        }
        const char* v = argv[++i];
        if (a == "--db")
            db = v;
        else if (a == "--hits")
            options.hits = std::atoll(v);
        else if (a == "--days")
            options.days = std::atoi(v);
        else if (a == "--versions")
            options.versions = std::atoi(v);
        else if (a == "--clients")
            options.clients = std::atoi(v);
        else if (a == "--seed")
            options.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--last-day")
        {
            if (!collector::parseDay(v, options.lastDay))
            {
                std::fprintf(stderr, "zncip-collector-gen: --last-day needs YYYY-MM-DD\n");
                return 2;
            }
        }
        else
        {
            std::fprintf(stderr, "zncip-collector-gen: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (db.empty())
    {
        std::fprintf(stderr, "usage: zncip-collector-gen --db PATH [--hits N] [--days D] [--versions V] "
                             "[--clients C] [--last-day YYYY-MM-DD] [--seed S]\n");
        return 2;
    }
    try
    {
        int64_t nextReport = 0;
        const bench::FleetResult r = bench::generateFleet(
            db, options,
            [&](int64_t written, double seconds)
            {
                if (written < nextReport && written != options.hits)
                    return;
                nextReport = written + std::max<int64_t>(options.hits / 20, 1);
                std::printf("  %11lld hits  %7.1f s  %8.0f hits/s\n", static_cast<long long>(written),
                            seconds, static_cast<double>(written) / seconds);
                std::fflush(stdout);
            });
        std::printf(
            "%s: %lld hits in %lld runs of %d clients, %s to %s, %d version(s): %.1f s, %.0f hits/s\n",
            db.c_str(), static_cast<long long>(r.hits), static_cast<long long>(r.runs), options.clients,
            collector::formatDay(r.firstDay).c_str(), collector::formatDay(r.lastDay).c_str(),
            options.versions, r.seconds, static_cast<double>(r.hits) / r.seconds);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-collector-gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
