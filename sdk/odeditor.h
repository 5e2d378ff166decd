#pragma once

#include "odedreactors.h"
#include "odsmartptr.h"

#include <vector>

// The editor: keeps the registered reactors and dispatches editor, command-stack and LISP events to
// them. A reactor that also derives from the command-stack or LISP reactor class receives those
// events through its single registration.
class OdEditor : public OdRxObject
{
public:
    void addReactor(OdRxEventReactor* reactor);
    void removeReactor(OdRxEventReactor* reactor);
    bool hasReactor(OdRxEventReactor* reactor) const;
    const std::vector<OdRxEventReactor*>& reactors() const { return m_reactors; }

    // Dispatch, called by the host. A reactor removed by an earlier reactor's callback is skipped.
    void fireCommandWillStart(OdEdCommand* command, OdEdCommandContext* context);
    void fireCommandEnded(OdEdCommand* command, OdEdCommandContext* context);
    // Returns the first command a reactor supplies for the name, or null.
    OdEdCommandPtr fireUnknownCommand(const OdString& name, OdEdCommandContext* context);
    void fireSysVarChanged(OdDbDatabase* database, const OdString& name);
    void fireLispWillStart(const OdString& expression);
    void fireLispEnded();

    // Calls f on each reactor still registered, in registration order.
    template <class F> void forEachReactor(F f)
    {
        const std::vector<OdRxEventReactor*> snapshot = m_reactors;
        for (OdRxEventReactor* reactor : snapshot)
            if (hasReactor(reactor))
                f(reactor);
    }

    void addRef() override {}
    void release() override {}
    long numRefs() const override { return 1; }

private:
    std::vector<OdRxEventReactor*> m_reactors;
};
using OdEditorPtr = OdSmartPtr<OdEditor>;

// The process-wide editor.
OdEditorPtr odedEditor();
