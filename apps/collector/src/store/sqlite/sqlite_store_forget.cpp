// How the SQLite store forgets a client: its hits, its share of the rollups, and the names only it used,
// in one transaction. The rest of the store is in sqlite_store.cpp.

#include "store/sqlite/sqlite_store.h"

#include "store/sqlite/sql_files.h"

#include <set>

namespace zncip::collector::sqlite
{
namespace
{

int32_t dayOf(const Statement& s, int i)
{
    return static_cast<int32_t>(s.integer(i));
}

} // namespace

Forgotten SqliteStore::forget(const std::string& cid)
{
    Forgotten gone;
    RollupWriter& w = writer();
    const int64_t client = w.knownClient(cid);
    if (!client)
        return gone;
    ToForget found = findHitsOf(client);
    w.transaction(
        [&]
        {
            Statement(db_, sqlFile("record_erasure.sql")).run("recording the erasure");
            // A client that named this one as its uid only in hits stored since: all its hits go too, read
            // here under the lock, which is rare.
            std::map<int64_t, int64_t> after;
            for (const auto& entry : found.hitsOf)
                after[entry.first] = found.lastRead;
            Statement linked(db_, sqlFile("forget_linked_after.sql"));
            linked.bind(1, found.lastRead).bind(2, client);
            eachRow(linked, "finding the clients that named the client",
                    [&](const Statement& s) { after.emplace(s.integer(0), 0); });
            RollupWriter::Leftovers& left = found.left;
            for (const auto& [c, from] : after)
            {
                gone.hits += removeHitsOf(c, found.hitsOf[c], from, left);
                gone.daysPresent += removePresenceOf(c, left);
            }
            for (const auto& entry : after)
                left.clients.erase(entry.first); // removed already
            writer_->dropUnused(left);
        });
    return gone;
}

SqliteStore::ToForget SqliteStore::findHitsOf(int64_t client)
{
    // The hits are not indexed by client: an index that every hit adds to at a random place would cost
    // each commit a page per hit. So the client's hits are found by reading them all, before the write
    // lock is taken, while hits go on being stored; those that arrive meanwhile follow the last id read.
    // So is whether other hits refer to the same agents, reasons and clients.
    ToForget found;
    Statement last(db_, sqlFile("forget_last_hit.sql"));
    db_.exec("BEGIN");
    try
    {
        eachRow(last, "reading hits", [&](const Statement& s) { found.lastRead = s.integer(0); });
        readHitsOf(client, client, found);
        for (const auto& entry : std::map(found.hitsOf))
            if (entry.first != client)
                readHitsOf(entry.first, 0, found);
        markStillUsed(found);
        db_.exec("COMMIT");
    }
    catch (...)
    {
        db_.rollback();
        throw;
    }
    return found;
}

void SqliteStore::readHitsOf(int64_t client, int64_t uidOf, ToForget& found)
{
    Statement scan(db_, sqlFile("forget_find_hits.sql"));
    scan.bind(1, client);
    uidOf ? scan.bind(2, uidOf) : scan.bindNull(2);
    found.hitsOf[client];
    eachRow(scan, "finding the client's hits",
            [&](const Statement& s)
            {
                // A hit of another client naming this one as uid: that client's hits are read in full next.
                found.hitsOf[s.integer(1)];
                if (s.integer(1) != client)
                    return;
                found.hitsOf[client].push_back(s.integer(0));
                int column = 2;
                for (auto* ids : {&found.left.agents, &found.left.reasons, &found.left.clients})
                    if (!s.isNull(column++))
                        ids->emplace(s.integer(column - 1), found.lastRead);
            });
}

void SqliteStore::markStillUsed(ToForget& found)
{
    std::set<int64_t> forgotten, agents, reasons, clients;
    for (const auto& entry : found.hitsOf)
        forgotten.insert(entry.first);
    for (const auto& [ids, set] :
         {std::pair(&found.left.agents, &agents), std::pair(&found.left.reasons, &reasons),
          std::pair(&found.left.clients, &clients)})
        for (const auto& entry : *ids)
            set->insert(entry.first);
    const std::string lists[] = {RollupWriter::jsonArray(forgotten), RollupWriter::jsonArray(agents),
                                 RollupWriter::jsonArray(reasons), RollupWriter::jsonArray(clients)};
    Statement used(db_, sqlFile("forget_still_used.sql"));
    used.bind(1, found.lastRead).bind(2, lists[0]).bind(3, lists[1]).bind(4, lists[2]).bind(5, lists[3]);
    std::map<int64_t, int64_t>* const kinds[] = {&found.left.agents, &found.left.reasons,
                                                 &found.left.clients};
    eachRow(used, "finding what other hits refer to",
            [&](const Statement& s)
            { (*kinds[s.integer(0)])[s.integer(1)] = RollupWriter::Leftovers::kInUse; });
}

int64_t SqliteStore::removeHitsOf(int64_t client, const std::vector<int64_t>& found, int64_t after,
                                  RollupWriter::Leftovers& left)
{
    int64_t removed = 0;
    // Each hit removed is taken out of the counts as it was stored. What it refers to and no hit read
    // before did is checked against every other hit when it goes.
    auto uncount = [&](Statement& remove)
    {
        eachRow(remove, "removing the client's hits",
                [&](const Statement& h)
                {
                    ++removed;
                    const bool accepted = h.integer(2) != 0;
                    if (accepted)
                        left.keys.insert(h.integer(1));
                    const std::string reason = h.isNull(5) ? h.text(4) : writer_->reasonText(h.integer(5));
                    writer_->uncountHit(dayOf(h, 0), h.integer(1), accepted, h.integer(3), reason);
                    int column = 5;
                    for (auto* ids : {&left.reasons, &left.agents, &left.clients})
                        if (!h.isNull(column++))
                            ids->emplace(h.integer(column - 1), 0);
                });
    };
    Statement removeOne(db_, sqlFile("forget_hit.sql"));
    for (const int64_t id : found)
    {
        removeOne.bind(1, id).bind(2, client);
        uncount(removeOne);
    }
    Statement removeLater(db_, sqlFile("forget_hits_after.sql"));
    removeLater.bind(1, after).bind(2, client);
    uncount(removeLater);
    return removed;
}

int64_t SqliteStore::removePresenceOf(int64_t client, RollupWriter::Leftovers& left)
{
    Statement days(db_, sqlFile("forget_days_present.sql"));
    days.bind(1, client);
    std::vector<std::pair<int64_t, int32_t>> present;
    eachRow(days, "reading the client's days",
            [&](const Statement& s) { present.emplace_back(s.integer(0), dayOf(s, 1)); });
    for (const auto& entry : present)
        left.keys.insert(entry.first);
    writer_->uncountPresence(present);
    Statement(db_, sqlFile("forget_presence.sql")).bind(1, client).run("removing the client's days");
    const int64_t removed = db_.changes();
    Statement(db_, sqlFile("forget_client.sql")).bind(1, client).run("removing the client");
    return removed;
}

} // namespace zncip::collector::sqlite
