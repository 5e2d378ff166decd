#include "cznincrementaltimer.h"

void CZnIncrementalTimer::stop()
{
    if (!m_clock.isValid())
        return;
    addVisit(static_cast<double>(m_clock.nsecsElapsed()) / 1e6);
    m_clock.invalidate();
}

void CZnIncrementalTimer::addVisit(double milliseconds)
{
    if (m_info.visits == 0 || milliseconds < m_info.best)
        m_info.best = milliseconds;
    if (m_info.visits == 0 || milliseconds > m_info.worst)
        m_info.worst = milliseconds;
    ++m_info.visits;
    m_info.total += milliseconds;
    m_info.last = milliseconds;
}

void CZnIncrementalTimer::reset()
{
    m_info = CZnIncrementalTimerInfo{0, 0.0, 0.0, 0.0, 0.0};
    m_clock.invalidate();
}

void CZnIncrementalTimer::getInfo(CZnIncrementalTimerInfo& info) const
{
    info = m_info;
}
