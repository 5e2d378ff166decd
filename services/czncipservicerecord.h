#pragma once

#include "cznstring.h"

#include <QMap>
#include <QVariant>

#include <cstdint>

// The one record a service holds between the recorder's preparing calls and its Send.
class CZnCIPServiceRecord
{
public:
    enum Kind : std::int32_t
    {
        RecordNone = 0,
        RecordEvent = 1,
        RecordScreenView = 2,
        RecordSuppressed = 3,
    };

    void Reset();

    std::int32_t kind = RecordNone;
    CZnString category; // the event category, or the screen name of a screen view
    CZnString action;
    CZnString label;
    std::int32_t value = 0;
    QMap<int, QVariant> values; // screen values by index, iterated in ascending order
};
