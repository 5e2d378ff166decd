#pragma once

#include "cznincrementaltimer.h"
#include "cznstring.h"

#include <map>

using CZnIncrementalTimerMap = std::map<CZnString, CZnIncrementalTimer*>;

// The host's registry of named performance timers. The registry owns the timers; they live until
// removeAll().
class CZnIncrementalTimerManager
{
public:
    // The timer of that name, created on first use.
    static CZnIncrementalTimer* getTimer(const CZnString& name);
    // Puts every registered timer into the caller's map, by name.
    static void getTimers(CZnIncrementalTimerMap& timers);
    static void removeAll();
};
