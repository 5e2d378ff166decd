// The collection port's writer: a thread that commits one group of hits while the collection thread
// reads the requests of the next.
#pragma once

#include "store/commit_group.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace zncip::collector
{

// Requests join the open group; the writer takes it whole once it is done with the one before, stores
// it in one transaction and tells each request, then wakes the collection thread once for the group,
// through an event descriptor that thread waits on beside the connections. The writer is woken only when
// it sleeps, not per request. It does not wait to fill a group: its stores' commits cost their sync
// above all, which a fuller group would not save (HitWriter::batchGatherWait).
class CommitWriter
{
public:
    // committed: an event descriptor written after each commit.
    CommitWriter(HitWriter& store, int committed);
    ~CommitWriter();
    CommitWriter(const CommitWriter&) = delete;
    CommitWriter& operator=(const CommitWriter&) = delete;

    // All hits of one call go into the same transaction; done is called on the writer's thread.
    void submit(std::vector<HitRecord> hits, CommitGroup::Done done);
    // Commits what was submitted, then ends the thread.
    void stop();

private:
    void run();

    HitWriter& store_;
    const int committed_;
    std::mutex mutex_;
    std::condition_variable work_;
    CommitGroup open_;
    bool asleep_ = false; // waiting for the first request of the next group
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zncip::collector
