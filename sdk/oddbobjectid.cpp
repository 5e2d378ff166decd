#include "oddbobjectid.h"

OdDbObjectPtr OdDbObjectId::openObject(OdDb::OpenMode, bool openErased) const
{
    if (!m_object || (m_object->isErased() && !openErased))
        return OdDbObjectPtr();
    return OdDbObjectPtr(m_object);
}
