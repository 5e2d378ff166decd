// Opening an SQLite database for the collector: the checks that refuse a file it cannot use, the settings
// of a connection that writes, and the migrations to the current schema, which also decode the hits
// stored before schema 3. Called while a store is opened, on its connection, from the opening thread.
#pragma once

#include "store/sqlite/connection.h"

namespace zncip::collector::sqlite
{

// Settings of a connection that writes; refuses a file it may not write or that cannot hold a write-ahead
// log rather than answering every hit with 503 later.
void configureForWriting(const Connection& db, const StoreOptions& options);

// Creates the schema or brings it up to date, in one transaction: an interrupted upgrade leaves the
// database as it was. Refuses a database written by a newer build.
void migrate(const Connection& db);

// The schema versions from which the database holds the rollups, and the texts of hits by id.
constexpr int kRollupsVersion = 3;
constexpr int kTextIdsVersion = 4;

// For a connection that only reads: the database's schema version, which may be older than this build's
// (before kRollupsVersion only its raw hits can be read). Refuses a file with no hits and one written by a
// newer build.
int readableVersion(const Connection& db);

} // namespace zncip::collector::sqlite
