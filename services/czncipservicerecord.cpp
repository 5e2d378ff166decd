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
