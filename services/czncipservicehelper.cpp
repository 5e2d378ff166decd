#include "czncipservicehelper.h"

CZnCIPServiceHelper::CZnCIPServiceHelper()
    : allowedCategories{QStringLiteral("Commands"),     QStringLiteral("Unknown Commands"),
                        QStringLiteral("Screen"),       QStringLiteral("System"),
                        QStringLiteral("OpenGL"),       QStringLiteral("UserInterface"),
                        QStringLiteral("CloudStorage"), QStringLiteral("Workspace"),
                        QStringLiteral("DockWidget"),   QStringLiteral("Toolbar"),
                        QStringLiteral("Session")},
      blockedCategories{QStringLiteral("Build"),          QStringLiteral("Drawing"),
                        QStringLiteral("Proxy Entities"), QStringLiteral("Output"),
                        QStringLiteral("Performance"),    QStringLiteral("Variables")}
{
}

void CZnCIPServiceHelper::Filter(CZnCIPServiceRecord& record) const
{
    const QString& category = record.category.toQString();
    if (blockedCategories.contains(category) || !allowedCategories.contains(category))
        record.kind = CZnCIPServiceRecord::RecordSuppressed;
}
