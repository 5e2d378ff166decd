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

    // Every dormant recorder against the active service: a build record, a drawing's whole life
    // with a proxy class, the quit, the performance timers and a variable's history.
    void runEveryRecorder()
    {
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

        cip->SetEnabled(false); // reports the variables
        for (CZnCIPRecorder* r : all)
            cip->RemoveRecorder(r);
    }
    // An allowed category on the same service goes through, so nothing before it means dropped.
    static void allowedEvent(CZnCIPService* service)
    {
        service->SetEvent(CZnString("Commands"), CZnString("Execute"), CZnString("LINE ()"), 1);
        service->Send();
    }

    std::unique_ptr<CZnCIPImpl> cip;
};
} // namespace

// The same run against a recording service shows what the real services are handed.
TEST_F(Blocked, TheRecordersDoSendEveryOneOfTheirCategories)
{
    QStringList journal;
    std::unique_ptr<CZnCIPService> ga(cip->GetService());
    cip->SetService(new RecordingService(&journal));
    runEveryRecorder();

    const QList<SentRecord> records = sentRecords(journal);
    QSet<QString> screens;
    for (const SentRecord& record : records)
        screens.insert(record.screen);
    EXPECT_EQ(screens, (QSet<QString>{"Build", "Drawing", "Proxy Entities", "Performance", "Variables"}));
    EXPECT_GE(records.size(), 9);
}

TEST_F(Blocked, TheNetworkServiceQueuesNothingOfThem)
{
    auto* ga = dynamic_cast<CZnCIPService_GA*>(cip->GetService());
    ASSERT_NE(ga, nullptr);
    ASSERT_TRUE(ga->Queue().isEmpty());
    runEveryRecorder();
    EXPECT_TRUE(ga->Queue().isEmpty()) << ga->Queue().join(QLatin1Char('\n')).toStdString();
    allowedEvent(ga);
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
    allowedEvent(log);
    EXPECT_EQ(log->PendingLines().size(), 1u);
}
