// The collection port's writer: a thread that commits one group of hits while the collection thread
// reads the requests of the next.
#pragma once

#include "store/commit_group.h"

#include <condition_variable>
#include <cstddef>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace zncip::collector
{

// Requests join the open group; the writer takes it whole once it is done with the one before, stores
// it in one transaction and tells each request, then wakes the collection thread once for the group,
// through an event descriptor that thread waits on beside the connections. The writer is woken once per
// group too, not per request.
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
    // How many requests the writer waits for before it goes on; kAsleepNever while it is not asleep.
    static constexpr size_t kAsleepNever = std::numeric_limits<size_t>::max();
    size_t wakeAt_ = kAsleepNever;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zncip::collector
