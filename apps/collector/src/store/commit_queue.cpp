#include "store/commit_queue.h"

#include <cstdio>

namespace zncip::collector
{

CommitQueue::CommitQueue(HitStore& store) : store_(store), writer_([this] { run(); }) {}

CommitQueue::~CommitQueue()
{
    stop();
}

bool CommitQueue::submit(std::vector<HitRecord> hits, Done done)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
        return false;
    for (HitRecord& h : hits)
        open_.hits.push_back(std::move(h));
    open_.waiting.push_back(std::move(done));
    work_.notify_one();
    return true;
}

void CommitQueue::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    if (writer_.joinable())
        writer_.join();
}

void CommitQueue::run()
{
    // Clients answered by the last commit mostly send again at once. Waiting a moment for as many of
    // them as that commit carried lets one transaction take them all, where the store asks for it; a
    // lone hit after a lone hit does not wait at all.
    const std::chrono::microseconds gatherWait = store_.batchGatherWait();
    size_t lastSubmitters = 1;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        work_.wait(lock, [&] { return stopping_ || !open_.waiting.empty(); });
        if (open_.waiting.empty())
            return; // stopping with nothing left
        if (gatherWait.count() > 0)
            work_.wait_for(lock, gatherWait,
                           [&] { return stopping_ || open_.waiting.size() >= lastSubmitters; });
        lastSubmitters = open_.waiting.size();
        Batch batch = std::move(open_);
        open_ = Batch();
        lock.unlock();
        bool stored = false;
        try
        {
            store_.append(batch.hits);
            stored = true;
        }
        catch (const std::exception& e) // out of memory included: the writer must live on
        {
            std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored, answered 503: %s\n",
                         batch.hits.size(), e.what());
        }
        for (const Done& done : batch.waiting)
            done(stored);
        lock.lock();
    }
}

} // namespace zncip::collector
