#pragma once

#include "odedcommand.h"
#include "odrxobject.h"
#include "odstring.h"

class OdDbDatabase;

// Base of everything the editor accepts with addReactor.
class OdRxEventReactor : public OdRxObject
{
};

// Editor events. Every callback is an empty default; reactors override what they watch.
class OdEditorReactor : public OdRxEventReactor
{
public:
    virtual void commandWillStart(OdDbDatabase*, const OdString& /*commandName*/) {}
    virtual void commandEnded(OdDbDatabase*, const OdString& /*commandName*/) {}
    virtual void sysVarChanged(OdDbDatabase*, const OdString& /*name*/) {}
};

// Command-stack events: a registered command is about to run, or a name matched no command.
class OdEdCommandStackReactor : public OdRxObject
{
public:
    virtual void commandWillStart(OdEdCommand*, OdEdCommandContext*) {}
    virtual void commandEnded(OdEdCommand*, OdEdCommandContext*) {}
    // A reactor may supply a command for the unknown name; null means it does not.
    virtual OdEdCommandPtr unknownCommand(const OdString& /*name*/, OdEdCommandContext*)
    {
        return OdEdCommandPtr();
    }
};

// LISP engine events.
class OdEdLispEngineReactor : public OdRxObject
{
public:
    virtual void lispWillStart(const OdString& /*expression*/) {}
    virtual void lispEnded() {}
};
