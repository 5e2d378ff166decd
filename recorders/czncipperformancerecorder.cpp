#include "czncipperformancerecorder.h"

#include "cznincrementaltimermanager.h"
#include "editorregistration.h"
#include "recorderevents.h"

namespace
{
struct Texts
{
    const CZnString screen{"Performance"};
    const CZnString name{"Name"};
    const CZnString visits{"Visits"};
    const CZnString total{"Total"};
    const CZnString average{"Average"};
    const CZnString best{"Best"};
    const CZnString worst{"Worst"};
};

const Texts& texts()
{
    static const Texts fixed;
    return fixed;
}
} // namespace

void CZnCIPPerformanceRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPPerformanceRecorder::Stop()
{
    unregisterFromEditor(this);
}

double CZnCIPPerformanceRecorder::Average(double total, int visits)
{
    return visits == 0 ? 0.0 : total / static_cast<double>(visits);
}

void CZnCIPPerformanceRecorder::mainFrameDestroyed(QWidget*)
{
    CZnIncrementalTimerMap timers;
    CZnIncrementalTimerManager::getTimers(timers);
    if (timers.empty())
        return;

    const Texts& t = texts();
    for (const auto& entry : timers)
    {
        if (!activeService())
            continue;
        CZnIncrementalTimerInfo info{};
        entry.second->getInfo(info);

        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.name, 1, entry.first);
        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.visits, 10, info.visits);
        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.total, 15, info.total);
        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.average, 16, Average(info.total, info.visits));
        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.best, 17, info.best);
        if (CZnCIPService* service = activeService())
            service->SetScreenValue(t.screen, t.worst, 18, info.worst);
        if (CZnCIPService* service = activeService())
            service->Send();
    }
}
