#include "czncipservicerecord.h"

void CZnCIPServiceRecord::Reset()
{
    kind = RecordNone;
    category = CZnString();
    action = CZnString();
    label = CZnString();
    value = 0;
    values = QMap<int, QVariant>();
}

void CZnCIPServiceRecord::SetEvent(const CZnString& eventCategory, const CZnString& eventAction,
                                   const CZnString& eventLabel, int eventValue)
{
    kind = RecordEvent;
    category = eventCategory;
    action = eventAction;
    label = eventLabel;
    value = eventValue;
}

void CZnCIPServiceRecord::SetScreenValue(const CZnString& screen, int index, const QVariant& screenValue)
{
    kind = RecordScreenView;
    category = screen;
    values.insert(index, screenValue);
}
