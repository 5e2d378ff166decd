#include "cznhostconfiguration.h"

#include "czngldriverinfo.h"
#include "cznplatform.h"
#include "cznregistry.h"
#include "cznresources.h"
#include "cznsessionmanager.h"
#include "cznsystemservices.h"
#include "czntestutils.h"
#include "cznutils.h"
#include "cznvorinqtgate.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace
{
const QString defaultProfileName = QStringLiteral("Default");

// Reads typed values and remembers the first that did not parse.
class Reader
{
public:
    explicit Reader(QSettings& file) : m_file(file) {}

    bool has(const char* key) const { return m_file.contains(QLatin1String(key)); }
    QString text(const char* key, const QString& fallback) const
    {
        if (!has(key))
            return fallback;
        // An INI value with commas reads back as a list ("Zinc, Inc." included): join it again.
        const QVariant value = m_file.value(QLatin1String(key));
        return value.userType() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                          : value.toString();
    }
    bool flag(const char* key, bool fallback)
    {
        if (!has(key))
            return fallback;
        const QString v = text(key, QString()).trimmed().toLower();
        if (v == "true" || v == "1" || v == "yes" || v == "on")
            return true;
        if (v == "false" || v == "0" || v == "no" || v == "off")
            return false;
        bad(key);
        return fallback;
    }
    double number(const char* key, double fallback)
    {
        if (!has(key))
            return fallback;
        bool ok = false;
        const double v = text(key, QString()).toDouble(&ok);
        if (!ok)
            bad(key);
        return ok ? v : fallback;
    }
    const QStringList& problems() const { return m_problems; }
    void bad(const char* key) { m_problems << QString::fromLatin1(key); }

private:
    QSettings& m_file;
    QStringList m_problems;
};
} // namespace

QString CZnHostConfiguration::DefaultProfileFolder(const QString& profileName)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(base).filePath(QStringLiteral("profiles/") + profileName);
}

void CZnHostConfiguration::ApplyDefaults()
{
    CZnTestUtils::SetGUIEnabled(true);
    GetZnResources()->Reset();
    GetZnVORINQTGate()->SetDialogSuppressed(false);
    GetZnSystemServices()->Reset();
    CZnUtils::SetDpiFactor(1.0);
    CZnUtils::SetDarkStyleDialogUsed(false);
    CZnPlatform::Reset();
    GetZnSessionManager()->Reset();
    CZnRegistry::SetFile(QString());
    CZnGLDriverInfo::setCoreProfile(true);
    CZnGLDriverInfo::setDriver(CZnString("Mesa Intel(R) UHD Graphics 630 (CFL GT2)"), CZnString("Intel"),
                               CZnString("4.6 (Core Profile) Mesa 22.3.6"));
}

bool CZnHostConfiguration::Load(const QString& path, QString* message)
{
    ApplyDefaults();
    CZnSystemServices* system = GetZnSystemServices();
    system->SetProfile(defaultProfileName, DefaultProfileFolder(defaultProfileName));

    const QFileInfo info(path);
    if (!info.exists())
    {
        if (message)
            *message = QStringLiteral("host configuration %1 not found; using the defaults").arg(path);
        return false;
    }
    QSettings file(path, QSettings::IniFormat);
    if (!info.isReadable() || file.status() != QSettings::NoError)
    {
        if (message)
            *message = QStringLiteral("host configuration %1 cannot be read; using the defaults").arg(path);
        return false;
    }

    Reader r(file);
    CZnTestUtils::SetGUIEnabled(r.flag("host/gui_enabled", true));
    GetZnVORINQTGate()->SetDialogSuppressed(r.flag("host/dialog_suppressed", false));
    system->SetCanAskUser(r.flag("host/can_ask_user", true));

    CZnResources* res = GetZnResources();
    res->SetCIPSuppressed(r.flag("resources/cip_suppressed", false));
    res->SetTrackingId(r.text("resources/tracking_id", res->GetTrackingId().toQString()));
    res->SetCompanyName(r.text("resources/company", res->GetCompanyName().toQString()));
    res->SetProductName(r.text("resources/product", res->GetProductName().toQString()));
    res->SetPrivacyPolicyUrl(r.text("resources/privacy_policy_url", res->GetPrivacyPolicyUrl().toQString()));
    res->SetCIPEndpoint(r.text("resources/cip_endpoint", res->GetCIPEndpoint().toQString()));
    res->SetReleaseNumber(static_cast<int>(r.number("resources/release_number", res->GetReleaseNumber())));
    res->SetReleaseValue(r.number("resources/release_value", res->GetReleaseValue()));

    system->SetVersionString(r.text("version/string", system->GetVersionString().toQString()));
    system->SetVersionText(r.text("version/text", system->GetVersionText().toQString()));
    system->SetBuildText(r.text("version/build", system->GetBuildText().toQString()));
    if (r.has("version/numbers"))
    {
        // Four integers (major, service pack, minor, build); an empty value means the host has none.
        const QStringList parts = r.text("version/numbers", QString()).split(',', Qt::SkipEmptyParts);
        int n[4] = {};
        bool ok = parts.size() == 4;
        for (int i = 0; ok && i < 4; ++i)
            n[i] = parts[i].trimmed().toInt(&ok);
        if (ok)
            system->SetVersionNumbers(n[0], n[1], n[2], n[3]);
        else if (parts.isEmpty())
            system->ClearVersionNumbers();
        else
            r.bad("version/numbers");
    }

    const QString profile = r.text("profile/name", defaultProfileName).trimmed();
    if (profile.isEmpty())
        system->ClearProfile();
    else
        system->SetProfile(profile, r.text("profile/folder", DefaultProfileFolder(profile)));

    // The file standing in for the registry; a relative path is taken from the configuration's folder.
    const QString registry = r.text("platform/registry_file", QString()).trimmed();
    CZnRegistry::SetFile(registry.isEmpty() ? QString() : info.dir().absoluteFilePath(registry));

    CZnUtils::SetDpiFactor(r.number("display/dpi_factor", 1.0));
    CZnUtils::SetDarkStyleDialogUsed(r.flag("display/dark_dialogs", false));
    for (const QString& key : CZnPlatform::Configure(file))
        r.bad(qPrintable(key));
    // Where the session folders live; a relative path is taken from the configuration's folder.
    const QString sessions = r.text("session/root", QString()).trimmed();
    GetZnSessionManager()->SetRoot(sessions.isEmpty() ? CZnSessionManager::DefaultRoot()
                                                      : info.dir().absoluteFilePath(sessions));
    CZnGLDriverInfo::setCoreProfile(r.flag("opengl/core_profile", true));
    CZnGLDriverInfo::setDriver(r.text("opengl/renderer", CZnGLDriverInfo::glRenderer(0).toQString()),
                               r.text("opengl/vendor", CZnGLDriverInfo::glVendor(0).toQString()),
                               r.text("opengl/version", CZnGLDriverInfo::glVersion(0).toQString()));

    if (!r.problems().isEmpty())
    {
        if (message)
            *message = QStringLiteral("host configuration %1: malformed %2; their defaults apply")
                           .arg(path, r.problems().join(QStringLiteral(", ")));
        return false;
    }
    return true;
}
