// Encodes a batch of hits column by column for zncip_append() (sql/migration4/append.sql), and learns the
// ids it answers.
#include "store/postgres/append_batch.h"

#include "ingest/hit_facts.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace zncip::collector::postgres
{
namespace
{

// One array per parameter of zncip_append() after the shard and generation. With no ids known they are
// schema 2's arguments, which the first 19 are.
struct Columns
{
    ArrayParam known{kBool}, received{kInt8}, path{kBytea}, body{kBytea}, accepted{kBool}, reason{kBytea},
        agent{kBytea}, day{kInt4}, cid{kBytea};
    ArrayParam key[6] = {ArrayParam(kBytea), ArrayParam(kBytea), ArrayParam(kBytea),
                         ArrayParam(kBytea), ArrayParam(kBytea), ArrayParam(kBytea)};
    ArrayParam value{kInt8};
    ArrayParam uid{kBytea};
    ArrayParam clientId{kInt8}, uidClientId{kInt8}, agentId{kInt8}, reasonId{kInt8};
    ArrayParam keyId[4] = {ArrayParam(kInt8), ArrayParam(kInt8), ArrayParam(kInt8), ArrayParam(kInt8)};
};

// A text by its id when known, else as itself (and noted as asked for); none at all when empty, or as
// an empty text where the function takes one for none.
void addText(ArrayParam& text, ArrayParam& id, const std::string& value, int64_t known, bool emptyAsText,
             std::string& asked)
{
    if (value.empty())
    {
        emptyAsText ? text.add(value) : text.addNull();
        id.addNull();
    }
    else if (known > 0)
    {
        text.addNull();
        id.add(known);
    }
    else
    {
        text.add(value);
        id.addNull();
        asked = value;
    }
}

// Adds one hit to the columns; returns its presence entry when it counts a client.
std::optional<std::string> addHit(Columns& c, const HitRecord& h, const PresenceCache& cache,
                                  const KnownIds& ids, AppendBatch::Texts& asked)
{
    std::optional<HitFacts> decoded; // for a record made without its facts
    const HitFacts& f = h.facts ? *h.facts : decoded.emplace(decodeFacts(h));
    c.received.add(h.receivedUs);
    c.path.add(h.path);
    c.body.add(h.body);
    c.accepted.add(h.accepted);
    addText(c.reason, c.reasonId, h.reason, ids.id(KnownIds::kReason, h.reason), true,
            asked.text[KnownIds::kReason]);
    addText(c.agent, c.agentId, h.userAgent, ids.id(KnownIds::kAgent, h.userAgent), true,
            asked.text[KnownIds::kAgent]);
    c.day.add(f.day);
    addText(c.cid, c.clientId, f.client, ids.id(KnownIds::kClient, f.client), false,
            asked.text[KnownIds::kClient]);
    addText(c.uid, c.uidClientId, f.uidBesideCid, ids.id(KnownIds::kClient, f.uidBesideCid), false,
            asked.uid);
    const std::string* const fields[6] = {&f.application, &f.version, &f.type,
                                          &f.category,    &f.action,  &f.label};
    const std::string keyFields = h.accepted ? PresenceCache::keyText(fields) : std::string();
    const KnownIds::Keys* keyIds = h.accepted ? ids.keys(keyFields) : nullptr;
    for (size_t i = 0; i < std::size(fields); ++i)
        h.accepted && !keyIds ? c.key[i].add(*fields[i]) : c.key[i].addNull();
    for (size_t s = 0; s < std::size(c.keyId); ++s)
        keyIds ? c.keyId[s].add((*keyIds)[s]) : c.keyId[s].addNull();
    if (h.accepted && !keyIds)
        asked.keyFields = keyFields;
    if (h.accepted && f.value)
        c.value.add(*f.value);
    else
        c.value.addNull();
    if (!h.accepted || f.client.empty())
    {
        c.known.add(false);
        return std::nullopt;
    }
    std::string present = PresenceCache::entry(f.client, f.day, keyFields);
    c.known.add(cache.known(present));
    return present;
}

} // namespace

AppendBatch encodeAppend(const std::vector<HitRecord>& hits, int32_t shard, const PresenceCache& cache,
                         const KnownIds& ids)
{
    // Ids learned under another generation than the presence are not given.
    static const KnownIds none;
    const KnownIds& given = ids.generation() == cache.generation() ? ids : none;
    AppendBatch batch;
    batch.unknown.reserve(hits.size());
    batch.presence.reserve(hits.size());
    Columns c;
    for (const HitRecord& h : hits)
        if (std::optional<std::string> present = addHit(c, h, cache, given, batch.unknown.emplace_back()))
            batch.presence.push_back(std::move(*present));
    Params& p = batch.params;
    p.add(shard).add(cache.generation()).add(c.known.take()).add(c.received.take());
    p.add(c.path.take()).add(c.body.take()).add(c.accepted.take()).add(c.reason.take());
    p.add(c.agent.take()).add(c.day.take()).add(c.cid.take());
    for (ArrayParam& k : c.key)
        p.add(k.take());
    p.add(c.value.take()).add(c.uid.take());
    p.add(c.clientId.take()).add(c.uidClientId.take()).add(c.agentId.take()).add(c.reasonId.take());
    for (ArrayParam& k : c.keyId)
        p.add(k.take());
    return batch;
}

void learnIds(const AppendBatch& batch, const PGresult* answer, KnownIds& ids)
{
    ids.holdUnder(integer(answer, 0, 0));
    // The columns after the generation: client, uid client, agent, reason, then the keys of scopes 0 to 3.
    constexpr int kClientColumn = 1, kUidColumn = 2, kAgentColumn = 3, kReasonColumn = 4, kKeysColumn = 5;
    const int rows = std::min(PQntuples(answer), static_cast<int>(batch.unknown.size()));
    for (int row = 0; row < rows; ++row)
    {
        const AppendBatch::Texts& asked = batch.unknown[static_cast<size_t>(row)];
        const auto learn = [&](KnownIds::Text kind, const std::string& text, int column)
        {
            if (!text.empty())
                ids.remember(kind, text, integer(answer, row, column));
        };
        learn(KnownIds::kClient, asked.text[KnownIds::kClient], kClientColumn);
        learn(KnownIds::kClient, asked.uid, kUidColumn);
        learn(KnownIds::kAgent, asked.text[KnownIds::kAgent], kAgentColumn);
        learn(KnownIds::kReason, asked.text[KnownIds::kReason], kReasonColumn);
        if (!asked.keyFields.empty())
        {
            KnownIds::Keys keys;
            for (size_t s = 0; s < keys.size(); ++s)
                keys[s] = integer(answer, row, kKeysColumn + static_cast<int>(s));
            ids.remember(asked.keyFields, keys);
        }
    }
}

} // namespace zncip::collector::postgres
