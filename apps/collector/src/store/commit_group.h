// Group commit for the collection port: the hits of the requests read since the last commit, stored in
// one transaction on the thread that serves the connections.
#pragma once

#include "store/hit_store.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace zncip::collector
{

// One sync then pays for many hits, and no hit is answered before it is durable. The thread that reads
// the requests also commits them: handing each group to a writer thread of its own cost more processor
// (the hand-over, the writer's sleeps, waking the connections) than the transaction itself. While it
// commits, the next requests wait in their sockets, to be read as the next group.
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
