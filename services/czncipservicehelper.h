#pragma once

#include "czncipservicerecord.h"

#include <QStringList>

// What both real services share: the categories that may leave the process, those that never do,
// and the Send step that filters, emits and resets the pending record.
class CZnCIPServiceHelper
{
public:
    CZnCIPServiceHelper();

    // Marks the record suppressed unless its category is allowed and not blocked (exact,
    // case-sensitive). A screen view is filtered by its screen name.
    void Filter(CZnCIPServiceRecord& record) const;

    // The whole of a service's Send: filters the record, hands an event to onEvent and a screen view
    // to onScreenView (each gets the record, which it may change; it is reset right after), then
    // resets the record whatever its kind.
    template <class OnEvent, class OnScreenView>
    void Send(CZnCIPServiceRecord& record, OnEvent&& onEvent, OnScreenView&& onScreenView) const
    {
        Filter(record);
        if (record.kind == CZnCIPServiceRecord::RecordEvent)
            onEvent(record);
        else if (record.kind == CZnCIPServiceRecord::RecordScreenView)
            onScreenView(record);
        record.Reset();
    }

    QStringList allowedCategories;
    QStringList blockedCategories;
};
