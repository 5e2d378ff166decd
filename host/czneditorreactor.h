#pragma once

#include "odedreactors.h"

class QWidget;

// The host's editor reactor: one registration with the editor delivers editor, command-stack and
// LISP events, plus the life of the host's main window.
class CZnEditorReactor : public OdEditorReactor, public OdEdCommandStackReactor, public OdEdLispEngineReactor
{
public:
    virtual void mainFrameCreated(QWidget* /*mainFrame*/) {}
    virtual void mainFrameDestroyed(QWidget* /*mainFrame*/) {}
};

// Host dispatch of the main window's life to every registered editor reactor.
void znFireMainFrameCreated(QWidget* mainFrame);
void znFireMainFrameDestroyed(QWidget* mainFrame);
