#include "czncipvariabledatarecord.h"

CZnCIPVariableDataRecord::CZnCIPVariableDataRecord(const CZnString& variableName) : name(variableName)
{
    clock.start();
}

CZnCIPVariableDataRecord::~CZnCIPVariableDataRecord() = default;

bool CZnCIPVariableDataRecord::Capture(const OdResBufPtr& newValue, qint64 now)
{
    if (!newValue)
        return false;
    if (!periods.empty() && periods.back().value && *periods.back().value == *newValue)
        return false;
    CloseLastPeriod(now);
    periods.push_back(Period{now, 0, newValue});
    return true;
}

void CZnCIPVariableDataRecord::CloseLastPeriod(qint64 now)
{
    if (!periods.empty() && periods.back().duration == 0)
        periods.back().duration = (now - periods.back().start) / 1000;
}

qint64 CZnCIPVariableDataRecord::TotalSeconds() const
{
    qint64 total = 0;
    for (const Period& period : periods)
        total += period.duration;
    return total;
}
