#include "odrxdictionary.h"

#include <algorithm>

namespace
{
template <class Entries> auto findEntry(Entries& entries, const OdString& key)
{
    return std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
}
} // namespace

OdRxDictionaryPtr OdRxDictionary::createObject()
{
    return OdRxDictionaryPtr(OdRxObjectImpl<OdRxDictionary>::createObject());
}

OdRxObjectPtr OdRxDictionary::getAt(const OdString& key) const
{
    auto it = findEntry(m_entries, key);
    return it == m_entries.end() ? OdRxObjectPtr() : it->second;
}

OdRxObjectPtr OdRxDictionary::putAt(const OdString& key, OdRxObject* object)
{
    auto it = findEntry(m_entries, key);
    if (it == m_entries.end())
    {
        m_entries.emplace_back(key, OdRxObjectPtr(object));
        return OdRxObjectPtr();
    }
    OdRxObjectPtr previous = it->second;
    it->second = OdRxObjectPtr(object);
    return previous;
}

bool OdRxDictionary::has(const OdString& key) const
{
    return findEntry(m_entries, key) != m_entries.end();
}

OdRxObjectPtr OdRxDictionary::remove(const OdString& key)
{
    auto it = findEntry(m_entries, key);
    if (it == m_entries.end())
        return OdRxObjectPtr();
    OdRxObjectPtr removed = it->second;
    m_entries.erase(it);
    return removed;
}

OdRxDictionaryIteratorPtr OdRxDictionary::newIterator() const
{
    return OdRxDictionaryIteratorPtr(OdRxObjectImpl<OdRxDictionaryIterator>::createObject(m_entries));
}
