#pragma once

#include "odrxdictionaryiterator.h"
#include "odrxobject.h"
#include "odsmartptr.h"
#include "odstring.h"

#include <utility>
#include <vector>

class OdRxDictionary;
using OdRxDictionaryPtr = OdSmartPtr<OdRxDictionary>;

// Objects by name. Iteration follows the order in which the names were first put in, so what a
// caller walks through is stable from run to run.
class OdRxDictionary : public OdRxObject
{
public:
    static OdRxDictionaryPtr createObject();

    // The object stored under key, or null.
    OdRxObjectPtr getAt(const OdString& key) const;
    // Stores object under key and returns what was stored there before (null if nothing).
    OdRxObjectPtr putAt(const OdString& key, OdRxObject* object);
    bool has(const OdString& key) const;
    // Takes the entry out and returns its object (null if there was none).
    OdRxObjectPtr remove(const OdString& key);
    int numEntries() const { return static_cast<int>(m_entries.size()); }
    // Walks a snapshot of the entries, so the dictionary may change while the walk goes on.
    OdRxDictionaryIteratorPtr newIterator() const;

private:
    std::vector<std::pair<OdString, OdRxObjectPtr>> m_entries;
};
