// The admin listener's read connections: each request borrows one of its own, so that a quick answer
// (the list of versions) never waits behind reports that others asked for. SQLite readers see the last
// commit through the write-ahead log, PostgreSQL readers through their own connection. AdminServer's
// request threads call take() at once; a lease is returned on the thread that took it.
#pragma once

#include "store/hit_store.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zncip::collector
{

class ReaderPool
{
public:
    using Open = std::function<std::unique_ptr<HitReader>()>;

    // A reader for one request; back in the pool when it goes.
    class Lease
    {
    public:
        Lease(ReaderPool& pool, std::unique_ptr<HitReader> reader, bool report)
            : pool_(pool), reader_(std::move(reader)), report_(report)
        {
        }
        ~Lease() { pool_.giveBack(std::move(reader_), report_); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        const HitReader& operator*() const { return *reader_; }

    private:
        ReaderPool& pool_;
        std::unique_ptr<HitReader> reader_;
        bool report_;
    };

    // Opens one reader at once, so that a database that cannot be read stops the start; opens the
    // others, up to most, when requests overlap. Throws what open throws.
    ReaderPool(Open open, size_t most);

    // A free reader, else a new one while fewer than most are open, else the first one given back. One
    // for a report waits while all readers but one are building reports, so that a quick answer (the
    // versions, the status) never waits behind them; more reports at once would only share the cores.
    // Throws what open throws (the request is answered as unavailable; the pool stays as it was).
    Lease take(bool report = false);
    size_t opened() const;

private:
    void giveBack(std::unique_ptr<HitReader> reader, bool report);

    Open open_;
    const size_t most_;
    mutable std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<HitReader>> free_;
    size_t opened_ = 0;
    size_t reports_ = 0; // leases for reports out
};

} // namespace zncip::collector
