// The collection port's writer: a thread that commits one group of hits while the collection thread
// reads the requests of the next.
#include "store/commit_writer.h"

#include <unistd.h>

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
        // A writer that is committing takes the group when it is done: waking it for each request would
        // cost a switch of threads per hit.
        wake = asleep_;
        asleep_ = false;
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
    // The group being committed, swapped with the open one so that each keeps its vectors' room.
    CommitGroup group(store_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        asleep_ = open_.requests() == 0;
        work_.wait(lock, [&] { return stopping_ || open_.requests() > 0; });
        asleep_ = false;
        if (open_.requests() == 0)
            return; // stopping with nothing left
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
