// The rollups' share of storing and forgetting hits on an SQLite connection.

#include "store/sqlite/rollup_writer.h"

#include "ingest/hit_facts.h"
#include "store/schema_constants.h"
#include "store/sqlite/sql_files.h"

namespace zncip::collector::sqlite
{
namespace
{

const char* const kErasures = "SELECT generation FROM erasures";

// A key as one text, for the cache: the scope, then each part after a NUL, which no part holds.
std::string keyText(const RollupKey& k)
{
    std::string text = std::to_string(static_cast<int>(k.scope));
    for (const std::string* part : {&k.application, &k.version, &k.type, &k.category, &k.action, &k.label})
        (text += '\0') += *part;
    return text;
}

} // namespace

RollupWriter::RollupWriter(const Connection& db)
    : db_(db), findKey_(db, sqlFile("find_rollup_key.sql")), addKey_(db, sqlFile("add_rollup_key.sql")),
      addCount_(db, sqlFile("count_hits.sql")), addRejection_(db, sqlFile("count_rejections.sql")),
      addPresence_(db, sqlFile("mark_present.sql")), previousDay_(db, sqlFile("previous_day_present.sql")),
      nextDay_(db, sqlFile("next_day_present.sql")), addFirstVisits_(db, sqlFile("count_first_visits.sql")),
      dropCount_(db, sqlFile("drop_zero_count.sql")),
      dropRejections_(db, sqlFile("drop_zero_rejections.sql")), erasures_(db, kErasures),
      begin_(db, "BEGIN IMMEDIATE"), commit_(db, "COMMIT"), clients_(db, "clients", "cid", kIdCacheBytes),
      agents_(db, "user_agents", "agent", kTextCacheBytes), reasons_(db, "reasons", "reason", kTextCacheBytes)
{
}

void RollupWriter::transaction(const std::function<void()>& work)
{
    begin_.run("begin");
    try
    {
        int64_t generation = 0;
        eachRow(erasures_, "reading the erasures", [&](const Statement& s) { generation = s.integer(0); });
        if (generation != erasuresSeen_)
            forgetCaches();
        erasuresSeen_ = generation;
        work();
        commit_.run("commit");
    }
    catch (...)
    {
        db_.rollback();
        // What the transaction added was rolled back with it.
        forgetCaches();
        throw;
    }
}

RollupWriter::Decoded RollupWriter::decode(const HitRecord& hit)
{
    Decoded d;
    d.facts = decodeFacts(hit);
    if (!d.facts.client.empty())
        d.client = clients_.idOf(d.facts.client);
    if (!d.facts.uidBesideCid.empty())
        d.uidClient = clients_.idOf(d.facts.uidBesideCid);
    if (hit.accepted)
    {
        for (const RollupKey& k : schema::keysOf(d.facts))
            d.keys.push_back(keyId(k));
        d.eventKey = d.keys[0];
    }
    return d;
}

Statement& RollupWriter::bindFacts(Statement& s, int i, const Decoded& d)
{
    s.bind(i, d.facts.day);
    d.client ? s.bind(i + 1, d.client) : s.bindNull(i + 1);
    d.eventKey ? s.bind(i + 2, d.eventKey) : s.bindNull(i + 2);
    d.eventKey&& d.facts.value ? s.bind(i + 3, *d.facts.value) : s.bindNull(i + 3);
    return s;
}

void RollupWriter::addToRollups(const HitRecord& hit, const Decoded& d)
{
    const int32_t day = d.facts.day;
    if (!hit.accepted)
    {
        addRejection_.bind(1, day).bind(2, hit.reason).bind(3, 1).run("counting a rejected hit");
        return;
    }
    addCount_.bind(1, day).bind(2, d.eventKey).bind(3, 1).bind(4, d.facts.value.value_or(0));
    addCount_.run("counting a hit");
    // A hit without a client counts, but no client is present.
    if (!d.client)
        return;
    for (const int64_t key : d.keys)
        markPresent(d.client, key, day);
}

void RollupWriter::uncountHit(int32_t day, int64_t key, bool accepted, int64_t value,
                              const std::string& reason)
{
    if (accepted)
    {
        addCount_.bind(1, day).bind(2, key).bind(3, -1).bind(4, -value).run("uncounting a hit");
        dropCount_.bind(1, day).bind(2, key).run("uncounting a hit");
    }
    else
    {
        addRejection_.bind(1, day).bind(2, reason).bind(3, -1).run("uncounting a hit");
        dropRejections_.bind(1, day).bind(2, reason).run("uncounting a hit");
    }
}

void RollupWriter::uncountPresence(const std::vector<std::pair<int64_t, int32_t>>& present)
{
    // Each day the client was present under a key was counted against the day before it.
    for (size_t i = 0; i < present.size(); ++i)
    {
        const auto [key, day] = present[i];
        const bool first = i == 0 || present[i - 1].first != key;
        addFirstVisit(day, first ? schema::kNoDay : present[i - 1].second, key, -1);
    }
}

void RollupWriter::forgetCaches()
{
    clients_.forget();
    agents_.forget();
    reasons_.forget();
    keyIds_.clear();
    present_.clear();
}

void RollupWriter::markPresent(int64_t client, int64_t key, int32_t day)
{
    // Most hits come from a client already present that day: known without asking the database.
    const Presence p{client, key, day};
    if (present_.count(p))
        return;
    if (present_.size() >= kPresenceLimit)
        present_.clear();
    present_.insert(p);
    addPresence_.bind(1, client).bind(2, key).bind(3, day).run("counting a client");
    if (db_.changes() == 0)
        return; // present that day already
    const auto previous = neighbour(previousDay_, client, key, day);
    const int32_t before = previous.value_or(schema::kNoDay);
    addFirstVisit(day, before, key, 1);
    // A day filled in before a later one (a late hit): the later one now follows this day.
    if (const auto next = neighbour(nextDay_, client, key, day))
    {
        addFirstVisit(*next, before, key, -1);
        addFirstVisit(*next, day, key, 1);
    }
}

std::optional<int32_t> RollupWriter::neighbour(Statement& s, int64_t client, int64_t key, int32_t day)
{
    s.bind(1, client).bind(2, key).bind(3, day);
    std::optional<int32_t> result;
    eachRow(s, "finding a client's days",
            [&](const Statement& row)
            {
                if (!row.isNull(0))
                    result = static_cast<int32_t>(row.integer(0));
            });
    return result;
}

void RollupWriter::addFirstVisit(int32_t day, int32_t previous, int64_t key, int64_t clients)
{
    addFirstVisits_.bind(1, day).bind(2, previous).bind(3, key).bind(4, clients).run("counting a client");
}

std::string RollupWriter::jsonArray(const std::set<int64_t>& ids)
{
    std::string json = "[";
    for (const int64_t id : ids)
        json += (json.size() > 1 ? "," : "") + std::to_string(id);
    return json + "]";
}

void RollupWriter::dropUnused(const Leftovers& left)
{
    using S = RollupKey::Scope;
    const std::string keys = jsonArray(left.keys);
    Statement(db_, sqlFile("forget_zero_first_visits.sql")).bind(1, keys).run("removing empty counts");
    Statement unusedKeys(db_, sqlFile("forget_unused_keys.sql"));
    for (int run = 0; run < 2; ++run)
    {
        unusedKeys.bind(1, keys);
        for (const S scope : {S::Event, S::EventAnyVersion, S::Application, S::All})
            unusedKeys.bind(2 + static_cast<int>(scope), static_cast<int64_t>(scope));
        unusedKeys.run("removing unused rollup keys");
    }
    const std::pair<const char*, const std::map<int64_t, int64_t>*> texts[] = {
        {"forget_unused_agent.sql", &left.agents},
        {"forget_unused_reason.sql", &left.reasons},
        {"forget_unused_client.sql", &left.clients}};
    for (const auto& [file, ids] : texts)
    {
        Statement drop(db_, sqlFile(file));
        for (const auto& [id, checkedUpTo] : *ids)
            if (checkedUpTo != Leftovers::kInUse)
                drop.bind(1, id).bind(2, checkedUpTo).run("removing what nothing refers to");
    }
}

int64_t RollupWriter::knownClient(const std::string& cid)
{
    return clients_.known(cid);
}

int64_t RollupWriter::keyId(const RollupKey& k)
{
    std::string text = keyText(k);
    if (const auto known = keyIds_.find(text))
        return *known;
    auto bindKey = [&](Statement& s)
    {
        s.bind(1, static_cast<int64_t>(k.scope)).bind(2, k.application).bind(3, k.version);
        s.bind(4, k.type).bind(5, k.category).bind(6, k.action).bind(7, k.label);
    };
    int64_t id = 0;
    bindKey(findKey_);
    eachRow(findKey_, "finding a rollup key", [&](const Statement& s) { id = s.integer(0); });
    if (!id)
    {
        bindKey(addKey_);
        addKey_.run("adding a rollup key");
        id = db_.lastInsertId();
    }
    keyIds_.add(std::move(text), id);
    return id;
}

} // namespace zncip::collector::sqlite
