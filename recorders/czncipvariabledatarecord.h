#pragma once

#include "cznstring.h"
#include "odresbuf.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <vector>

// The history of one watched system variable: each distinct value it took, in order, with when it
// was first seen and how many whole seconds it was held.
class CZnCIPVariableDataRecord
{
public:
    struct Period
    {
        qint64 start;    // clock reading in milliseconds when the value was first seen
        qint64 duration; // whole seconds the value was held; 0 while the period is open
        OdResBufPtr value;
    };

    // The clock starts with the record.
    explicit CZnCIPVariableDataRecord(const CZnString& variableName);
    virtual ~CZnCIPVariableDataRecord();
    CZnCIPVariableDataRecord(const CZnCIPVariableDataRecord&) = default;
    CZnCIPVariableDataRecord& operator=(const CZnCIPVariableDataRecord&) = default;

    // Takes a value seen at now (a reading of clock). The value already held changes nothing;
    // another value closes the open period and opens a new one. True when a period was added.
    bool Capture(const OdResBufPtr& newValue, qint64 now);
    // Closes the last period at now, unless it was closed already.
    void CloseLastPeriod(qint64 now);
    // Sum of the periods' durations.
    qint64 TotalSeconds() const;

    QElapsedTimer clock;
    CZnString name;
    std::vector<Period> periods;
};
