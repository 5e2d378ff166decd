#pragma once

#include "oddb.h"
#include "oddbobject.h"

// The handle by which a database object is referred to; null refers to nothing.
class OdDbObjectId
{
public:
    OdDbObjectId() = default;
    explicit OdDbObjectId(OdDbObject* object) : m_object(object) {}

    bool isNull() const { return m_object == nullptr; }
    bool isErased() const { return m_object && m_object->isErased(); }
    // The object, or null when the id is null or the object is erased and openErased is false.
    OdDbObjectPtr openObject(OdDb::OpenMode mode = OdDb::kForRead, bool openErased = false) const;

    bool operator==(const OdDbObjectId& other) const { return m_object == other.m_object; }
    bool operator!=(const OdDbObjectId& other) const { return m_object != other.m_object; }

private:
    OdDbObject* m_object = nullptr;
};
