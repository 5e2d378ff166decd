// Group commit for the collection port: the hits of the requests read since the last commit, stored in
// one transaction.
#pragma once

#include "store/hit_store.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace zncip::collector
{

// One sync then pays for many hits, and no hit is answered before it is durable. The collection thread
// fills a group and commits it itself, or hands it to the writer (CommitWriter), which commits it while
// the next one fills.
class CommitGroup
{
public:
    // Called from commit() once the hits are committed (true) or could not be stored (false).
    using Done = std::function<void(bool stored)>;

    explicit CommitGroup(HitWriter& store);

    // All hits of one call go into the same transaction.
    void add(std::vector<HitRecord> hits, Done done);
    // How many calls of add() wait for the next commit.
    size_t requests() const { return waiting_.size(); }
    // Trades contents with another group of the same store, each keeping the room of its vectors.
    void swap(CommitGroup& other) noexcept;

    // Stores the group in one transaction, tells each request, and starts the next group. Should the
    // database refuse the group while it is reachable, each request's hits are tried again in a
    // transaction of their own: a hit the database refuses then fails alone, and the other clients' hits
    // that happened to share its group are stored and answered as usual.
    void commit();

private:
    enum class Outcome
    {
        Stored,
        Refused,     // the database turned these hits down: others may still go in
        Unavailable, // nothing could go in now
    };
    Outcome append(const std::vector<HitRecord>& hits);

    HitWriter& store_;
    // The vectors keep their room from one group to the next.
    std::vector<HitRecord> hits_;
    std::vector<size_t> ends_; // where each request's hits end in hits_
    std::vector<Done> waiting_;
};

} // namespace zncip::collector
