#pragma once

#include "czneditorreactor.h"
#include "odeditor.h"

// What every recorder's Start and Stop do: one registration with the host editor delivers editor,
// command-stack and LISP events to the recorder's editor-reactor part.
inline void registerWithEditor(CZnEditorReactor* reactor)
{
    odedEditor()->addReactor(reactor);
}

inline void unregisterFromEditor(CZnEditorReactor* reactor)
{
    odedEditor()->removeReactor(reactor);
}
