// Group commit for the collection port: one writer thread stores what the request threads hand it.
#pragma once

#include "store/hit_store.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zncip::collector
{

// Group commit: requests hand their hits to one writer thread, which stores everything that arrived
// while it was busy with the previous transaction in one transaction, then tells each submitter. One
// sync then pays for many hits, and no hit is answered before it is durable. Nobody waits in a thread of
// its own: the connection is suspended until its hits are told done.
class CommitQueue
{
public:
    // Called on the writer thread once the hits are committed (true) or could not be stored (false).
    using Done = std::function<void(bool stored)>;

    explicit CommitQueue(HitStore& store);
    ~CommitQueue();
    CommitQueue(const CommitQueue&) = delete;
    CommitQueue& operator=(const CommitQueue&) = delete;

    // All hits of one call go into the same transaction. False, and done is not called, once stopped.
    bool submit(std::vector<HitRecord> hits, Done done);

    // Commits what is queued, then refuses further hits.
    void stop();

private:
    struct Batch
    {
        std::vector<HitRecord> hits;
        std::vector<size_t> ends; // where each submitter's hits end in hits
        std::vector<Done> waiting;
    };
    enum class Outcome
    {
        Stored,
        Refused,     // the database turned these hits down: others may still go in
        Unavailable, // nothing could go in now
    };
    void run();
    void commit(const Batch& batch);
    Outcome append(const std::vector<HitRecord>& hits);

    HitStore& store_;
    std::mutex mutex_;
    std::condition_variable work_;
    Batch open_;
    // How many submitters the writer waits for before it goes on; kAsleepNever while it is not asleep.
    static constexpr size_t kAsleepNever = std::numeric_limits<size_t>::max();
    size_t wakeAt_ = kAsleepNever;
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace zncip::collector
