#include "cznincrementaltimermanager.h"

#include <memory>

namespace
{
std::map<CZnString, std::unique_ptr<CZnIncrementalTimer>>& registry()
{
    static std::map<CZnString, std::unique_ptr<CZnIncrementalTimer>> timers;
    return timers;
}
} // namespace

CZnIncrementalTimer* CZnIncrementalTimerManager::getTimer(const CZnString& name)
{
    std::unique_ptr<CZnIncrementalTimer>& timer = registry()[name];
    if (!timer)
        timer = std::make_unique<CZnIncrementalTimer>(name);
    return timer.get();
}

void CZnIncrementalTimerManager::getTimers(CZnIncrementalTimerMap& timers)
{
    for (const auto& entry : registry())
        timers[entry.first] = entry.second.get();
}

void CZnIncrementalTimerManager::removeAll()
{
    registry().clear();
}
