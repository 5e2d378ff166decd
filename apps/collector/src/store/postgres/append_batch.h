// A batch of hits as the arguments of one call of zncip_append(): one array per column, in the order of
// the function's parameters. A plain value; built by the writer under its store's mutex.
#pragma once

#include "store/postgres/binary_params.h"
#include "store/postgres/presence_cache.h"
#include "store/records.h"

#include <string>
#include <vector>

namespace zncip::collector::postgres
{

struct AppendBatch
{
    Params params;
    // The presence entries of the hits that count a client, for the cache once the batch is stored.
    std::vector<std::string> presence;
};

// The hits the cache knows to bring no new presence are marked known, under the cache's generation.
AppendBatch encodeAppend(const std::vector<HitRecord>& hits, int32_t shard, const PresenceCache& cache);

} // namespace zncip::collector::postgres
