// Schema versions and migrations. A database is migrated inside one transaction that holds the migration
// lock, so collectors starting at once migrate one after the other and a failed migration leaves nothing.
#include "store/postgres/schema.h"

#include "ingest/hit_facts.h"
#include "store/hit_store.h"
#include "store/postgres/sql_files.h"
#include "store/schema_constants.h"

#include <cstdlib>
#include <cstring>

namespace zncip::collector::postgres
{
namespace
{

constexpr const char* kMigrating = "migrating";

StoreError newerSchema(const Connection& c, int version)
{
    return StoreError(c.described() + " was written by a newer collector (schema " + std::to_string(version) +
                      ")");
}

// The schema from which hits record the client of a uid beside their cid.
constexpr int kUidClientVersion = 2;

// Hits stored before kUidClientVersion that carry a uid beside a cid are linked to the uid's client, read
// a slice at a time. A uid whose name arrived percent-encoded is not looked for.
void linkStoredUids(Connection& c)
{
    c.exec(sqlText("migration2/stored_uids.sql"), kMigrating);
    for (;;)
    {
        const Result slice = c.execParams("FETCH 10000 FROM stored_uids", {}, kMigrating);
        if (PQntuples(slice.get()) == 0)
            break;
        HitRecord hit;
        for (int i = 0; i < PQntuples(slice.get()); ++i)
        {
            hit.receivedUs = integer(slice.get(), i, 1);
            hit.body = bytes(slice.get(), i, 2);
            const std::string uid = decodeFacts(hit).uidBesideCid;
            if (uid.empty())
                continue;
            Params p;
            p.add(uid).add(integer(slice.get(), i, 0));
            c.execParams(sqlText("migration2/link_uid.sql"), p, "linking a hit to its uid");
        }
    }
    c.exec("CLOSE stored_uids", kMigrating);
}

void applyMigrations(Connection& c)
{
    Params lock;
    lock.add(int32_t{schema::kLockSpace}).add(int32_t{schema::kMigrationLock});
    c.execParams(sqlText("schema_version/lock.sql"), lock, kMigrating);
    c.exec(sqlText("schema_version/create.sql"), kMigrating);
    const int version = currentVersion(c);
    if (version > postgresSchemaVersion())
        throw newerSchema(c, version);
    for (int v = version; v < postgresSchemaVersion(); ++v)
    {
        for (std::string_view file : migrationFiles()[static_cast<size_t>(v)])
            c.exec(sqlText(file), kMigrating);
        Params p;
        p.add(int32_t{v + 1});
        c.execParams(sqlText("schema_version/record.sql"), p, "recording the schema version");
    }
    if (version > 0 && version < kUidClientVersion)
        linkStoredUids(c);
}

} // namespace

const std::vector<std::vector<std::string_view>>& migrationFiles()
{
    static const std::vector<std::vector<std::string_view>> migrations{
        {"migration1/tables.sql", "migration1/pair_lock.sql", "migration1/append.sql",
         "migration1/forget.sql"},
        {"migration2/tables.sql", "migration2/append.sql", "migration2/forget.sql"},
        {"migration3/partitions.sql", "migration3/tables.sql"},
        {"migration4/append.sql", "migration4/rejected_index.sql"},
    };
    return migrations;
}

int currentVersion(Connection& c)
{
    constexpr const char* what = "reading the schema version";
    const Result exists = c.execParams(sqlText("schema_version/exists.sql"), {}, what);
    if (integer(exists.get(), 0, 0) == 0)
        return 0;
    const Result version = c.execParams(sqlText("schema_version/current.sql"), {}, what);
    return static_cast<int>(integer(version.get(), 0, 0));
}

void checkReadable(Connection& c)
{
    const int version = currentVersion(c);
    if (version == 0)
        throw StoreError(c.described() + " holds no collected hits");
    if (version > postgresSchemaVersion())
        throw newerSchema(c, version);
    // The statements this build prepares read the tables of its own schema.
    if (version < postgresSchemaVersion())
        throw StoreError(c.described() + " was written by an older collector (schema " +
                         std::to_string(version) + "); start zncip-collector serve on it once to upgrade it");
}

void migrate(Connection& c)
{
    c.exec("BEGIN", kMigrating);
    try
    {
        applyMigrations(c);
        c.exec("COMMIT", kMigrating);
    }
    catch (...)
    {
        try
        {
            c.exec("ROLLBACK", kMigrating);
        }
        catch (const StoreError&)
        {
            // The first failure is the one to tell; a lost connection has rolled back by itself.
        }
        throw;
    }
}

} // namespace zncip::collector::postgres

namespace zncip::collector
{

int postgresSchemaVersion()
{
    return static_cast<int>(postgres::migrationFiles().size());
}

} // namespace zncip::collector
