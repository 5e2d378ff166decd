#include "znhostcommands.h"

#include "odrxobject.h"

ZnHostCommands::ZnHostCommands()
{
    add("LINE", "ZNDRAW");
    add("CIRCLE", "ZNDRAW");
    add("ARC", "ZNDRAW");
    add("PLINE", "ZNDRAW");
    add("HATCH", "ZNDRAW");
    add("MOVE", "ZNMODIFY");
    add("COPY", "ZNMODIFY");
    add("ERASE", "ZNMODIFY");
    add("TRIM", "ZNMODIFY");
    add("ZOOM", "ZNVIEW");
    add("PAN", "ZNVIEW");
    add("REGEN", "ZNVIEW");
    add("DIMLINEAR", "ZNANNOTATE");
    add("MTEXT", "ZNANNOTATE");
    add("QSAVE", "ZNFILE");
    add("OPTIONS", "ZNTOOLS");
    // Commands that a script of the user registered outside any group.
    add("HELLO", "");
}

void ZnHostCommands::add(const char* globalName, const char* groupName)
{
    m_commands.insert(
        QString::fromLatin1(globalName),
        OdEdCommandPtr(OdRxObjectImpl<OdEdCommand>::createObject(OdString(globalName), OdString(groupName))));
}

OdEdCommand* ZnHostCommands::find(const QString& typed) const
{
    return m_commands.value(typed.trimmed().toUpper()).get();
}
