#pragma once

#include "oddbobject.h"
#include "oddbobjectid.h"
#include "odstring.h"

#include <map>

class OdDbDictionary;
using OdDbDictionaryPtr = OdSmartPtr<OdDbDictionary>;

// A database object that maps names to other objects' ids.
class OdDbDictionary : public OdDbObject
{
public:
    bool has(const OdString& name) const { return m_entries.count(name) != 0; }
    OdDbObjectId getAt(const OdString& name) const;
    void setAt(const OdString& name, const OdDbObjectId& id) { m_entries[name] = id; }
    bool remove(const OdString& name) { return m_entries.erase(name) != 0; }
    int numEntries() const { return static_cast<int>(m_entries.size()); }

private:
    std::map<OdString, OdDbObjectId> m_entries;
};
