#include "odrxclass.h"

bool OdRxClass::isDerivedFrom(const OdRxClass* other) const
{
    for (const OdRxClass* c = this; c; c = c->myParent())
        if (c == other)
            return true;
    return false;
}

const OdRxClass* OdRxClass::desc()
{
    static OdStaticRxObject<OdRxClass> descriptor(OdString("OdRxClass"));
    return &descriptor;
}
