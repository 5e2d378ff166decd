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

    // What every service's SetEvent does: an event record; screen values already set stay.
    void SetEvent(const CZnString& eventCategory, const CZnString& eventAction, const CZnString& eventLabel,
                  int eventValue);
    // What every service's SetScreenValue does: a screen view named screen, value stored under index
    // (replacing an earlier one there); the event fields stay.
    void SetScreenValue(const CZnString& screen, int index, const QVariant& screenValue);

    std::int32_t kind = RecordNone;
    CZnString category; // the event category, or the screen name of a screen view
    CZnString action;
    CZnString label;
    std::int32_t value = 0;
    QMap<int, QVariant> values; // screen values by index, iterated in ascending order
};
