// Whatever the dormant recorders send is dropped by both real services: nothing is queued for the
// network and nothing is written to the log.
#include "czncipannotationdatarecord.h"
#include "czncipbuildrecorder.h"
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipservice_ga.h"
#include "czncipservice_static.h"
#include "czncipvariablerecorderimpl.h"
#include "czneditorreactor.h"
#include "cznincrementaltimermanager.h"
#include "cznsystemservices.h"
#include "cznsystemvariables.h"
#include "hostfixture.h"
#include "oddbdatabase.h"
#include "odproxyclass.h"
#include "recordingservice.h"
#include "sentrecords.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <memory>

namespace
{
class Blocked : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        cip = std::make_unique<CZnCIPImpl>();
        SetZnCIP(cip.get());
        CZnIncrementalTimerManager::getTimer(CZnString("Regen"))->addVisit(12.5);
        CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    }
    void TearDown() override
    {
        HostFixture::TearDown();
        cip.reset();
        CZnIncrementalTimerManager::removeAll();
        CZnSystemVariables::RemoveAll();
        CZnCIPAnnotationDataRecord::destroy();
    }

    // One run of every dormant recorder against the active service: a build record, a drawing's
    // whole life with a proxy class, the quit, the performance timers and a variable's history.
    void runEveryRecorder()
    {
        CZnCIPBuildRecorder build;
        CZnCIPDrawingRecorder drawing;
        CZnCIPPerformanceRecorder performance;
        CZnCIPVariableRecorderImpl variables;
        for (CZnCIPRecorder* r :
             std::initializer_list<CZnCIPRecorder*>{&build, &drawing, &performance, &variables})
            cip->AddRecorder(r);
        cip->SetEnabled(true);

        variables.AddVariable(CZnString("GRIDMODE"));
        CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
        znFireMainFrameCreated(nullptr);

        OdDbDatabasePtr db = OdDbDatabase::createObject();
        db->addDrawingClass(
            OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnPipe"), OdString("ZnPlant")));
        CZnDocumentPtr document(OdRxObjectImpl<CZnDocument>::createObject(CZnString("plant.dwg")));
        document->setDatabase(db.get());
        CZnDocumentManager* documents = GetZnSystemServices()->GetDocumentManager();
        documents->Fire(
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

        // Stopping reports the variables.
        cip->SetEnabled(false);
        for (CZnCIPRecorder* r :
             std::initializer_list<CZnCIPRecorder*>{&build, &drawing, &performance, &variables})
            cip->RemoveRecorder(r);
    }

    std::unique_ptr<CZnCIPImpl> cip;
};
} // namespace

TEST_F(Blocked, TheRecordersDoSendEveryOneOfTheirCategories)
{
    // The same run against a recording service shows what the real services are handed.
    QStringList journal;
    std::unique_ptr<CZnCIPService> ga(cip->GetService());
    cip->SetService(new RecordingService(&journal));
    runEveryRecorder();

    QSet<QString> screens;
    for (const SentRecord& record : sentRecords(journal))
        screens.insert(record.screen);
    EXPECT_EQ(screens, (QSet<QString>{"Build", "Drawing", "Proxy Entities", "Performance", "Variables"}));
    EXPECT_GE(sentRecords(journal).size(), 9);
}

TEST_F(Blocked, TheNetworkServiceQueuesNothingOfThem)
{
    auto* ga = dynamic_cast<CZnCIPService_GA*>(cip->GetService());
    ASSERT_NE(ga, nullptr);
    ASSERT_TRUE(ga->Queue().isEmpty());
    runEveryRecorder();
    EXPECT_TRUE(ga->Queue().isEmpty()) << ga->Queue().join(QLatin1Char('\n')).toStdString();

    // An allowed category on the same service is queued, so the empty queue above means dropped.
    ga->SetEvent(CZnString("Commands"), CZnString("Execute"), CZnString("LINE ()"), 1);
    ga->Send();
    EXPECT_EQ(ga->Queue().size(), 1);
}

TEST_F(Blocked, TheLogServiceWritesNothingOfThem)
{
    std::unique_ptr<CZnCIPService> ga(cip->GetService());
    auto* log = new CZnCIPService_Static;
    cip->SetService(log);
    runEveryRecorder();
    EXPECT_TRUE(log->PendingLines().empty());
    log->writeLog();
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("profiles/CIP Logs"))));

    log->SetEvent(CZnString("Commands"), CZnString("Execute"), CZnString("LINE ()"), 1);
    log->Send();
    EXPECT_EQ(log->PendingLines().size(), 1u);
}
