// Counts hits into the daily rollups as they are stored, and takes them out again when a client is
// forgotten: the ids of clients, rollup keys, user agents and reasons, the presence and first_visits
// arithmetic that counts distinct clients (see sql/003_rollups.sql), and the transactions that notice when
// another connection forgot a client. One per writing connection, used from that connection's thread only.
#pragma once

#include "store/records.h"
#include "store/rollups.h"
#include "store/sqlite/id_cache.h"
#include "store/sqlite/statement.h"
#include "store/sqlite/text_ids.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zncip::collector::sqlite
{

class RollupWriter
{
public:
    // Each of the two id caches may hold this much; a hostile client's long ids then cost no more.
    static constexpr size_t kIdCacheBytes = 64 << 20;
    static constexpr size_t kTextCacheBytes = 16 << 20; // each of user agents and reasons
    static constexpr size_t kPresenceLimit = 1 << 20;   // entries, each of a fixed size

    // Prepares its statements: the schema must be current.
    explicit RollupWriter(const Connection& db);

    // A hit's facts with its client and key as ids, which are added when new.
    struct Decoded
    {
        HitFacts facts;
        int64_t client = 0;   // 0: the hit names no client
        int64_t eventKey = 0; // 0: rejected
        std::vector<int64_t> keys;
        int64_t uidClient = 0; // the client of its uid beside its cid; 0: none
    };
    Decoded decode(const HitRecord& hit);
    // Binds day, client, rollup_key and value from parameter i on.
    static Statement& bindFacts(Statement& s, int i, const Decoded& d);
    // The ids of a user agent and of a rejection reason, added when new; 0 for an empty text.
    int64_t agentId(const std::string& agent) { return agent.empty() ? 0 : agents_.idOf(agent); }
    int64_t reasonId(const std::string& reason) { return reason.empty() ? 0 : reasons_.idOf(reason); }
    std::string reasonText(int64_t id) { return reasons_.textOf(id); }

    // Adds a stored hit to the rollups.
    void addToRollups(const HitRecord& hit, const Decoded& d);
    // Takes a removed hit out of the counts, as it was stored; a count left at zero goes.
    void uncountHit(int32_t day, int64_t key, bool accepted, int64_t value, const std::string& reason);
    // Takes a client out of the distinct-client counts: each (key, day) it was present, in order.
    void uncountPresence(const std::vector<std::pair<int64_t, int32_t>>& present);

    // What the hits and presence of forgotten clients referred to, which goes once nothing else does.
    // For agents, reasons and clients: the id, and the last hit id up to which no other hit is known to
    // refer to it (0: none checked), or kInUse.
    struct Leftovers
    {
        static constexpr int64_t kInUse = -1;
        std::set<int64_t> keys;
        std::map<int64_t, int64_t> agents, reasons, clients;
    };
    // Removes the leftovers that no hit, count or presence refers to any more, in the open transaction.
    void dropUnused(const Leftovers& left);
    // Ids as a JSON array, which the SQL reads as a set through json_each().
    static std::string jsonArray(const std::set<int64_t>& ids);

    // The id of a client, without adding it; 0 when unknown.
    int64_t knownClient(const std::string& cid);

    // Runs work in a write transaction, committed when it returns and rolled back when it throws. What
    // the caches remember holds until a client is forgotten, here or by another process: each transaction
    // first checks the count of erasures and starts again empty when it moved.
    void transaction(const std::function<void()>& work);

private:
    int64_t keyId(const RollupKey& k);
    void markPresent(int64_t client, int64_t key, int32_t day);
    std::optional<int32_t> neighbour(Statement& s, int64_t client, int64_t key, int32_t day);
    void addFirstVisit(int32_t day, int32_t previous, int64_t key, int64_t clients);
    void forgetCaches();

    const Connection& db_;
    Statement findKey_, addKey_, addCount_, addRejection_, addPresence_, previousDay_, nextDay_,
        addFirstVisits_, dropCount_, dropRejections_, erasures_, begin_, commit_;
    int64_t erasuresSeen_ = 0;
    TextIds clients_, agents_, reasons_;
    IdCache keyIds_{kIdCacheBytes}; // by keyText()
    struct Presence
    {
        int64_t client, key;
        int32_t day;
        bool operator==(const Presence& o) const
        {
            return client == o.client && key == o.key && day == o.day;
        }
    };
    struct PresenceHash
    {
        size_t operator()(const Presence& p) const
        {
            return std::hash<int64_t>()(p.client * 1000003 + p.key) ^ std::hash<int32_t>()(p.day);
        }
    };
    std::unordered_set<Presence, PresenceHash> present_;
};

} // namespace zncip::collector::sqlite
