// The collector's store in one SQLite file: the raw hits as they arrived, and the rollups counted as they
// are stored. One connection, so one thread at a time per object (see HitReader and HitWriter); several
// objects, in this process or others, may share the file.
#pragma once

#include "store/hit_store.h"
#include "store/sqlite/connection.h"
#include "store/sqlite/rollup_writer.h"
#include "store/sqlite/statement.h"

#include <sys/types.h>

#include <memory>
#include <utility>

namespace zncip::collector::sqlite
{

class SqliteStore : public HitStore
{
public:
    // Opens the file, and unless read-only creates or migrates it; throws StoreError fit for the user.
    SqliteStore(const std::string& path, const StoreOptions& options);

    void append(const std::vector<HitRecord>& hits) override;
    void forEach(const std::function<void(const StoredHit&)>& visit) const override;
    int64_t storedHits() const override;
    Rollups rollups(const Period& period) const override;
    std::vector<std::string> versions() const override;
    std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const override;
    Forgotten forget(const std::string& client) override;
    int64_t pruneRawBefore(int32_t day) override;

private:
    // Throws when the file was deleted or replaced under the connection.
    void checkSameFile() const;
    // The ids of a client's hits, and the last id of all when they were read.
    struct HitsOf
    {
        std::vector<int64_t> ids;
        int64_t lastRead = 0;
    };
    HitsOf findHitsOf(int64_t client);
    // Removes the hits of a client, the ones found and those stored since, from the hits and the counts.
    int64_t removeHitsOf(int64_t client, const HitsOf& found);
    // Removes a client from the distinct-client counts and its id; the (key, day) entries removed.
    int64_t removePresenceOf(int64_t client);
    // The writer; throws for a store opened read-only.
    RollupWriter& writer();

    Connection db_;
    bool olderSchema_ = false; // opened read-only: only the raw hits can be read
    std::pair<dev_t, ino_t> file_{};
    std::unique_ptr<RollupWriter> writer_; // none when read-only
    std::unique_ptr<Statement> insert_;
};

} // namespace zncip::collector::sqlite
