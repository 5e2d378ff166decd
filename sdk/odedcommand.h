#pragma once

#include "odrxobject.h"
#include "odsmartptr.h"
#include "odstring.h"

// What a command is run with; the recorders never look inside.
class OdEdCommandContext
{
public:
    virtual ~OdEdCommandContext() = default;
};

// A registered command, known by its global name and the name of the group that registered it.
class OdEdCommand : public OdRxObject
{
public:
    OdEdCommand(OdString globalName, OdString groupName)
        : m_globalName(std::move(globalName)), m_groupName(std::move(groupName))
    {
    }

    virtual OdString globalName() const { return m_globalName; }
    virtual OdString groupName() const { return m_groupName; }
    virtual OdString localName() const { return m_globalName; }
    virtual void execute(OdEdCommandContext*) {}

private:
    OdString m_globalName;
    OdString m_groupName;
};
using OdEdCommandPtr = OdSmartPtr<OdEdCommand>;
