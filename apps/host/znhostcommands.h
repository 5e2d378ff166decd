#pragma once

#include "odedcommand.h"

#include <QMap>
#include <QString>

// The host program's command registry: what the command line can run. Names are matched without
// regard to case, as on a CAD command line.
class ZnHostCommands
{
public:
    ZnHostCommands();

    // The command for a name typed on the command line, or null when no command has that name.
    OdEdCommand* find(const QString& typed) const;
    QStringList names() const { return m_commands.keys(); }

private:
    void add(const char* globalName, const char* groupName);

    QMap<QString, OdEdCommandPtr> m_commands;
};
