// The writer's group commit: who is told what when a group of requests cannot be stored as one.

#include "collector_fixture.h"

#include "ingest/hit_parser.h"
#include "store/commit_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace zncip::collector::test
{
namespace
{

// Requests that arrive while the writer is busy share its next transaction. One whose hits the database
// refuses fails alone; when the database cannot be reached, every request of the group is told so.
TEST(CommitQueue, AHitTheDatabaseRefusesFailsAloneNotWithTheRequestsThatSharedItsTransaction)
{
    struct Row
    {
        const char* what;
        bool unreachable;
        std::vector<bool> stored; // of the held request, then the poison, honest and another honest one
    };
    const Row rows[] = {{"refused", false, {true, false, true, true}},
                        {"unreachable", true, {true, false, false, false}}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        TempDir dir;
        FaultStore store(openSqliteStore(dir.file("hits.db")));
        CommitQueue queue(store);
        const std::string labels[] = {"first", "poison", "honest", "second"};
        std::vector<std::promise<bool>> told(4);
        auto submit = [&](int i)
        {
            std::vector<HitRecord> hits{parseHit(moduleEvent("Commands", "Execute", labels[i]), "/collect", "", 0)};
            ASSERT_TRUE(queue.submit(std::move(hits), [&told, i](bool stored) { told[i].set_value(stored); }));
        };
        store.hold();
        submit(0);
        while (store.arrived() < 1) // the writer is inside the first transaction
            std::this_thread::yield();
        for (int i = 1; i < 4; ++i)
            submit(i);
        if (row.unreachable)
        {
            store.release(1); // the first is stored; the group then finds no database
            while (store.arrived() < 2)
                std::this_thread::yield();
            store.failNext(1);
        }
        else
            store.refuseBodiesWith("poison");
        store.release();
        std::vector<bool> outcomes;
        for (auto& t : told)
            outcomes.push_back(t.get_future().get());
        EXPECT_EQ(outcomes, row.stored);
        queue.stop();
        EXPECT_EQ(store.storedHits(), std::count(row.stored.begin(), row.stored.end(), true));
    }
}

} // namespace
} // namespace zncip::collector::test
