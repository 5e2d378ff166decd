// Talking to the server through libpq: the session's set-up, prepared statements, binary parameters and
// the one-line failures the collector prints.
#include "store/postgres/connection.h"

#include "store/postgres/sql_files.h"
#include "store/schema_constants.h"

#include <cstring>
#include <vector>

namespace zncip::collector::postgres
{
namespace
{

// SQLSTATEs after which the same transaction may simply run again: nothing of it was kept.
bool transient(const PGresult* r)
{
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    return state && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0);
}

bool succeeded(const PGresult* r)
{
    const ExecStatusType status = PQresultStatus(r);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// Every parameter in binary form, as libpq takes them.
struct WireParams
{
    explicit WireParams(const Params& p) : formats(p.values.size(), 1)
    {
        for (size_t i = 0; i < p.values.size(); ++i)
        {
            values.push_back(p.isNull[i] ? nullptr : p.values[i].data());
            lengths.push_back(static_cast<int>(p.values[i].size()));
        }
    }
    int count() const { return static_cast<int>(values.size()); }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
};

constexpr int kBinaryResults = 1;

} // namespace

std::string oneLine(const char* message)
{
    std::string out;
    for (const char* p = message; *p; ++p)
    {
        if (*p == '\n' || *p == '\t' || *p == '\r')
        {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        else
            out += *p;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string printable(const std::string& uri)
{
    std::string out = uri;
    const size_t scheme = out.find("://");
    if (scheme != std::string::npos)
    {
        const size_t at = out.find('@', scheme + 3);
        const size_t slash = out.find('/', scheme + 3);
        const size_t colon = out.find(':', scheme + 3);
        if (at != std::string::npos && (slash == std::string::npos || at < slash) && colon < at)
            out.replace(colon + 1, at - colon - 1, "***");
    }
    for (size_t p = out.find("password="); p != std::string::npos; p = out.find("password=", p + 1))
    {
        const size_t end = out.find('&', p);
        out.replace(p + 9, (end == std::string::npos ? out.size() : end) - p - 9, "***");
    }
    return out;
}

void Connection::connect()
{
    // An address that names no timeout of its own still fails within seconds when nothing answers.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "zncip-collector", uri_.c_str(), nullptr};
    ready_ = false;
    PQfinish(conn_);
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (!conn_)
        throw StoreError("cannot connect to " + described() + ": out of memory", true);
    if (PQstatus(conn_) != CONNECTION_OK)
    {
        const std::string message = oneLine(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw StoreError("cannot connect to " + described() + ": " + message, true);
    }
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr); // "already exists, skipping"
    exec(syncFull_ ? "SET synchronous_commit = on" : "SET synchronous_commit = off",
         "setting up the connection");
    // Each connection adds to its own counter rows, as far as the shards allow.
    Params shards;
    shards.add(int32_t{schema::kShards});
    Result r = execParams(sqlText("connection/shard.sql"), shards, "setting up the connection");
    shard_ = static_cast<int32_t>(integer(r.get(), 0, 0));
}

void Connection::prepare()
{
    for (const PreparedQuery* q : preparedQueries())
    {
        Result r(PQprepare(conn_, q->name, q->sql(), static_cast<int>(q->parameterTypes.size()),
                           q->parameterTypes.data()));
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
            throw failure("preparing statements", r.get());
    }
    ready_ = true;
}

void Connection::ensureConnected()
{
    if (ready_ && PQstatus(conn_) == CONNECTION_OK)
        return;
    connect();
    prepare();
}

void Connection::exec(const char* sql, const char* what)
{
    Result r(PQexec(conn_, sql));
    if (!succeeded(r.get()))
        throw failure(what, r.get());
}

Result Connection::execParams(const char* sql, const Params& p, const char* what)
{
    const WireParams wire(p);
    Result r(PQexecParams(conn_, sql, wire.count(), nullptr, wire.values.data(), wire.lengths.data(),
                          wire.formats.data(), kBinaryResults));
    if (!succeeded(r.get()))
        throw failure(what, r.get());
    return r;
}

Result Connection::run(const PreparedQuery& q, const Params& p, const char* what, bool retry)
{
    ensureConnected();
    const WireParams wire(p);
    Result r(PQexecPrepared(conn_, q.name, wire.count(), wire.values.data(), wire.lengths.data(),
                            wire.formats.data(), kBinaryResults));
    if (succeeded(r.get()))
        return r;
    if (retry && transient(r.get()))
        return nullptr;
    throw failure(what, r.get());
}

Result Connection::runRetrying(const PreparedQuery& q, const Params& p, const char* what)
{
    for (int attempt = 1;; ++attempt)
        if (Result r = run(q, p, what, attempt < kAttempts))
            return r;
}

void Connection::stream(const PreparedQuery& q, const char* what,
                        const std::function<void(const PGresult*)>& onRow)
{
    ensureConnected();
    if (!PQsendQueryPrepared(conn_, q.name, 0, nullptr, nullptr, nullptr, kBinaryResults) ||
        !PQsetSingleRowMode(conn_))
        throw failure(what, nullptr);
    std::string error;
    while (PGresult* raw = PQgetResult(conn_))
    {
        Result r(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_SINGLE_TUPLE && error.empty())
        {
            try
            {
                onRow(raw);
            }
            catch (const std::exception& e)
            {
                error = e.what();
            }
        }
        else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && error.empty())
            error = std::string(what) + " failed: " + errorOf(raw);
    }
    if (!error.empty())
        throw StoreError(error);
}

// The server's own words without the context it adds (the text of the statement, which for the batch
// function is a page long): one short line per failure, however often it happens.
std::string Connection::errorOf(const PGresult* r) const
{
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!primary)
        return oneLine(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
    const char* severity = PQresultErrorField(r, PG_DIAG_SEVERITY);
    return oneLine(((severity ? std::string(severity) + ":  " : std::string()) + primary).c_str());
}

StoreError Connection::failure(const char* what, const PGresult* r) const
{
    const std::string message = errorOf(r);
    if (PQstatus(conn_) != CONNECTION_OK)
        return StoreError(
            std::string(what) + " failed: lost the connection to " + described() + ": " + message, true);
    return StoreError(std::string(what) + " failed: " + message);
}

} // namespace zncip::collector::postgres
