// One connection to a PostgreSQL database: connecting and setting the session up, preparing the store's
// statements, running them with binary parameters and results, retrying what the server undid whole, and
// failures told in one line without the address's password. Not thread-safe: its owner serialises every
// call (PostgresStore does, with its mutex).
#pragma once

#include "store/postgres/binary_params.h"
#include "store/postgres/queries.h"
#include "store/records.h"

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <string>

namespace zncip::collector::postgres
{

struct ResultDeleter
{
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// One line of a libpq message, which may span several.
std::string oneLine(const char* message);
// The address as it may be printed: without its password.
std::string printable(const std::string& uri);

class Connection
{
public:
    // syncFull: whether commits wait for the disk (synchronous_commit).
    Connection(std::string uri, bool syncFull) : uri_(std::move(uri)), syncFull_(syncFull) {}
    ~Connection() { PQfinish(conn_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects (again), sets the session up and picks the shard; the statements are not prepared yet.
    void connect();
    // Prepares every statement of preparedQueries(); from then on, run() reconnects by itself.
    void prepare();

    // "database <address>", for messages.
    std::string described() const { return "database " + printable(uri_); }
    // The shard of the counters this connection adds to.
    int32_t shard() const { return shard_; }

    // A statement of its own (or several), unprepared, in text form. Throws StoreError naming what failed.
    void exec(const char* sql, const char* what);
    // One unprepared statement with binary parameters and results.
    Result execParams(const char* sql, const Params& p, const char* what);
    // A prepared statement. A lost connection is opened again for the next call; the call that found it
    // lost fails. Returns null only when retry is allowed and the transaction failed in a way that left
    // nothing behind.
    Result run(const PreparedQuery& q, const Params& p, const char* what, bool retry = false);
    // As run(), but a transaction the server undid for a deadlock or a serialisation failure (two batches
    // meeting on a row) runs again, up to kAttempts times in all.
    Result runRetrying(const PreparedQuery& q, const Params& p, const char* what);
    static constexpr int kAttempts = 3;
    // A prepared statement without parameters whose rows come one at a time, for results too large to hold.
    // Every result is read, however onRow ends, so that the connection can serve the next call; an
    // exception from onRow ends the rows handed to it and is thrown again as a StoreError.
    void stream(const PreparedQuery& q, const char* what, const std::function<void(const PGresult*)>& onRow);

    // "<what> failed: <the server's message>", saying when the connection was lost.
    std::string errorOf(const PGresult* r) const;
    StoreError failure(const char* what, const PGresult* r) const;

private:
    void ensureConnected();

    std::string uri_;
    bool syncFull_;
    PGconn* conn_ = nullptr;
    int32_t shard_ = 0;
    bool ready_ = false; // connected, and the statements prepared
};

} // namespace zncip::collector::postgres
