// The admin listener's pool of read connections (see reader_pool.h); called from its request threads.
#include "admin/reader_pool.h"

namespace zncip::collector
{

ReaderPool::ReaderPool(Open open, size_t most) : open_(std::move(open)), most_(most < 1 ? 1 : most)
{
    free_.push_back(open_());
    opened_ = 1;
}

ReaderPool::Lease ReaderPool::take(bool report)
{
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(
        lock, [&]
        { return (!free_.empty() || opened_ < most_) && (!report || most_ == 1 || reports_ + 1 < most_); });
    reports_ += report;
    if (!free_.empty())
    {
        std::unique_ptr<HitReader> reader = std::move(free_.back());
        free_.pop_back();
        return Lease(*this, std::move(reader), report);
    }
    ++opened_; // counted before the slow open, which runs unlocked so that others may take and give back
    lock.unlock();
    try
    {
        return Lease(*this, open_(), report);
    }
    catch (...)
    {
        lock.lock();
        --opened_;
        reports_ -= report;
        returned_.notify_all();
        throw;
    }
}

size_t ReaderPool::opened() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

void ReaderPool::giveBack(std::unique_ptr<HitReader> reader, bool report)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(reader));
        reports_ -= report;
    }
    returned_.notify_all(); // a quick request may go where a waiting report may not
}

} // namespace zncip::collector
