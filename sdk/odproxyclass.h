#pragma once

#include "odrxclass.h"

// A class that a drawing uses but no loaded application defines: the drawing keeps its objects as
// proxies, and the class is known only by its name and the name of the application that defined it.
class OdProxyClass : public OdRxClass
{
public:
    using OdRxClass::OdRxClass;

    static const OdRxClass* desc();
    const OdRxClass* isA() const override { return desc(); }
};
