#pragma once

#include "odresbuf.h"
#include "odrxobject.h"
#include "odstring.h"

#include <map>

class OdDbDatabase;
class OdDbSysVarDesc;
using OdDbSysVarDescPtr = OdSmartPtr<OdDbSysVarDesc>;

// Describes one system variable and gives its current value. A variable kept per drawing has a value
// per database; asked without a database, or for a database that has none of its own, the descriptor
// gives the application-wide value.
class OdDbSysVarDesc : public OdRxObject
{
public:
    static OdDbSysVarDescPtr createObject(const OdString& name);

    const OdString& name() const { return m_name; }
    // The current value, or null when the variable has none.
    OdResBufPtr getValue(const OdDbDatabase* database) const;
    // The value is kept as given: a caller hands over a fresh value rather than changing one it set.
    void setValue(const OdResBufPtr& value, const OdDbDatabase* database = nullptr);
    void clearValue(const OdDbDatabase* database = nullptr) { m_values.erase(database); }

protected:
    explicit OdDbSysVarDesc(OdString name) : m_name(std::move(name)) {}

private:
    OdString m_name;
    std::map<const OdDbDatabase*, OdResBufPtr> m_values;
};
