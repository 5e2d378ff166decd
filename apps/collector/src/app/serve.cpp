// The serve command (see serve.h): signals first, then the collection listener, then the admin listener
// (which reads the store the first one may have just created or migrated, or a hot standby of it once the
// standby has replayed that), then the upkeep timer on the main thread until a stop signal; stopping in the
// reverse order.
#include "app/serve.h"

#include "app/cli.h"
#include "app/replica_status.h"
#include "text/days.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <pthread.h>

namespace zncip::collector
{
namespace
{

// How often a collector makes the partitions of the days ahead (PostgreSQL) and, when it keeps raw hits for
// a limited time, looks for old ones.
constexpr int kUpkeepEverySeconds = 3600;
// After a failed upkeep (the database away, a lock waited for too long): sooner, so that today's hits do
// not wait an hour in hits_default.
constexpr int kUpkeepRetrySeconds = 60;
// The days after today whose partitions are made ahead: their hits then never wait in hits_default, even
// when every collector was stopped for a long weekend.
constexpr int kDaysAhead = 3;
// How long the start waits for a hot standby to replay the schema the writer may just have made.
constexpr std::chrono::seconds kReplayPatience{10};

int64_t todayUtc()
{
    return dayOf(std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count());
}

// On a connection of its own: the room for the hits of today and the days ahead, then the raw hits older
// than the days to keep (0: none) removed; the rollups keep them. False when a step failed.
bool upkeep(const CollectConfig& config, unsigned keepDays, std::ostream& err)
{
    const auto today = static_cast<int32_t>(todayUtc());
    // Each step tried even when the one before failed: a partition that waited too long for its lock does
    // not hold up pruning, and the next hour tries again.
    const auto attempt = [&](const char* step, const std::function<void()>& work)
    {
        try
        {
            work();
            return true;
        }
        catch (const StoreError& e)
        {
            err << "zncip-collector: " << step << " failed, tried again later: " << e.what() << std::endl;
            return false;
        }
    };
    std::unique_ptr<HitStore> store;
    if (!attempt("opening the database for its upkeep",
                 [&] { store = openStore(config.dbPath, config.storeOptions); }))
        return false;
    bool done =
        attempt("making room for the days ahead", [&] { store->prepareDays(today, today + kDaysAhead); });
    if (keepDays)
        done &= attempt("pruning",
                        [&]
                        {
                            const int64_t removed =
                                store->pruneRawBefore(static_cast<int32_t>(today - keepDays + 1));
                            if (removed)
                                err << "zncip-collector: pruned " << removed << " raw hit(s) older than "
                                    << keepDays << " day(s)" << std::endl;
                        });
    return done;
}

// Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Under a file-size limit a write past it must fail (and the hit be answered 503), not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    return stopSignals;
}

// The admin lines after "listening on": where the pages are and what opens them.
void tellAdmin(const AdminServer& admin, std::ostream& out)
{
    out << "admin pages on http://" << admin.address() << ":" << admin.port() << "/" << std::endl;
    if (admin.tokenFile().empty())
        out << "admin pages open to every user of this machine, without a token" << std::endl;
    else
        out << (admin.tokenMade() ? "admin token written to " : "admin token in ") << admin.tokenFile()
            << std::endl;
}

} // namespace

int serve(const Options& options, std::ostream& out, std::ostream& err)
{
    sigset_t stopSignals = blockStopSignals();
    const CollectConfig& config = options.server;
    const unsigned keepRawDays = options.keepRawDays;
    const bool withAdmin = !options.noAdmin && !config.discard;
    const std::string& readDb = options.readDb;
    if (const std::string problem = readDb.empty() ? "" : readReplicaProblem(config.dbPath, readDb);
        !problem.empty())
    {
        err << "zncip-collector: " << problem << std::endl;
        return kExitFailure;
    }
    CollectServer server(config);
    // The pages read on connections of their own, never waiting for the writer's.
    ReplicaStatus status(readDb.empty() ? config.dbPath : readDb);
    AdminConfig adminConfig = options.admin;
    adminConfig.dbPath = config.dbPath;
    adminConfig.readDbPath = readDb;
    adminConfig.storeOptions = config.storeOptions;
    adminConfig.status = [&status] { return status.json(); };
    AdminServer admin(adminConfig);
    try
    {
        server.start();
        if (withAdmin && !readDb.empty() && !awaitReplay(config.dbPath, readDb, kReplayPatience))
            err << "zncip-collector: the standby " << postgres::printable(readDb)
                << " has not caught up with the primary within " << kReplayPatience.count()
                << " s: the pages show older data until it has" << std::endl;
        if (withAdmin)
            admin.start();
    }
    catch (const std::runtime_error& e) // StartError, or a StoreError from the standby
    {
        err << "zncip-collector: " << e.what() << std::endl;
        return kExitFailure;
    }
    out << "listening on " << server.address() << ":" << server.port() << std::endl;
    if (withAdmin)
        tellAdmin(admin, out);
    // A PostgreSQL store always has upkeep to do; an SQLite one only when it prunes.
    if (keepRawDays || (!config.discard && isPostgresAddress(config.dbPath)))
    {
        timespec interval{};
        do
            interval.tv_sec = upkeep(config, keepRawDays, err) ? kUpkeepEverySeconds : kUpkeepRetrySeconds;
        while (sigtimedwait(&stopSignals, nullptr, &interval) < 0);
    }
    else
    {
        int signal = 0;
        sigwait(&stopSignals, &signal);
    }
    admin.stop();
    server.stop();
    return 0;
}

} // namespace zncip::collector
