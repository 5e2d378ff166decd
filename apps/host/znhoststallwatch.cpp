#include "znhoststallwatch.h"

namespace
{
constexpr int kBeatMs = 10;
}

void ZnHostStallWatch::start()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ZnHostStallWatch::beat);
    m_timer.start(kBeatMs);
    m_since.start();
}

void ZnHostStallWatch::beat()
{
    m_longest = qMax(m_longest, m_since.restart() - kBeatMs);
}
