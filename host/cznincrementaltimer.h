#pragma once

#include "cznincrementaltimerinfo.h"
#include "cznstring.h"

#include <QElapsedTimer>

// One named performance timer of the host: it adds up the runs of one operation, each run timed
// between start() and stop() or reported whole with addVisit().
class CZnIncrementalTimer
{
public:
    explicit CZnIncrementalTimer(const CZnString& name) : m_name(name) {}

    const CZnString& name() const { return m_name; }
    void start() { m_clock.start(); }
    // Ends the run begun by start(); without a start it does nothing.
    void stop();
    void addVisit(double milliseconds);
    void reset();
    void getInfo(CZnIncrementalTimerInfo& info) const;

private:
    CZnString m_name;
    QElapsedTimer m_clock;
    CZnIncrementalTimerInfo m_info{0, 0.0, 0.0, 0.0, 0.0};
};
