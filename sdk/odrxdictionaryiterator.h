#pragma once

#include "odrxobject.h"
#include "odsmartptr.h"
#include "odstring.h"

#include <cstddef>
#include <utility>
#include <vector>

using OdRxObjectPtr = OdSmartPtr<OdRxObject>;

class OdRxDictionaryIterator;
using OdRxDictionaryIteratorPtr = OdSmartPtr<OdRxDictionaryIterator>;

// A walk over the entries of a dictionary: while !done(), getKey()/getObject() give the current
// entry and next() moves on.
class OdRxDictionaryIterator : public OdRxObject
{
public:
    using Entries = std::vector<std::pair<OdString, OdRxObjectPtr>>;

    explicit OdRxDictionaryIterator(Entries entries) : m_entries(std::move(entries)) {}

    bool done() const { return m_position >= m_entries.size(); }
    // False when the walk is already done.
    bool next();
    // Empty or null when the walk is done.
    OdString getKey() const { return done() ? OdString() : m_entries[m_position].first; }
    OdRxObjectPtr getObject() const { return done() ? OdRxObjectPtr() : m_entries[m_position].second; }

private:
    Entries m_entries;
    std::size_t m_position = 0;
};
