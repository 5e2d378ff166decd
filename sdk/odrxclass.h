#pragma once

#include "odrxobject.h"
#include "odstring.h"

// A class descriptor: the class's name, the application that defines it and its parent class. A
// drawing lists the classes its objects use as descriptors of this kind.
class OdRxClass : public OdRxObject
{
public:
    explicit OdRxClass(OdString name, OdString appName = OdString(), const OdRxClass* parent = nullptr)
        : m_name(std::move(name)), m_appName(std::move(appName)), m_parent(parent)
    {
    }

    const OdString& name() const { return m_name; }
    const OdString& appName() const { return m_appName; }
    const OdRxClass* myParent() const { return m_parent; }
    // True for this class itself and every class derived from other.
    bool isDerivedFrom(const OdRxClass* other) const;

    // The descriptor of OdRxClass itself.
    static const OdRxClass* desc();
    const OdRxClass* isA() const override { return desc(); }

private:
    OdString m_name;
    OdString m_appName;
    const OdRxClass* m_parent;
};
