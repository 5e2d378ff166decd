// Encodes a batch of hits column by column for zncip_append() (sql/migration2/append.sql).
#include "store/postgres/append_batch.h"

#include "ingest/hit_facts.h"

#include <iterator>
#include <optional>

namespace zncip::collector::postgres
{
namespace
{

// One array per parameter of zncip_append() after the shard and generation.
struct Columns
{
    ArrayParam known{kBool}, received{kInt8}, path{kBytea}, body{kBytea}, accepted{kBool}, reason{kBytea},
        agent{kBytea}, day{kInt4}, cid{kBytea};
    ArrayParam key[6] = {ArrayParam(kBytea), ArrayParam(kBytea), ArrayParam(kBytea),
                         ArrayParam(kBytea), ArrayParam(kBytea), ArrayParam(kBytea)};
    ArrayParam value{kInt8};
    ArrayParam uid{kBytea};
};

// Adds one hit to the columns; returns its presence entry when it counts a client.
std::optional<std::string> addHit(Columns& c, const HitRecord& h, const PresenceCache& cache)
{
    const HitFacts f = decodeFacts(h);
    c.received.add(h.receivedUs);
    c.path.add(h.path);
    c.body.add(h.body);
    c.accepted.add(h.accepted);
    c.reason.add(h.reason);
    c.agent.add(h.userAgent);
    c.day.add(f.day);
    f.client.empty() ? c.cid.addNull() : c.cid.add(f.client);
    f.uidBesideCid.empty() ? c.uid.addNull() : c.uid.add(f.uidBesideCid);
    const std::string* const fields[6] = {&f.application, &f.version, &f.type,
                                          &f.category,    &f.action,  &f.label};
    for (size_t i = 0; i < std::size(fields); ++i)
        h.accepted ? c.key[i].add(*fields[i]) : c.key[i].addNull();
    if (h.accepted && f.value)
        c.value.add(*f.value);
    else
        c.value.addNull();
    if (!h.accepted || f.client.empty())
    {
        c.known.add(false);
        return std::nullopt;
    }
    std::string present = PresenceCache::entry(f.client, f.day, fields);
    c.known.add(cache.known(present));
    return present;
}

} // namespace

AppendBatch encodeAppend(const std::vector<HitRecord>& hits, int32_t shard, const PresenceCache& cache)
{
    AppendBatch batch;
    Columns c;
    for (const HitRecord& h : hits)
        if (std::optional<std::string> present = addHit(c, h, cache))
            batch.presence.push_back(std::move(*present));
    Params& p = batch.params;
    p.add(shard).add(cache.generation()).add(c.known.encoded()).add(c.received.encoded());
    p.add(c.path.encoded()).add(c.body.encoded()).add(c.accepted.encoded()).add(c.reason.encoded());
    p.add(c.agent.encoded()).add(c.day.encoded()).add(c.cid.encoded());
    for (const ArrayParam& k : c.key)
        p.add(k.encoded());
    p.add(c.value.encoded()).add(c.uid.encoded());
    return batch;
}

} // namespace zncip::collector::postgres
