#pragma once

#include "odrxobject.h"
#include "odsmartptr.h"

class OdDbObject;
using OdDbObjectPtr = OdSmartPtr<OdDbObject>;

// An object stored in a drawing database. An erased object stays in the database until it is purged
// but is not opened unless asked for explicitly.
class OdDbObject : public OdRxObject
{
public:
    bool isErased() const { return m_erased; }
    void erase(bool erasing = true) { m_erased = erasing; }

private:
    bool m_erased = false;
};
