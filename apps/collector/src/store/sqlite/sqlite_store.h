// The collector's store in one SQLite file: the raw hits as they arrived, and the rollups counted as they
// are stored. One connection, so one thread at a time per object (see HitReader and HitWriter); several
// objects, in this process or others, may share the file.
#pragma once

#include "store/hit_store.h"
#include "store/sqlite/connection.h"
#include "store/sqlite/rollup_writer.h"
#include "store/sqlite/statement.h"

#include <sys/types.h>

#include <map>
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
    std::optional<int64_t> dataVersion() const override;
    Forgotten forget(const std::string& client) override;
    int64_t pruneRawBefore(int32_t day) override;

private:
    // Throws when the file was deleted or replaced under the connection: StoreError saying the database
    // is unavailable, since no hit can be stored in it any more.
    void checkSameFile() const;
    // What forgetting a client reads before it takes the write lock, while hits go on being stored.
    struct ToForget
    {
        int64_t lastRead = 0; // the last hit id of all when they were read
        // The client and each client that sent a hit with it as uid: the ids of their hits read.
        std::map<int64_t, std::vector<int64_t>> hitsOf;
        RollupWriter::Leftovers left; // what those hits refer to, checked against the other hits read
    };
    ToForget findHitsOf(int64_t client);
    // Adds a client's hits (and, when uidOf is not 0, those whose uid's client it is) to found.
    void readHitsOf(int64_t client, int64_t uidOf, ToForget& found);
    // Marks what found's hits refer to that other hits up to found.lastRead refer to as well.
    void markStillUsed(ToForget& found);
    // Removes the hits of a client, the ones found and those stored after id `after`, from the hits and the
    // counts, noting what they referred to.
    int64_t removeHitsOf(int64_t client, const std::vector<int64_t>& found, int64_t after,
                         RollupWriter::Leftovers& left);
    // Removes a client from the distinct-client counts and its id; the (key, day) entries removed.
    int64_t removePresenceOf(int64_t client, RollupWriter::Leftovers& left);
    // The writer; throws for a store opened read-only.
    RollupWriter& writer();

    Connection db_;
    int schema_ = 0; // of the database: older ones are opened read-only, and some of them only partly read
    std::pair<dev_t, ino_t> file_{};
    std::unique_ptr<RollupWriter> writer_; // none when read-only
    std::unique_ptr<Statement> insert_;
};

} // namespace zncip::collector::sqlite
