// Whatever the dormant recorders report stays in the process: both real services drop it, so nothing
// is queued for the network and nothing is written to the log.
#include "czncipbuildrecorder.h"
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipservice_ga.h"
#include "czncipservice_static.h"
#include "czncipvariablerecorderimpl.h"
#include "cznsystemservices.h"
#include "oddbdatabase.h"
#include "odproxyclass.h"
#include "recording.h"

#include <QSet>

#include <functional>

namespace
{
using Blocked = RecordingFixture;

// Every dormant recorder against the installed service: a build record, a drawing's whole life with
// a proxy class, the quit, the performance timers and a variable's history.
void runEveryRecorder(CZnCIPImpl* cip)
{
    CZnIncrementalTimerManager::getTimer(CZnString("Regen"))->addVisit(12.5);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    CZnCIPBuildRecorder build;
    CZnCIPDrawingRecorder drawing;
    CZnCIPPerformanceRecorder performance;
    CZnCIPVariableRecorderImpl variables;
    const std::initializer_list<CZnCIPRecorder*> all{&build, &drawing, &performance, &variables};
    for (CZnCIPRecorder* r : all)
        cip->AddRecorder(r);
    cip->SetEnabled(true);
    variables.AddVariable(CZnString("GRIDMODE"));
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
    znFireMainFrameCreated(nullptr);

    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->addDrawingClass(OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnPipe"), OdString("ZnPlant")));
    CZnDocumentPtr document(OdRxObjectImpl<CZnDocument>::createObject(CZnString("plant.dwg")));
    document->setDatabase(db.get());
    GetZnSystemServices()->GetDocumentManager()->Fire(
        [&](CZnDocumentManagerReactor* r)
        {
            r->DocumentCreateStarted(document.get());
            r->DatabaseAttached(document.get());
            r->DocumentCreated(document.get());
            r->DocumentToBeDestroyed(document.get());
            r->DatabaseDetached(document.get());
            r->DocumentDestroyed(document.get(), CZnString("plant.dwg"));
        });
    znFireMainFrameDestroyed(nullptr);
    cip->SetEnabled(false); // reports the variables
    for (CZnCIPRecorder* r : all)
        cip->RemoveRecorder(r);
}

TEST_F(Blocked, TheDormantRecordersReportEveryBlockedCategoryAndNeitherServiceKeepsAny)
{
    // With the recording service the run shows what the real services are handed.
    runEveryRecorder(cip.get());
    QSet<QString> screens;
    for (const QString& record : records(journal))
        screens.insert(record.section(QLatin1Char(':'), 0, 0));
    ASSERT_EQ(screens, (QSet<QString>{"Build", "Drawing", "Proxy Entities", "Performance", "Variables"}));

    CZnCIPService_GA ga;
    CZnCIPService_Static log;
    const std::pair<CZnCIPService*, std::function<std::size_t()>> services[] = {
        {&ga, [&] { return std::size_t(ga.Queue().size()); }},
        {&log, [&] { return log.PendingLines().size(); }}};
    for (const auto& [service, kept] : services)
    {
        SCOPED_TRACE(service == &ga ? "network" : "log");
        cip->SetService(service);
        runEveryRecorder(cip.get());
        EXPECT_EQ(kept(), 0u);
        // An allowed category on the same service goes through, so nothing before it means dropped.
        service->SetEvent(CZnString("Commands"), CZnString("Execute"), CZnString("LINE ()"), 1);
        service->Send();
        EXPECT_EQ(kept(), 1u);
        cip->SetService(recording);
    }
}
} // namespace
