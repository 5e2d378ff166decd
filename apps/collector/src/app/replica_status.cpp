// The replay lag of the database the admin pages read, and the checks before they read a hot standby;
// see replica_status.h.
#include "app/replica_status.h"

#include "text/utf8.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace zncip::collector
{
namespace
{

// Whether the server is a standby, the age of the last change it replayed in milliseconds, and that
// change's commit time. A promoted standby still knows its last replayed change: only recovery counts.
const char kStatusSql[] =
    "SELECT pg_is_in_recovery(), "
    "CASE WHEN pg_is_in_recovery() THEN "
    "(extract(epoch FROM now() - pg_last_xact_replay_timestamp()) * 1000)::int8 END, "
    "CASE WHEN pg_is_in_recovery() THEN to_char(pg_last_xact_replay_timestamp() AT TIME ZONE 'UTC', "
    "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') END";
// Positions in the write-ahead log as byte counts: what the primary has written, what the standby replayed.
const char kWrittenSql[] = "SELECT (pg_current_wal_lsn() - '0/0'::pg_lsn)::int8";
const char kReplayedSql[] =
    "SELECT pg_is_in_recovery(), (coalesce(pg_last_wal_replay_lsn(), '0/0') - '0/0'::pg_lsn)::int8";

const char kReadingStatus[] = "reading the replication status";
const char kReplicaKey[] = "replica";
const char kLagKey[] = "lag_seconds";
const char kAsOfKey[] = "data_as_of";
constexpr std::chrono::milliseconds kReplayPoll{20};

std::string statusJson(bool replica, const std::string& lag, const std::string& asOf)
{
    return std::string("{\"") + kReplicaKey + "\":" + (replica ? "true" : "false") + ",\"" + kLagKey +
           "\":" + lag + ",\"" + kAsOfKey + "\":" + asOf + "}";
}

} // namespace

bool isPostgresAddress(const std::string& address)
{
    return address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0;
}

std::string readReplicaProblem(const std::string& db, const std::string& readDb)
{
    if (!isPostgresAddress(readDb))
        return "--read-db " + printableText(readDb) +
               " is not a PostgreSQL address: it takes the postgresql:// address of a hot standby of --db";
    if (!isPostgresAddress(db))
        return "--read-db needs a PostgreSQL --db: the SQLite file " + printableText(db) +
               " has no standby to read";
    return {};
}

bool awaitReplay(const std::string& db, const std::string& readDb, std::chrono::milliseconds patience)
{
    postgres::Connection standby(readDb, true), primary(db, true);
    standby.connect();
    if (!postgres::integer(standby.execParams(kReplayedSql, {}, kReadingStatus).get(), 0, 0))
        return true;
    primary.connect();
    const int64_t written =
        postgres::integer(primary.execParams(kWrittenSql, {}, kReadingStatus).get(), 0, 0);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;)
    {
        const postgres::Result r = standby.execParams(kReplayedSql, {}, kReadingStatus);
        if (postgres::integer(r.get(), 0, 1) >= written)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kReplayPoll);
    }
}

ReplicaStatus::ReplicaStatus(const std::string& address)
{
    if (isPostgresAddress(address))
        connection_ = std::make_unique<postgres::Connection>(address, true);
}

std::string ReplicaStatus::json()
{
    if (!connection_)
        return statusJson(false, "null", "null");
    std::lock_guard<std::mutex> lock(mutex_);
    try
    {
        if (!connected_)
            connection_->connect();
        connected_ = true;
        const postgres::Result r = connection_->execParams(kStatusSql, {}, kReadingStatus);
        const PGresult* row = r.get();
        std::string lag = "null", asOf = "null";
        if (!PQgetisnull(row, 0, 1))
        {
            // Clocks of two machines may differ a little: a change cannot be replayed before it was made.
            char text[32];
            std::snprintf(text, sizeof text, "%.3f",
                          std::max<int64_t>(0, postgres::integer(row, 0, 1)) / 1000.0);
            lag = text;
        }
        if (!PQgetisnull(row, 0, 2))
            asOf = "\"" + postgres::bytes(row, 0, 2) + "\"";
        return statusJson(postgres::integer(row, 0, 0) != 0, lag, asOf);
    }
    catch (const StoreError&)
    {
        connected_ = false;
        throw;
    }
}

} // namespace zncip::collector
