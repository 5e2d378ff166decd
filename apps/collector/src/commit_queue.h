#pragma once

#include "hit_store.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zncip::collector
{

// Group commit: request threads hand their hits to one writer thread and wait; the writer stores
// everything that arrived while it was busy with the previous transaction in one transaction, then wakes
// its submitters. One sync then pays for many hits, and no hit is answered before it is durable.
class CommitQueue
{
public:
    explicit CommitQueue(HitStore& store);
    ~CommitQueue();
    CommitQueue(const CommitQueue&) = delete;
    CommitQueue& operator=(const CommitQueue&) = delete;

    // Blocks until the hits are committed (true) or could not be stored (false). All hits of one call
    // go into the same transaction.
    bool submit(std::vector<HitRecord> hits);

    // Commits what is queued, then refuses further hits.
    void stop();

private:
    struct Batch;
    void run();

    HitStore& store_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::shared_ptr<Batch> open_;
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace zncip::collector
