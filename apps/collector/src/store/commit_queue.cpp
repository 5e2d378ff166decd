// Group commit for the collection port: one writer thread stores what the request threads hand it.
#include "store/commit_queue.h"

#include <cstdio>
#include <utility>

namespace zncip::collector
{

CommitQueue::CommitQueue(HitStore& store) : store_(store), writer_([this] { run(); }) {}

CommitQueue::~CommitQueue()
{
    stop();
}

bool CommitQueue::submit(std::vector<HitRecord> hits, Done done)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return false;
        for (HitRecord& h : hits)
            open_.hits.push_back(std::move(h));
        open_.ends.push_back(open_.hits.size());
        open_.waiting.push_back(std::move(done));
        // Waking the writer for each submitter while it gathers a group would cost a switch of threads
        // per hit: it is woken once, when the group it waits for is complete.
        wake = open_.waiting.size() >= wakeAt_;
        if (wake)
            wakeAt_ = kAsleepNever;
    }
    // Woken with the lock still held, the writer would at once sleep again on it.
    if (wake)
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
    // The group being committed. Swapped with the open one, so that each keeps its vectors' room, and
    // emptied after the commit outside the lock: freeing its hits under the lock held up the submitters.
    Batch batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        wakeAt_ = 1;
        work_.wait(lock, [&] { return stopping_ || !open_.waiting.empty(); });
        if (open_.waiting.empty())
            return; // stopping with nothing left
        if (gatherWait.count() > 0)
        {
            wakeAt_ = lastSubmitters;
            work_.wait_for(lock, gatherWait,
                           [&] { return stopping_ || open_.waiting.size() >= lastSubmitters; });
        }
        wakeAt_ = kAsleepNever; // it looks at the queue again before it sleeps
        lastSubmitters = open_.waiting.size();
        std::swap(batch, open_);
        lock.unlock();
        commit(batch);
        batch.hits.clear();
        batch.ends.clear();
        batch.waiting.clear();
        lock.lock();
    }
}

// One transaction for the whole group. Should the database refuse it while it is reachable, each
// submitter's hits are tried again in a transaction of their own: a hit the database refuses then fails
// alone, and the other clients' hits that happened to share its group are stored and answered as usual.
void CommitQueue::commit(const Batch& batch)
{
    const Outcome whole = append(batch.hits);
    if (whole != Outcome::Refused || batch.waiting.size() == 1)
    {
        for (const Done& done : batch.waiting)
            done(whole == Outcome::Stored);
        return;
    }
    for (size_t i = 0, begin = 0; i < batch.waiting.size(); begin = batch.ends[i++])
    {
        const auto first = batch.hits.begin();
        const std::vector<HitRecord> alone(first + static_cast<std::ptrdiff_t>(begin),
                                           first + static_cast<std::ptrdiff_t>(batch.ends[i]));
        batch.waiting[i](append(alone) == Outcome::Stored);
    }
}

CommitQueue::Outcome CommitQueue::append(const std::vector<HitRecord>& hits)
{
    try
    {
        store_.append(hits);
        return Outcome::Stored;
    }
    catch (const StoreError& e)
    {
        std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored: %s\n", hits.size(), e.what());
        return e.unavailable() ? Outcome::Unavailable : Outcome::Refused;
    }
    catch (const std::exception& e) // out of memory included: the writer must live on
    {
        std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored: %s\n", hits.size(), e.what());
        return Outcome::Unavailable;
    }
}

} // namespace zncip::collector
