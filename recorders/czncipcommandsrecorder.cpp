#include "czncipcommandsrecorder.h"

#include "czncipeventtexts.h"
#include "editorregistration.h"
#include "recorderevents.h"

namespace
{
const CZnString& commandsCategory()
{
    static const CZnString s(ZnCIPEventTexts::commands);
    return s;
}

const CZnString& unknownCommandsCategory()
{
    static const CZnString s(ZnCIPEventTexts::unknownCommands);
    return s;
}

const CZnString& executeAction()
{
    static const CZnString s("Execute");
    return s;
}

const QString& labelPattern()
{
    static const QString s = QStringLiteral("%1 (%2)");
    return s;
}
} // namespace

void CZnCIPCommandsRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPCommandsRecorder::Stop()
{
    unregisterFromEditor(this);
}

void CZnCIPCommandsRecorder::commandWillStart(OdEdCommand* command, OdEdCommandContext*)
{
    // A host that announces no command has nothing to name.
    if (!command || !activeService())
        return;
    const CZnString group(command->groupName());
    const CZnString global(command->globalName());
    // Two substitutions in turn, as the label has always been built: the global name, then the group.
    const CZnString label(labelPattern().arg(global.toQString()).arg(group.toQString()));
    sendEvent(commandsCategory(), executeAction(), label, 1);
}

OdEdCommandPtr CZnCIPCommandsRecorder::unknownCommand(const OdString& name, OdEdCommandContext*)
{
    if (activeService())
        sendEvent(unknownCommandsCategory(), executeAction(), CZnString(name), 1);
    return OdEdCommandPtr();
}
