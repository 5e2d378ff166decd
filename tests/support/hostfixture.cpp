#include "hostfixture.h"

#include "czncip.h"
#include "cznhostconfiguration.h"
#include "cznsystemservices.h"

#include <QDir>
#include <QSettings>

void HostFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    CZnHostConfiguration::ApplyDefaults();
    GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(QStringLiteral("profiles/Default")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path(QStringLiteral("config")));
}

void HostFixture::TearDown()
{
    SetZnCIP(nullptr);
    GetZnSystemServices()->GetDocumentManager()->CloseAll();
    CZnHostConfiguration::ApplyDefaults();
}

QString HostFixture::path(const QString& name) const
{
    return name.isEmpty() ? m_dir.path() : QDir(m_dir.path()).filePath(name);
}

void HostFixture::processEvents(int ms)
{
    QElapsedTimer clock;
    clock.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (clock.elapsed() < ms);
}
