#include "oddbsysvardesc.h"

OdDbSysVarDescPtr OdDbSysVarDesc::createObject(const OdString& name)
{
    return OdDbSysVarDescPtr(OdRxObjectImpl<OdDbSysVarDesc>::createObject(name));
}

OdResBufPtr OdDbSysVarDesc::getValue(const OdDbDatabase* database) const
{
    auto it = m_values.find(database);
    if (it == m_values.end() && database)
        it = m_values.find(nullptr);
    return it == m_values.end() ? OdResBufPtr() : it->second;
}

void OdDbSysVarDesc::setValue(const OdResBufPtr& value, const OdDbDatabase* database)
{
    if (value)
        m_values[database] = value;
    else
        m_values.erase(database);
}
