#include "commit_queue.h"

#include <cstdio>

namespace zncip::collector
{

struct CommitQueue::Batch
{
    std::vector<HitRecord> hits;
    bool done = false;
    bool stored = false;
    std::condition_variable finished;
};

CommitQueue::CommitQueue(HitStore& store) : store_(store), writer_([this] { run(); }) {}

CommitQueue::~CommitQueue()
{
    stop();
}

bool CommitQueue::submit(std::vector<HitRecord> hits)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return false;
    if (!open_)
    {
        open_ = std::make_shared<Batch>();
        work_.notify_one();
    }
    const std::shared_ptr<Batch> batch = open_;
    for (HitRecord& h : hits)
        batch->hits.push_back(std::move(h));
    batch->finished.wait(lock, [&] { return batch->done; });
    return batch->stored;
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
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        work_.wait(lock, [&] { return stopping_ || open_; });
        if (!open_)
            return; // stopping with nothing left
        const std::shared_ptr<Batch> batch = std::move(open_);
        lock.unlock();
        bool stored = false;
        try
        {
            store_.append(batch->hits);
            stored = true;
        }
        catch (const std::exception& e) // out of memory included: the writer must live on
        {
            std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored, answered 503: %s\n",
                         batch->hits.size(), e.what());
        }
        batch->hits.clear();
        lock.lock();
        batch->done = true;
        batch->stored = stored;
        batch->finished.notify_all();
    }
}

} // namespace zncip::collector
