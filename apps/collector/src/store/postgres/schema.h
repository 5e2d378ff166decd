// The schema a PostgreSQL database holds: its version, and the migrations that bring it to this build's.
// Each call works on the connection it is given, which the caller does not use meanwhile.
#pragma once

#include "store/postgres/connection.h"

#include <string_view>
#include <vector>

namespace zncip::collector::postgres
{

// Migration v+1 is the files migrationFiles()[v] (paths under sql/), run in their order.
const std::vector<std::vector<std::string_view>>& migrationFiles();

// The version of the database's schema; 0 for a database no collector wrote.
int currentVersion(Connection& c);
// For reading only: throws StoreError unless the database holds a schema this build can read.
void checkReadable(Connection& c);
// Brings the database to this build's schema in one transaction, one collector at a time; throws
// StoreError for a database of a newer schema.
void migrate(Connection& c);

} // namespace zncip::collector::postgres
