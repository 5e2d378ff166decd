// Cuts admin connections whose request is late (see request_deadlines.h); its thread is the only one that
// shuts sockets down, and it does so under the lock that closed() takes before the library closes them.
#include "admin/request_deadlines.h"

#include <sys/socket.h>

#include <algorithm>

namespace zncip::collector
{

void RequestDeadlines::start()
{
    stopping_ = false;
    thread_ = std::thread(&RequestDeadlines::run, this);
}

void RequestDeadlines::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void RequestDeadlines::opened(const void* connection, int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({connection, fd, Clock::now() + limit_});
}

void RequestDeadlines::answering(const void* connection)
{
    setDeadline(connection, Clock::time_point::max());
}

void RequestDeadlines::answered(const void* connection)
{
    setDeadline(connection, Clock::now() + limit_);
}

void RequestDeadlines::closed(const void* connection)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.connection == connection; }),
                   entries_.end());
}

void RequestDeadlines::setDeadline(const void* connection, Clock::time_point deadline)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& e : entries_)
        if (e.connection == connection)
            e.deadline = deadline;
}

void RequestDeadlines::run()
{
    // Checked a few times per limit: a connection is cut at most a quarter of the limit late.
    const auto every = std::max(limit_ / 4, std::chrono::milliseconds(10));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, every, [this] { return stopping_; }))
    {
        const Clock::time_point now = Clock::now();
        for (Entry& e : entries_)
            if (e.deadline <= now)
            {
                shutdown(e.fd, SHUT_RDWR);
                e.deadline = Clock::time_point::max();
            }
    }
}

} // namespace zncip::collector
