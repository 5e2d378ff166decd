// The collection port's writer: a thread that commits one group of hits while the collection thread
// reads the requests of the next.
#include "store/commit_writer.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace zncip::collector
{

CommitWriter::CommitWriter(HitWriter& store, int committed)
    : store_(store), committed_(committed), open_(store), thread_([this] { run(); })
{
}

CommitWriter::~CommitWriter()
{
    stop();
}

void CommitWriter::submit(std::vector<HitRecord> hits, CommitGroup::Done done)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.add(std::move(hits), std::move(done));
        // Waking the writer for each request while it gathers a group would cost a switch of threads
        // per hit: it is woken once, when the group it waits for is complete.
        wake = open_.requests() >= wakeAt_;
        if (wake)
            wakeAt_ = kAsleepNever;
    }
    // Woken with the lock still held, the writer would at once sleep again on it.
    if (wake)
        work_.notify_one();
}

void CommitWriter::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void CommitWriter::run()
{
    // Clients answered by the last commit mostly send again at once. Waiting a moment for as many of
    // them as that commit carried lets one transaction take them all, where the store asks for it; a
    // lone hit after a lone hit does not wait at all.
    const std::chrono::microseconds gatherWait = store_.batchGatherWait();
    size_t lastRequests = 1;
    // The group being committed, swapped with the open one so that each keeps its vectors' room.
    CommitGroup group(store_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        wakeAt_ = 1;
        work_.wait(lock, [&] { return stopping_ || open_.requests() > 0; });
        if (open_.requests() == 0)
            return; // stopping with nothing left
        if (gatherWait.count() > 0)
        {
            wakeAt_ = lastRequests;
            work_.wait_for(lock, gatherWait, [&] { return stopping_ || open_.requests() >= lastRequests; });
        }
        wakeAt_ = kAsleepNever; // it looks at the open group again before it sleeps
        lastRequests = open_.requests();
        group.swap(open_);
        lock.unlock();
        group.commit();
        const uint64_t one = 1;
        if (write(committed_, &one, sizeof one) < 0)
            std::perror("zncip-collector: telling the collection thread of a commit");
        lock.lock();
    }
}

} // namespace zncip::collector
