// A deadline for each connection of the admin listener to complete its request, counted from when it
// opened or from its previous answer: a client that trickles a byte now and then never looks idle to
// the HTTP library, yet must not hold a connection for long. Its own thread cuts a late connection by
// shutting its socket down, which the library then closes. The listener's callbacks call the other
// members from the library's threads at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace zncip::collector
{

class RequestDeadlines
{
public:
    explicit RequestDeadlines(std::chrono::milliseconds limit) : limit_(limit) {}
    ~RequestDeadlines() { stop(); }
    RequestDeadlines(const RequestDeadlines&) = delete;
    RequestDeadlines& operator=(const RequestDeadlines&) = delete;

    void start();
    void stop(); // after the listener stopped, so that no socket is cut after it was closed

    // connection is the library's handle, fd its socket, valid until closed() returns.
    void opened(const void* connection, int fd);
    void answering(const void* connection); // the request is complete: no deadline while it is answered
    void answered(const void* connection);  // a next request must be complete within the limit from now
    void closed(const void* connection);

private:
    using Clock = std::chrono::steady_clock;
    struct Entry
    {
        const void* connection;
        int fd;
        Clock::time_point deadline; // max(): none
    };
    void run();
    void setDeadline(const void* connection, Clock::time_point deadline);

    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> entries_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zncip::collector
