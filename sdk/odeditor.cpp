#include "odeditor.h"

#include <algorithm>

void OdEditor::addReactor(OdRxEventReactor* reactor)
{
    if (reactor && !hasReactor(reactor))
    {
        reactor->addRef();
        m_reactors.push_back(reactor);
    }
}

void OdEditor::removeReactor(OdRxEventReactor* reactor)
{
    auto it = std::find(m_reactors.begin(), m_reactors.end(), reactor);
    if (it != m_reactors.end())
    {
        m_reactors.erase(it);
        reactor->release();
    }
}

bool OdEditor::hasReactor(OdRxEventReactor* reactor) const
{
    return std::find(m_reactors.begin(), m_reactors.end(), reactor) != m_reactors.end();
}

void OdEditor::fireCommandWillStart(OdEdCommand* command, OdEdCommandContext* context)
{
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* editor = dynamic_cast<OdEditorReactor*>(r))
                editor->commandWillStart(nullptr, command ? command->globalName() : OdString());
            if (auto* stack = dynamic_cast<OdEdCommandStackReactor*>(r))
                stack->commandWillStart(command, context);
        });
}

void OdEditor::fireCommandEnded(OdEdCommand* command, OdEdCommandContext* context)
{
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* editor = dynamic_cast<OdEditorReactor*>(r))
                editor->commandEnded(nullptr, command ? command->globalName() : OdString());
            if (auto* stack = dynamic_cast<OdEdCommandStackReactor*>(r))
                stack->commandEnded(command, context);
        });
}

OdEdCommandPtr OdEditor::fireUnknownCommand(const OdString& name, OdEdCommandContext* context)
{
    OdEdCommandPtr supplied;
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* stack = dynamic_cast<OdEdCommandStackReactor*>(r))
            {
                OdEdCommandPtr command = stack->unknownCommand(name, context);
                if (command && !supplied)
                    supplied = command;
            }
        });
    return supplied;
}

void OdEditor::fireSysVarChanged(OdDbDatabase* database, const OdString& name)
{
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* editor = dynamic_cast<OdEditorReactor*>(r))
                editor->sysVarChanged(database, name);
        });
}

void OdEditor::fireLispWillStart(const OdString& expression)
{
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* lisp = dynamic_cast<OdEdLispEngineReactor*>(r))
                lisp->lispWillStart(expression);
        });
}

void OdEditor::fireLispEnded()
{
    forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* lisp = dynamic_cast<OdEdLispEngineReactor*>(r))
                lisp->lispEnded();
        });
}

OdEditorPtr odedEditor()
{
    static OdEditor editor;
    return OdEditorPtr(&editor);
}
