// A batch of hits as the arguments of one call of zncip_append(): one array per column, in the order of
// the function's parameters. A plain value; built by the writer under its store's mutex.
#pragma once

#include "store/postgres/binary_params.h"
#include "store/postgres/known_ids.h"
#include "store/postgres/presence_cache.h"
#include "store/records.h"

#include <libpq-fe.h>

#include <string>
#include <vector>

namespace zncip::collector::postgres
{

struct AppendBatch
{
    Params params;
    // The presence entries of the hits that count a client, for the cache once the batch is stored.
    std::vector<std::string> presence;
    // Of each hit, the texts given for want of their ids (empty: given by id, or none), to learn the ids
    // the function answers.
    struct Texts
    {
        std::string text[KnownIds::kTexts], uid, keyFields;
    };
    std::vector<Texts> unknown;
};

// The hits the cache knows to bring no new presence are marked known, under the cache's generation; the
// ids ids knows are given instead of their texts when it holds under that generation too.
AppendBatch encodeAppend(const std::vector<HitRecord>& hits, int32_t shard, const PresenceCache& cache,
                         const KnownIds& ids);

// Remembers the ids zncip_append() answered for what the batch gave as texts: a row per hit, the
// generation first.
void learnIds(const AppendBatch& batch, const PGresult* answer, KnownIds& ids);

} // namespace zncip::collector::postgres
