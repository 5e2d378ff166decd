// The statements the store runs on data, prepared on each connection. Constant data: any thread may read.
#pragma once

#include <libpq-fe.h>

#include <vector>

namespace zncip::collector::postgres
{

// A statement prepared under its name on every connection, whose SQL is the file sql/queries/<name>.sql.
struct PreparedQuery
{
    const char* name;
    std::vector<Oid> parameterTypes;

    const char* sql() const; // throws StoreError when the build lacks the file
};

extern const PreparedQuery kAppend, kForget, kPrune, kPrepareDays, kDropDays; // writing
extern const PreparedQuery kEach, kCount, kBounds, kCounts, kKeys, kClients, kDaily, kRejections, kVersions,
    kRejected, kActiveClients; // reading

// Every one of them, in the order they are prepared.
const std::vector<const PreparedQuery*>& preparedQueries();

} // namespace zncip::collector::postgres
