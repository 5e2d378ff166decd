#include "odproxyclass.h"

const OdRxClass* OdProxyClass::desc()
{
    static OdStaticRxObject<OdRxClass> descriptor(OdString("OdProxyClass"), OdString(), OdRxClass::desc());
    return &descriptor;
}
