#pragma once

#include "czncipservicerecord.h"

#include <QStringList>

// What both real services share: the categories that may leave the process, those that never do,
// and the filter that Send applies with them.
class CZnCIPServiceHelper
{
public:
    CZnCIPServiceHelper();

    // Marks the record suppressed unless its category is allowed and not blocked (exact,
    // case-sensitive). A screen view is filtered by its screen name.
    void Filter(CZnCIPServiceRecord& record) const;

    QStringList allowedCategories;
    QStringList blockedCategories;
};
