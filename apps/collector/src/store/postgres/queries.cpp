// The prepared statements: their names (also those of their files) and parameter types.
#include "store/postgres/queries.h"

#include "store/postgres/binary_params.h"
#include "store/postgres/sql_files.h"

#include <string>

namespace zncip::collector::postgres
{

const char* PreparedQuery::sql() const
{
    return sqlText("queries/" + std::string(name) + ".sql");
}

// The arguments of zncip_append(), as AppendBatch builds them.
const PreparedQuery kAppend{
    "append", {kInt4,       kInt8,       kBoolArray,  kInt8Array,  kByteaArray, kByteaArray, kBoolArray,
               kByteaArray, kByteaArray, kInt4Array,  kByteaArray, kByteaArray, kByteaArray, kByteaArray,
               kByteaArray, kByteaArray, kByteaArray, kInt8Array,  kByteaArray, kInt8Array,  kInt8Array,
               kInt8Array,  kInt8Array,  kInt8Array,  kInt8Array,  kInt8Array,  kInt8Array}};
const PreparedQuery kForget{"forget", {kInt4, kBytea}};
const PreparedQuery kPrune{"prune", {kInt4}};
const PreparedQuery kPrepareDays{"prepare_days", {kInt4, kInt4}};
const PreparedQuery kDropDays{"drop_days", {kInt4}};
const PreparedQuery kEach{"each", {}};
const PreparedQuery kCount{"count", {}};
const PreparedQuery kBounds{"bounds", {}};
const PreparedQuery kCounts{"counts", {kInt4, kInt4, kBytea}};
const PreparedQuery kKeys{"keys", {}};
const PreparedQuery kClients{"clients", {kInt4, kInt4, kBytea, kBytea, kBytea}};
const PreparedQuery kActiveClients{"active_clients", {kInt4, kInt4, kInt4, kBytea}};
const PreparedQuery kDaily{"daily", {kInt4, kInt4, kBytea}};
const PreparedQuery kRejections{"rejections", {kInt4, kInt4}};
const PreparedQuery kVersions{"versions", {}};
const PreparedQuery kRejected{"rejected", {kInt4, kInt4, kInt4}};

const std::vector<const PreparedQuery*>& preparedQueries()
{
    static const std::vector<const PreparedQuery*> all{
        &kVersions,   &kRejected,      &kAppend,      &kForget,  &kPrune,   &kEach,
        &kCount,      &kBounds,        &kCounts,      &kKeys,    &kClients, &kDaily,
        &kRejections, &kActiveClients, &kPrepareDays, &kDropDays};
    return all;
}

} // namespace zncip::collector::postgres
