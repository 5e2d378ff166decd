// The zncip-collector command line: its usage, the options of each command, and the report, export and
// forget commands; serve is in serve.cpp. main calls runCli on the program's only thread.
#include "app/cli.h"

#include "app/options.h"
#include "app/serve.h"
#include "report/export.h"
#include "report/html_report.h"
#include "report/replace_file.h"
#include "report/report.h"
#include "text/days.h"
#include "text/utf8.h"

#include <fstream>
#include <cstdlib>

namespace zncip::collector
{
namespace
{

const char kUsage[] =
    "usage: zncip-collector serve [--listen ADDR] [--port N] [--db PATH] [--sync full|normal]\n"
    "                             [--timeout SECONDS] [--max-connections N] [--max-per-address N]\n"
    "                             [--discard] [--no-quickack] [--keep-raw-days N] [--max-db-mib N]\n"
    "                             [--admin-listen ADDR:PORT | --no-admin] [--admin-token-file FILE]\n"
    "                             [--admin-no-token] [--admin-host NAME]... [--read-db ADDRESS]\n"
    "       zncip-collector report [--db PATH] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--version V]\n"
    "                              [--json | --html FILE]\n"
    "       zncip-collector export [--db PATH]\n"
    "       zncip-collector forget --cid ID [--db PATH]\n"
    "\n"
    "serve   receive hits on POST /collect, /batch and /debug/collect (default 127.0.0.1:8089;\n"
    "        --port 0 picks a free port; the first line printed says which); the pages for the product\n"
    "        team and their API on --admin-listen (default 127.0.0.1:8090; port 0 picks one), opened by\n"
    "        the token in --admin-token-file or else in admin-token beside the database (made at first\n"
    "        start), or by nothing for this machine's users with --admin-no-token; --admin-host names a\n"
    "        Host the pages may be reached by besides the listen address; --read-db postgresql://... has\n"
    "        the pages read a hot standby of the --db database, so that they never slow the collection\n"
    "report  summary of the hits received in a period (default: all), of one version or all\n"
    "export  every stored hit as one JSON object per line\n"
    "forget  removes the hits of one client and takes it out of every count of clients\n"
    "The database defaults to ./zncip-collector.db; --db postgresql://... (a libpq address) uses a\n"
    "PostgreSQL database that several collectors can share.\n";

// The arguments after the command, one at a time: the option, and the value that follows it.
class Arguments
{
public:
    explicit Arguments(const std::vector<std::string>& args) : args_(args) {}
    bool more() const { return i_ + 1 < args_.size(); }
    const std::string& option() { return args_[++i_]; }
    bool value(std::string& v)
    {
        if (i_ + 1 >= args_.size())
            return false;
        v = args_[++i_];
        return true;
    }

private:
    const std::vector<std::string>& args_;
    size_t i_ = 0; // the command
};

bool parseUnsigned(const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= max;
}

// Each parser below takes the options of one command or listener: it returns false for an option not its
// own, and otherwise sets problem when the option's value is wrong.

bool parseCollectOption(const std::string& a, Arguments& in, Options& o, std::string& problem)
{
    std::string v;
    unsigned long n = 0;
    if (a == "--listen")
    {
        if (!in.value(o.server.listenAddress))
            problem = "--listen needs an address";
    }
    else if (a == "--port")
    {
        if (!in.value(v) || !parseUnsigned(v, 65535, n))
            problem = "--port needs a number from 0 to 65535";
        o.server.port = static_cast<uint16_t>(n);
    }
    else if (a == "--max-db-mib")
    {
        if (!in.value(v) || !parseUnsigned(v, 1u << 30, n) || n == 0)
            problem = "--max-db-mib needs a number of MiB";
        o.server.storeOptions.maxBytes = static_cast<int64_t>(n) << 20;
    }
    else if (a == "--sync")
    {
        if (!in.value(v) || (v != "full" && v != "normal"))
            problem = "--sync needs full or normal";
        o.server.storeOptions.syncFull = v == "full";
    }
    else if (a == "--timeout")
    {
        if (!in.value(v) || !parseUnsigned(v, 3600, n) || n == 0)
            problem = "--timeout needs a number of seconds from 1 to 3600";
        o.server.idleTimeoutSec = static_cast<unsigned>(n);
    }
    else if (a == "--max-connections")
    {
        if (!in.value(v) || !parseUnsigned(v, 10000, n) || n == 0)
            problem = "--max-connections needs a number from 1 to 10000";
        o.server.connectionLimit = static_cast<unsigned>(n);
    }
    else if (a == "--max-per-address")
    {
        if (!in.value(v) || !parseUnsigned(v, 10000, n) || n == 0)
            problem = "--max-per-address needs a number from 1 to 10000";
        o.server.connectionsPerAddress = static_cast<unsigned>(n);
    }
    else if (a == "--keep-raw-days")
    {
        if (!in.value(v) || !parseUnsigned(v, 100000, n) || n == 0)
            problem = "--keep-raw-days needs a number of days from 1 to 100000";
        o.keepRawDays = static_cast<unsigned>(n);
    }
    else if (a == "--discard")
        o.server.discard = true;
    else if (a == "--no-quickack")
        o.server.quickAck = false;
    else
        return false;
    return true;
}

bool parseAdminOption(const std::string& a, Arguments& in, Options& o, std::string& problem)
{
    std::string v;
    unsigned long n = 0;
    if (a == "--admin-listen")
    {
        const size_t colon = in.value(v) ? v.rfind(':') : std::string::npos;
        if (colon == std::string::npos || !parseUnsigned(v.substr(colon + 1), 65535, n))
            problem = "--admin-listen needs ADDRESS:PORT, such as 127.0.0.1:8090 or [::1]:8090";
        else
            o.admin.listenAddress = v.substr(0, colon);
        o.admin.port = static_cast<uint16_t>(n);
    }
    else if (a == "--no-admin")
        o.noAdmin = true;
    else if (a == "--admin-token-file")
    {
        if (!in.value(o.admin.tokenFile) || o.admin.tokenFile.empty())
            problem = "--admin-token-file needs a file";
    }
    else if (a == "--admin-no-token")
        o.admin.noToken = true;
    else if (a == "--read-db")
    {
        if (!in.value(o.readDb) || o.readDb.empty())
            problem = "--read-db needs the address of a hot standby";
    }
    else if (a == "--admin-host")
    {
        if (!in.value(v) || v.empty() || v.find_first_of(":/[] ") != std::string::npos)
            problem = "--admin-host needs a host name, without a port";
        o.admin.hostNames.push_back(v);
    }
    else
        return false;
    return true;
}

bool parseReportOption(const std::string& a, Arguments& in, Options& o, std::string& problem)
{
    std::string v;
    if (a == "--from" || a == "--to")
    {
        int32_t day = 0;
        if (!in.value(v) || !parseDay(v, day))
            problem = a + " needs a date as YYYY-MM-DD";
        (a == "--from" ? o.period.from : o.period.to) = day;
    }
    else if (a == "--version")
    {
        if (!in.value(v))
            problem = "--version needs a version";
        o.period.version = v;
    }
    else if (a == "--json")
        o.json = true;
    else if (a == "--html")
    {
        if (!in.value(o.htmlFile) || o.htmlFile.empty())
            problem = "--html needs a file";
    }
    else
        return false;
    return true;
}

// What the options say together that none says alone; empty when they agree.
std::string checkTogether(const std::string& command, const Options& o)
{
    if (command == "forget" && o.client.empty() && !o.help)
        return "forget needs --cid ID";
    if (o.json && !o.htmlFile.empty())
        return "--json and --html exclude each other";
    if (o.noAdmin && !o.admin.tokenFile.empty())
        return "--no-admin and --admin-token-file exclude each other";
    if (o.admin.noToken && !o.admin.tokenFile.empty())
        return "--admin-no-token and --admin-token-file exclude each other";
    if (o.noAdmin && (o.admin.noToken || !o.admin.hostNames.empty() || !o.readDb.empty()))
        return "--no-admin excludes the other --admin options and --read-db";
    return {};
}

// Returns an error message, empty when the options are fine.
std::string parseOptions(const std::string& command, const std::vector<std::string>& args, Options& o)
{
    const bool serve = command == "serve";
    Arguments in(args);
    while (in.more())
    {
        const std::string& a = in.option();
        std::string problem;
        if (a == "--help" || a == "-h")
            o.help = true;
        else if (a == "--db")
        {
            if (!in.value(o.server.dbPath) || o.server.dbPath.empty())
                return "--db needs a path";
        }
        else if (command == "forget" && a == "--cid")
        {
            if (!in.value(o.client) || o.client.empty())
                return "--cid needs a client identifier";
        }
        else if (!(serve && parseCollectOption(a, in, o, problem)) && !(serve && parseAdminOption(a, in, o, problem)) &&
                 !(command == "report" && parseReportOption(a, in, o, problem)))
            return "unknown option " + a;
        if (!problem.empty())
            return problem;
    }
    return checkTogether(command, o);
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
