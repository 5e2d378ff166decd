#include "czncipbuildrecorder.h"

#include "cznresources.h"
#include "cznsystemservices.h"
#include "editorregistration.h"
#include "recorderevents.h"

namespace
{
struct Texts
{
    const CZnString screen{"Build"};
    const CZnString name{"Name"};
    const CZnString build{"Build"};
    const CZnString version{"Version"};
    const CZnString platform{"Platform"};
    const CZnString x64{"x64"};
    const QString pair{QStringLiteral("%1:%2")};
};

const Texts& texts()
{
    static const Texts fixed;
    return fixed;
}
} // namespace

void CZnCIPBuildRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPBuildRecorder::Stop()
{
    unregisterFromEditor(this);
}

QString CZnCIPBuildRecorder::ReleaseText(int releaseNumber, double releaseValue)
{
    return texts().pair.arg(releaseNumber).arg(releaseValue, 0, 'g', 6);
}

void CZnCIPBuildRecorder::mainFrameCreated(QWidget*)
{
    if (!activeService())
        return;
    const Texts& t = texts();
    CZnResources* resources = GetZnResources();
    CZnSystemServices* system = GetZnSystemServices();

    if (CZnCIPService* service = activeService())
        service->SetScreenValue(t.screen, t.name, 1, resources->GetProductName());
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(
            t.screen, t.build, 3,
            CZnString(
                t.pair.arg(system->GetVersionString().toQString()).arg(system->GetBuildText().toQString())));
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(
            t.screen, t.version, 5,
            CZnString(ReleaseText(resources->GetReleaseNumber(), resources->GetReleaseValue())));
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(t.screen, t.platform, 4, t.x64);
    if (CZnCIPService* service = activeService())
        service->Send();
}
