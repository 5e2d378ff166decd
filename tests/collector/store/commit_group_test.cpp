// The group commit: who is told what when a group of requests cannot be stored as one.

#include "collector_fixture.h"

#include "ingest/hit_parser.h"
#include "store/commit_group.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zncip::collector::test
{
namespace
{

// Requests read between two commits share a transaction. One whose hits the database refuses fails
// alone; when the database cannot be reached, every request of the group is told so. Either way the
// next group starts empty.
TEST(CommitGroup, AHitTheDatabaseRefusesFailsAloneNotWithTheRequestsThatSharedItsTransaction)
{
    struct Row
    {
        const char* what;
        bool unreachable;
        std::vector<int> stored; // of an honest request, the poison, and two more honest ones
    };
    const Row rows[] = {{"refused", false, {1, 0, 1, 1}}, {"unreachable", true, {0, 0, 0, 0}}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        TempDir dir;
        FaultStore store(openSqliteStore(dir.file("hits.db")));
        CommitGroup group(store);
        const std::string labels[] = {"first", "poison", "honest", "second"};
        std::vector<int> told(4, -1);
        for (int i = 0; i < 4; ++i)
            group.add({parseHit(moduleEvent("Commands", "Execute", labels[i]), "/collect", "", 0)},
                      [&told, i](bool stored) { told[i] = stored; });
        EXPECT_EQ(group.requests(), 4u);
        row.unreachable ? store.failNext(1) : store.refuseBodiesWith("poison");
        group.commit();
        EXPECT_EQ(told, row.stored);
        EXPECT_EQ(store.storedHits(), std::count(row.stored.begin(), row.stored.end(), 1));
        EXPECT_EQ(group.requests(), 0u);

        store.refuseBodiesWith("");
        group.add({parseHit(moduleEvent("Commands", "Execute", "later"), "/collect", "", 0)},
                  [&told](bool stored) { told[0] = stored + 10; });
        group.commit();
        EXPECT_EQ(told[0], 11) << "the next group holds the later request alone, and stores it";
        EXPECT_EQ(store.storedHits(), std::count(row.stored.begin(), row.stored.end(), 1) + 1);
    }
}

} // namespace
} // namespace zncip::collector::test
