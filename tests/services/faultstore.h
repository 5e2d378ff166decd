#pragma once

#include "hit_store.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

// The collector's real store with two faults it can be made to show: appends that fail (the collector then
// answers 503) and appends held back (no answer until released).
class FaultStore : public zncip::collector::HitStore
{
public:
    explicit FaultStore(std::unique_ptr<HitStore> real) : m_real(std::move(real)) {}

    void append(const std::vector<zncip::collector::HitRecord>& hits) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_arrived;
        m_released.wait(lock, [this] { return m_passes != 0; });
        if (m_passes > 0)
            --m_passes;
        if (m_failures > 0)
        {
            --m_failures;
            throw zncip::collector::StoreError("the store was made to fail");
        }
        lock.unlock();
        m_real->append(hits);
    }
    void forEach(const std::function<void(const zncip::collector::StoredHit&)>& visit) const override
    {
        m_real->forEach(visit);
    }
    int64_t count() const override { return m_real->count(); }

    void failNext(int appends) { m_failures = appends; }
    // From now on appends wait: release(n) lets n more through, release() every one from then on.
    void hold() { setPasses(0); }
    void release(int appends = -1) { setPasses(appends); }
    // Appends begun so far, held and failed ones included.
    int arrived() const { return m_arrived; }

private:
    void setPasses(int n)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_passes = n == 0 ? 0 : n < 0 || m_passes < 0 ? -1 : m_passes + n;
        m_released.notify_all();
    }

    std::unique_ptr<HitStore> m_real;
    std::mutex m_mutex;
    std::condition_variable m_released;
    int m_passes = -1; // -1 while not holding
    std::atomic<int> m_failures{0}, m_arrived{0};
};
