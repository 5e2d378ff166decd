#include "app/cli.h"

#include "admin/admin_server.h"
#include "report/export.h"
#include "ingest/form.h"
#include "ingest/hit_facts.h"
#include "report/html_report.h"
#include "report/replace_file.h"
#include "report/report.h"
#include "ingest/collect_server.h"
#include "text/days.h"
#include "text/utf8.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <cstdlib>
#include <pthread.h>

namespace zncip::collector
{
namespace
{

const char kUsage[] =
    "usage: zncip-collector serve [--listen ADDR] [--port N] [--db PATH] [--sync full|normal]\n"
    "                             [--timeout SECONDS] [--max-connections N] [--max-per-address N]\n"
    "                             [--discard] [--no-quickack] [--keep-raw-days N] [--max-db-mib N]\n"
    "                             [--admin-listen ADDR:PORT | --no-admin] [--admin-token-file FILE]\n"
    "       zncip-collector report [--db PATH] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--version V]\n"
    "                              [--json | --html FILE]\n"
    "       zncip-collector export [--db PATH]\n"
    "       zncip-collector forget --cid ID [--db PATH]\n"
    "\n"
    "serve   receive hits on POST /collect, /batch and /debug/collect (default 127.0.0.1:8089;\n"
    "        --port 0 picks a free port; the first line printed says which); the pages for the product\n"
    "        team and their API on --admin-listen (default 127.0.0.1:8090; port 0 picks one)\n"
    "report  summary of the hits received in a period (default: all), of one version or all\n"
    "export  every stored hit as one JSON object per line\n"
    "forget  removes the hits of one client and takes it out of every count of clients\n"
    "The database defaults to ./zncip-collector.db; --db postgresql://... (a libpq address) uses a\n"
    "PostgreSQL database that several collectors can share.\n";

struct Options
{
    CollectConfig server;
    AdminConfig admin;
    bool noAdmin = false;
    std::string htmlFile;
    Period period;
    bool json = false;
    std::string client;
    unsigned keepRawDays = 0; // 0: keep every raw hit
    bool help = false;
};

// How often a collector that keeps raw hits for a limited time looks for old ones.
constexpr int kPruneEverySeconds = 3600;

bool parseUnsigned(const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= max;
}

// Returns an error message, empty when the options are fine.
std::string parseOptions(const std::string& command, const std::vector<std::string>& args, Options& o)
{
    const bool serve = command == "serve";
    const bool report = command == "report";
    for (size_t i = 1; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        auto next = [&](std::string& value)
        {
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        std::string v;
        unsigned long n = 0;
        if (a == "--help" || a == "-h")
            o.help = true;
        else if (a == "--db")
        {
            if (!next(o.server.dbPath) || o.server.dbPath.empty())
                return "--db needs a path";
        }
        else if (serve && a == "--listen")
        {
            if (!next(o.server.listenAddress))
                return "--listen needs an address";
        }
        else if (serve && a == "--port")
        {
            if (!next(v) || !parseUnsigned(v, 65535, n))
                return "--port needs a number from 0 to 65535";
            o.server.port = static_cast<uint16_t>(n);
        }
        else if (serve && a == "--max-db-mib")
        {
            if (!next(v) || !parseUnsigned(v, 1u << 30, n) || n == 0)
                return "--max-db-mib needs a number of MiB";
            o.server.storeOptions.maxBytes = static_cast<int64_t>(n) << 20;
        }
        else if (serve && a == "--sync")
        {
            if (!next(v) || (v != "full" && v != "normal"))
                return "--sync needs full or normal";
            o.server.storeOptions.syncFull = v == "full";
        }
        else if (serve && a == "--timeout")
        {
            if (!next(v) || !parseUnsigned(v, 3600, n) || n == 0)
                return "--timeout needs a number of seconds from 1 to 3600";
            o.server.idleTimeoutSec = static_cast<unsigned>(n);
        }
        else if (serve && a == "--max-connections")
        {
            if (!next(v) || !parseUnsigned(v, 10000, n) || n == 0)
                return "--max-connections needs a number from 1 to 10000";
            o.server.connectionLimit = static_cast<unsigned>(n);
        }
        else if (serve && a == "--max-per-address")
        {
            if (!next(v) || !parseUnsigned(v, 10000, n) || n == 0)
                return "--max-per-address needs a number from 1 to 10000";
            o.server.connectionsPerAddress = static_cast<unsigned>(n);
        }
        else if (report && (a == "--from" || a == "--to"))
        {
            int32_t day = 0;
            if (!next(v) || !parseDay(v, day))
                return a + " needs a date as YYYY-MM-DD";
            (a == "--from" ? o.period.from : o.period.to) = day;
        }
        else if (report && a == "--version")
        {
            if (!next(v))
                return "--version needs a version";
            o.period.version = v;
        }
        else if (report && a == "--json")
            o.json = true;
        else if (report && a == "--html")
        {
            if (!next(o.htmlFile) || o.htmlFile.empty())
                return "--html needs a file";
        }
        else if (serve && a == "--admin-listen")
        {
            const size_t colon = next(v) ? v.rfind(':') : std::string::npos;
            if (colon == std::string::npos || !parseUnsigned(v.substr(colon + 1), 65535, n))
                return "--admin-listen needs ADDRESS:PORT, such as 127.0.0.1:8090 or [::1]:8090";
            o.admin.listenAddress = v.substr(0, colon);
            o.admin.port = static_cast<uint16_t>(n);
        }
        else if (serve && a == "--no-admin")
            o.noAdmin = true;
        else if (serve && a == "--admin-token-file")
        {
            if (!next(o.admin.tokenFile) || o.admin.tokenFile.empty())
                return "--admin-token-file needs a file";
        }
        else if (command == "forget" && a == "--cid")
        {
            if (!next(o.client) || o.client.empty())
                return "--cid needs a client identifier";
        }
        else if (serve && a == "--keep-raw-days")
        {
            if (!next(v) || !parseUnsigned(v, 100000, n) || n == 0)
                return "--keep-raw-days needs a number of days from 1 to 100000";
            o.keepRawDays = static_cast<unsigned>(n);
        }
        else if (serve && a == "--discard")
            o.server.discard = true;
        else if (serve && a == "--no-quickack")
            o.server.quickAck = false;
        else
            return "unknown option " + a;
    }
    if (command == "forget" && o.client.empty() && !o.help)
        return "forget needs --cid ID";
    if (o.json && !o.htmlFile.empty())
        return "--json and --html exclude each other";
    if (o.noAdmin && !o.admin.tokenFile.empty())
        return "--no-admin and --admin-token-file exclude each other";
    return {};
}

int64_t todayUtc()
{
    return dayOf(std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count());
}

// Raw hits older than the days to keep, removed on a connection of its own; the rollups keep them.
void pruneRaw(const CollectConfig& config, unsigned keepDays, std::ostream& err)
{
    try
    {
        const int64_t removed = openStore(config.dbPath, config.storeOptions)
                                    ->pruneRawBefore(static_cast<int32_t>(todayUtc() - keepDays + 1));
        if (removed)
            err << "zncip-collector: pruned " << removed << " raw hit(s) older than " << keepDays << " day(s)"
                << std::endl;
    }
    catch (const StoreError& e)
    {
        err << "zncip-collector: pruning failed, tried again later: " << e.what() << std::endl;
    }
}

int serve(const Options& options, std::ostream& out, std::ostream& err)
{
    // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Under a file-size limit a write past it must fail (and the hit be answered 503), not end the process.
    std::signal(SIGXFSZ, SIG_IGN);

    const CollectConfig& config = options.server;
    const unsigned keepRawDays = options.keepRawDays;
    CollectServer server(config);
    AdminConfig adminConfig = options.admin;
    adminConfig.dbPath = config.dbPath;
    adminConfig.storeOptions = config.storeOptions;
    AdminServer admin(adminConfig);
    try
    {
        server.start();
        if (!options.noAdmin && !config.discard)
            admin.start();
    }
    catch (const StartError& e)
    {
        err << "zncip-collector: " << e.what() << std::endl;
        return kExitFailure;
    }
    out << "listening on " << server.address() << ":" << server.port() << std::endl;
    if (!options.noAdmin && !config.discard)
        out << "admin pages on http://" << admin.address() << ":" << admin.port() << "/" << std::endl;
    if (keepRawDays)
    {
        const timespec interval{kPruneEverySeconds, 0};
        do
            pruneRaw(config, keepRawDays, err);
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

} // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? kExitUsage : 0;
    }
    const std::string& command = args[0];
    if (command != "serve" && command != "report" && command != "export" && command != "forget")
    {
        err << "zncip-collector: unknown command " << command << "\n" << kUsage;
        return kExitUsage;
    }
    Options options;
    const std::string problem = parseOptions(command, args, options);
    if (!problem.empty())
    {
        err << "zncip-collector: " << problem << "\n" << kUsage;
        return kExitUsage;
    }
    if (options.help)
    {
        out << kUsage;
        return 0;
    }
    if (command == "serve")
        return serve(options, out, err);

    try
    {
        if (command == "forget")
        {
            const Forgotten gone = openStore(options.server.dbPath, options.server.storeOptions)->forget(options.client);
            if (gone.hits == 0 && gone.daysPresent == 0)
                out << "nothing is stored of client " << printableText(options.client) << std::endl;
            else
                out << "forgot client " << printableText(options.client) << ": removed " << gone.hits
                    << " stored hit(s), and the client from the distinct-client counts of " << gone.daysPresent
                    << " (key, day) pair(s)" << std::endl;
            return 0;
        }
        StoreOptions readOnly = options.server.storeOptions;
        readOnly.readOnly = true;
        const auto store = openStore(options.server.dbPath, readOnly);
        if (command == "report")
        {
            const Report report = buildReport(store->rollups(options.period), options.period);
            if (!options.htmlFile.empty())
            {
                if (const auto error = replaceFile(options.htmlFile, htmlReport(report, store->versions(),
                                                                                store->rejectedSamples(options.period, 5))))
                {
                    err << "zncip-collector: " << *error << std::endl;
                    return kExitFailure;
                }
                out << "wrote " << options.htmlFile << std::endl;
            }
            else
                out << (options.json ? reportJson(report) + "\n" : formatReport(report)) << std::flush;
        }
        else
            exportAll(*store, out);
        return 0;
    }
    catch (const StoreError& e)
    {
        err << "zncip-collector: " << e.what() << std::endl;
        return kExitFailure;
    }
}

} // namespace zncip::collector
