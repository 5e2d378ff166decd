// The drawing recorder driven by the host's document events, with the CIP object's stopwatches and a
// recording service in place of a real one.
#include "czncipannotationdatarecord.h"
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "czneditorreactor.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "oddbdatabase.h"
#include "oddbdictionary.h"
#include "odeditor.h"
#include "oderror_notthatkindofclass.h"
#include "odproxyclass.h"
#include "odrxcast.h"
#include "recordingservice.h"
#include "sentrecords.h"

#include <QFile>
#include <QThread>

#include <memory>

namespace
{
using Record = CZnCIPDrawingDataRecord;

// A class derived from the proxy class: the drawing knows it through an application, so it is not
// reported as a proxy.
class DerivedProxyClass : public OdProxyClass
{
public:
    using OdProxyClass::OdProxyClass;
    static const OdRxClass* desc()
    {
        static OdStaticRxObject<OdRxClass> descriptor(OdString("DerivedProxyClass"), OdString(),
                                                      OdProxyClass::desc());
        return &descriptor;
    }
    const OdRxClass* isA() const override { return desc(); }
};

class DrawingRecorder : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        cip = std::make_unique<CZnCIPImpl>();
        defaultService.reset(cip->GetService());
        recording = new RecordingService(&journal);
        cip->SetService(recording);
        SetZnCIP(cip.get());
        recorder = std::make_unique<CZnCIPDrawingRecorder>();
        recorder->Start();
    }
    void TearDown() override
    {
        recorder->Stop();
        recorder.reset();
        HostFixture::TearDown();
        cip.reset();
        defaultService.reset();
        CZnCIPAnnotationDataRecord::destroy();
    }

    CZnDocumentManager* documents() { return GetZnSystemServices()->GetDocumentManager(); }
    QString idOf(CZnDocument* document)
    {
        return cip->GetTimer(reinterpret_cast<quintptr>(document)).id.toQString();
    }
    QList<SentRecord> sent() const { return sentRecords(journal); }

    // A document the test drives event by event, kept alive by the test.
    CZnDocument* newDocument(const char* path)
    {
        owned.emplace_back(OdRxObjectImpl<CZnDocument>::createObject(CZnString(path)));
        return owned.back().get();
    }
    template <class F> void fire(F f) { documents()->Fire(f); }

    QStringList journal;
    RecordingService* recording = nullptr; // owned by the CIP object while installed
    std::unique_ptr<CZnCIPImpl> cip;
    std::unique_ptr<CZnCIPService> defaultService;
    std::unique_ptr<CZnCIPDrawingRecorder> recorder;
    std::vector<CZnDocumentPtr> owned;
};
} // namespace

// --- Codes, conversions --------------------------------------------------------------------------

TEST(DrawingDataRecord, TablesMapCodesAndEverythingElseIsUnknown)
{
    EXPECT_EQ(Record::ReasonText(Record::Created), QStringLiteral("Created"));
    EXPECT_EQ(Record::ReasonText(Record::CreateCancelled), QStringLiteral("CreateCancelled"));
    EXPECT_EQ(Record::ReasonText(Record::Quit), QStringLiteral("Quit"));

    EXPECT_EQ(Record::FileTypeText(0), QStringLiteral("kDwg"));
    EXPECT_EQ(Record::FileTypeText(5), QStringLiteral("kDwt"));
    EXPECT_EQ(Record::FileTypeText(8), QStringLiteral("kDae"));
    EXPECT_EQ(Record::FileTypeText(9), QStringLiteral("kUnknown"));
    EXPECT_EQ(Record::FileTypeText(-1), QStringLiteral("kUnknown"));

    EXPECT_EQ(Record::FileVersionText(0), QStringLiteral("kDHL_MC0_0"));
    EXPECT_EQ(Record::FileVersionText(OdDb::vAC12), QStringLiteral("vAC12"));
    EXPECT_EQ(Record::FileVersionText(OdDb::vAC18), QStringLiteral("vAC18"));
    EXPECT_EQ(Record::FileVersionText(31), QStringLiteral("vAC27"));
    EXPECT_EQ(Record::FileVersionText(32), QStringLiteral("kDHL_Unknown"));
    EXPECT_EQ(Record::FileVersionText(-3), QStringLiteral("kDHL_Unknown"));
    EXPECT_EQ(Record::FileVersionText(OdDb::kDHL_Unknown), QStringLiteral("kDHL_Unknown"));
}

TEST(DrawingDataRecord, MinutesAreTruncatedAndSizesKeepTheirLow32Bits)
{
    EXPECT_EQ(Record::WholeMinutes(0), 0);
    EXPECT_EQ(Record::WholeMinutes(59999), 0);
    EXPECT_EQ(Record::WholeMinutes(60000), 1);
    EXPECT_EQ(Record::WholeMinutes(119999), 1);
    EXPECT_EQ(Record::WholeMinutes(7200000), 120);

    EXPECT_EQ(Record::Low32Bits(2147483647LL), 2147483647);
    EXPECT_EQ(Record::Low32Bits(2147483648LL + 5), -2147483643);
    EXPECT_EQ(Record::Low32Bits((1LL << 32) + 7), 7);

    // A record whose document timer was never taken reads as open for no time.
    Record never;
    EXPECT_EQ(never.MinutesOpen(), 0);
}

// --- Creating and opening ----------------------------------------------------------------------

TEST_F(DrawingRecorder, ACreationThatTurnsIntoAnOpenGivesOneOpenedRecordSpanningBoth)
{
    CZnDocument* d = newDocument("/drawings/a.dwg");
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    QThread::msleep(40);
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentPreOpen(d, CZnString("/drawings/a.dwg"), 0, 0); });
    QThread::msleep(40);
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });

    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 1);
    const SentRecord& opened = records.at(0);
    EXPECT_EQ(opened.screen, QStringLiteral("Drawing"));
    EXPECT_EQ(opened.indexes, (QList<int>{15, 1, 7}));
    EXPECT_EQ(opened.names, QStringList({"Duration", "Name", "Reason"}));
    EXPECT_EQ(opened.text(7), QStringLiteral("Opened"));
    EXPECT_EQ(opened.text(1), idOf(d));
    EXPECT_GE(opened.text(15).toInt(), 80);
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, HostOpenSendsAttachedFirstThenOpened)
{
    CZnDocument* d = documents()->OpenDocument(CZnString("/drawings/plan.dwg"));
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records.at(0).text(7), QStringLiteral("Attached"));
    EXPECT_EQ(records.at(1).text(7), QStringLiteral("Opened"));
    EXPECT_EQ(records.at(0).text(1), idOf(d));
    EXPECT_EQ(records.at(1).text(1), idOf(d));
    // The identifier is the CIP object's braced UUID, never the file.
    EXPECT_EQ(idOf(d).size(), 38);
    EXPECT_FALSE(journal.join(QLatin1Char('\n')).contains(QLatin1String("plan")));

    // A new drawing of the host's own is "Created".
    journal.clear();
    documents()->NewDocument(CZnString("Drawing2.dwg"));
    ASSERT_EQ(sent().size(), 2);
    EXPECT_EQ(sent().at(1).text(7), QStringLiteral("Created"));

    // The host detaches the database between its two close events.
    journal.clear();
    documents()->CloseDocument(d);
    ASSERT_EQ(sent().size(), 2);
    EXPECT_EQ(sent().at(0).text(7), QStringLiteral("Detached"));
    EXPECT_EQ(sent().at(1).text(7), QStringLiteral("Closed"));
    EXPECT_EQ(sent().at(1).text(1), idOf(d));
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, NestedCreationsCompleteLastStartedFirst)
{
    CZnDocument* outer = newDocument("outer.dwg");
    CZnDocument* inner = newDocument("inner.dwg");
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(outer); });
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(inner); });
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentPreOpen(inner, CZnString("inner.dwg"), 0, 0); });
    EXPECT_EQ(recorder->PendingCount(), 2u);
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(inner); });
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(outer); });

    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records.at(0).text(7), QStringLiteral("Opened"));
    EXPECT_EQ(records.at(0).text(1), idOf(inner));
    EXPECT_EQ(records.at(1).text(7), QStringLiteral("Created"));
    EXPECT_EQ(records.at(1).text(1), idOf(outer));
}

TEST_F(DrawingRecorder, CancelledCreationIsReportedAsSuch)
{
    CZnDocument* d = newDocument("gone.dwg");
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateCanceled(d); });
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent().at(0).text(7), QStringLiteral("CreateCancelled"));
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, CompletingEventsWithNothingPendingSendNothing)
{
    CZnDocument* d = newDocument("stray.dwg");
    fire(
        [&](CZnDocumentManagerReactor* r)
        {
            r->DocumentCreated(d);
            r->DocumentCreateCanceled(d);
            r->DatabaseAttached(d);
            r->DatabaseDetached(d);
            r->DocumentDestroyed(d, CZnString("stray.dwg"));
        });
    EXPECT_TRUE(journal.isEmpty()) << journal.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(CZnString(idOf(d))));
}

// --- Attaching a database ------------------------------------------------------------------------

TEST_F(DrawingRecorder, AttachWhilePendingReportsTheFileAndEachProxyClass)
{
    const QString file = path(QStringLiteral("site.dxf"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(12345, 'x'));
    out.close();

    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setFilename(CZnString(file).toOdString());
    db->setFileType(1);
    db->setOriginalFileVersion(OdDb::vAC18);
    db->setApproxNumObjects(4321);
    OdDbDictionaryPtr named = odrxSafeCast<OdDbDictionary>(db->getNamedObjectsDictionaryId().openObject());
    named->setAt(OdString("ACAD_ASSOCNETWORK"), OdDbObjectId());
    db->addDrawingClass(
        OdRxObjectImpl<OdProxyClass>::createObject(OdString("AecDbWall"), OdString("AecArch")));
    db->addDrawingClass(OdRxObjectImpl<OdRxClass>::createObject(OdString("AcDbLine"), OdString("Core")));
    db->addDrawingClass(OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnPipe"), OdString("ZnPlant")));
    db->addDrawingClass(
        OdRxObjectImpl<DerivedProxyClass>::createObject(OdString("Known"), OdString("Loaded")));
    db->addDrawingClass(OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnValve"), OdString("ZnPlant")));

    CZnDocument* d = newDocument("site.dxf");
    d->setDatabase(db.get());
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(d); });

    // The pending creation is untouched by the attach.
    EXPECT_EQ(recorder->PendingCount(), 1u);
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 4);
    const SentRecord& attached = records.at(0);
    EXPECT_EQ(attached.indexes, (QList<int>{15, 1, 7, 21, 9, 5, 11, 6}));
    EXPECT_EQ(attached.names, QStringList({"Duration", "Name", "Reason", "Size", "Type", "File Version",
                                           "Entities", "Has Constraints"}));
    EXPECT_EQ(attached.text(1), idOf(d));
    EXPECT_EQ(attached.text(7), QStringLiteral("Attached"));
    EXPECT_EQ(attached.byIndex.value(21), QStringLiteral("i:12345"));
    EXPECT_EQ(attached.text(9), QStringLiteral("kDxf"));
    EXPECT_EQ(attached.text(5), QStringLiteral("vAC18"));
    EXPECT_EQ(attached.byIndex.value(11), QStringLiteral("i:4321"));
    EXPECT_EQ(attached.text(6), QStringLiteral("true"));

    const QStringList expected[] = {{"AecDbWall", "AecArch"}, {"ZnPipe", "ZnPlant"}, {"ZnValve", "ZnPlant"}};
    for (int i = 0; i < 3; ++i)
    {
        const SentRecord& proxy = records.at(i + 1);
        EXPECT_EQ(proxy.screen, QStringLiteral("Proxy Entities"));
        EXPECT_EQ(proxy.indexes, (QList<int>{1, 2}));
        EXPECT_EQ(proxy.names, QStringList({"Name", "Type"}));
        EXPECT_EQ(proxy.text(1), expected[i].at(0));
        EXPECT_EQ(proxy.text(2), expected[i].at(1));
    }

    // The host's annotation statistics now know the drawing, with one snapshot of each kind.
    int scales = 0, dimStyles = 0, textStyles = 0;
    CZnCIPAnnotationDataRecord::getInstance()->GetSnapshotCounts(CZnString(idOf(d)), scales, dimStyles,
                                                                 textStyles);
    EXPECT_EQ(scales, 1);
    EXPECT_EQ(dimStyles, 1);
    EXPECT_EQ(textStyles, 1);

    journal.clear();
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent().at(0).text(7), QStringLiteral("Created"));
}

TEST_F(DrawingRecorder, OnlyDrawingFormatsCarryAVersionAndMissingFactsKeepTheirDefaults)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setFilename(CZnString(path(QStringLiteral("template.dwt"))).toOdString()); // never written
    db->setFileType(5);
    db->setOriginalFileVersion(OdDb::vAC18);
    CZnDocument* withDb = newDocument("template.dwt");
    withDb->setDatabase(db.get());
    CZnDocument* without = newDocument("empty.dwg");

    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(withDb); });
    fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(withDb); });
    fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(without); });

    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records.at(0).text(9), QStringLiteral("kDwt"));
    EXPECT_EQ(records.at(0).text(5), QStringLiteral("kDHL_Unknown"));
    EXPECT_EQ(records.at(0).byIndex.value(21), QStringLiteral("i:0"));
    // A fresh database holds its named-objects dictionary and nothing else.
    EXPECT_EQ(records.at(0).byIndex.value(11), QStringLiteral("i:1"));
    EXPECT_EQ(records.at(0).text(6), QStringLiteral("false"));

    EXPECT_EQ(records.at(1).text(9), QStringLiteral("kUnknown"));
    EXPECT_EQ(records.at(1).text(5), QStringLiteral("kDHL_Unknown"));
    EXPECT_EQ(records.at(1).byIndex.value(21), QStringLiteral("i:0"));
    EXPECT_EQ(records.at(1).byIndex.value(11), QStringLiteral("i:0"));
    EXPECT_EQ(records.at(1).text(6), QStringLiteral("false"));
}

TEST_F(DrawingRecorder, FilesOver2GiBReportTheLow32BitsOfTheirSize)
{
    const qint64 sizes[] = {2147483648LL + 5, (1LL << 32) + 7};
    const int expected[] = {-2147483643, 7};
    for (int i = 0; i < 2; ++i)
    {
        const QString file = path(QStringLiteral("huge%1.dwg").arg(i));
        QFile sparse(file);
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
        ASSERT_TRUE(sparse.resize(sizes[i]));
        sparse.close();

        OdDbDatabasePtr db = OdDbDatabase::createObject();
        db->setFilename(CZnString(file).toOdString());
        db->setFileType(0);
        db->setOriginalFileVersion(OdDb::vAC27);
        CZnDocument* d = newDocument("huge.dwg");
        d->setDatabase(db.get());

        journal.clear();
        fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
        fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(d); });
        ASSERT_EQ(sent().size(), 1);
        EXPECT_EQ(sent().at(0).byIndex.value(21), QStringLiteral("i:%1").arg(expected[i]));
        EXPECT_EQ(sent().at(0).text(5), QStringLiteral("vAC27"));
        QFile::remove(file);
    }
}

TEST_F(DrawingRecorder, ADamagedNamedObjectsEntryRaisesAndSendsNothing)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    OdDbObjectId notADictionary = db->addObject(OdRxObjectImpl<OdDbObject>::createObject());
    db->setNamedObjectsDictionaryId(notADictionary);
    CZnDocument* d = newDocument("damaged.dwg");
    d->setDatabase(db.get());

    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    EXPECT_THROW(recorder->DatabaseAttached(d), OdError_NotThatKindOfClass);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(recorder->PendingCount(), 1u);

    // An erased dictionary is simply not opened: no constraints.
    OdDbDatabasePtr erased = OdDbDatabase::createObject();
    OdDbDictionaryPtr named =
        odrxSafeCast<OdDbDictionary>(erased->getNamedObjectsDictionaryId().openObject());
    named->setAt(OdString("ACAD_ASSOCNETWORK"), OdDbObjectId());
    named->erase();
    d->setDatabase(erased.get());
    recorder->DatabaseAttached(d);
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent().at(0).text(6), QStringLiteral("false"));
}

// --- Detaching, closing, quitting ----------------------------------------------------------------

TEST_F(DrawingRecorder, CloseSendsDetachedThenClosedWithMinutesAndAnnotationCounts)
{
    CZnDocument* d = documents()->OpenDocument(CZnString("/drawings/b.dwg"));
    const CZnString name(idOf(d));
    CZnCIPAnnotationDataRecord::getInstance()->AddAnnotativeOperations(name, 3);
    CZnCIPAnnotationDataRecord::getInstance()->AddAnnotativeOperations(name, 1);
    CZnCIPAnnotationDataRecord::getInstance()->SetAnnotativeObjectCount(name, 9);
    journal.clear();

    // Long enough to show in milliseconds, far too short for a minute.
    QThread::msleep(30);
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentToBeDestroyed(d); });
    QThread::msleep(30);
    fire([&](CZnDocumentManagerReactor* r) { r->DatabaseDetached(d); });
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentDestroyed(d, CZnString("/drawings/b.dwg")); });
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    const SentRecord& detached = records.at(0);
    EXPECT_EQ(detached.indexes, (QList<int>{15, 1, 7}));
    EXPECT_EQ(detached.text(7), QStringLiteral("Detached"));
    EXPECT_EQ(detached.text(1), name.toQString());
    EXPECT_EQ(detached.byIndex.value(15), QStringLiteral("i:0"));

    const SentRecord& closed = records.at(1);
    EXPECT_EQ(closed.indexes, (QList<int>{15, 1, 7, 19, 20}));
    EXPECT_EQ(closed.names,
              QStringList({"Duration", "Name", "Reason", "Annotative Operations", "Annotative Entities"}));
    EXPECT_EQ(closed.text(7), QStringLiteral("Closed"));
    EXPECT_EQ(closed.text(1), name.toQString());
    EXPECT_EQ(closed.byIndex.value(15), QStringLiteral("i:0"));
    EXPECT_EQ(closed.byIndex.value(19), QStringLiteral("i:4"));
    EXPECT_EQ(closed.byIndex.value(20), QStringLiteral("i:9"));

    // The detach took a second snapshot of the drawing's annotations.
    int scales = 0, dimStyles = 0, textStyles = 0;
    CZnCIPAnnotationDataRecord::getInstance()->GetSnapshotCounts(name, scales, dimStyles, textStyles);
    EXPECT_EQ(scales, 2);
    EXPECT_EQ(dimStyles, 2);
    EXPECT_EQ(textStyles, 2);
}

TEST_F(DrawingRecorder, MainWindowDestructionGivesOneQuitRecordAlone)
{
    znFireMainFrameDestroyed(nullptr);
    EXPECT_EQ(journal, QStringList({"SetScreenValue Drawing|Reason|7|s:Quit", "Send"}));
}

// --- Registration, service, memory ---------------------------------------------------------------

TEST_F(DrawingRecorder, WithoutAServiceTheStackIsKeptButNothingIsCalled)
{
    cip->SetService(nullptr);
    CZnDocument* d = newDocument("quiet.dwg");
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(d); });
    EXPECT_EQ(recorder->PendingCount(), 1u);
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });
    znFireMainFrameDestroyed(nullptr);
    EXPECT_EQ(recorder->PendingCount(), 0u);
    EXPECT_TRUE(journal.isEmpty());
    cip->SetService(recording);
}

TEST_F(DrawingRecorder, StopUnregistersKeepsPendingEventsAndDiscardsAnnotationStatistics)
{
    CZnDocument* d = documents()->OpenDocument(CZnString("kept.dwg"));
    const CZnString name(idOf(d));
    ASSERT_TRUE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(name));
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    journal.clear();

    recorder->Stop();
    EXPECT_FALSE(
        documents()->HasReactor(static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(recorder.get())));
    EXPECT_FALSE(odedEditor()->hasReactor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(recorder.get())));
    EXPECT_FALSE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(name));
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });
    znFireMainFrameDestroyed(nullptr);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(recorder->PendingCount(), 1u);

    recorder->Start();
    fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent().at(0).text(7), QStringLiteral("Created"));
}

TEST_F(DrawingRecorder, OutOfMemoryLeavesTheStackAsItWas)
{
    CZnDocument* d = newDocument("tight.dwg");
    odrxFailAllocationAfter(1);
    EXPECT_THROW(recorder->DocumentCreateStarted(d), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(recorder->PendingCount(), 0u);
    recorder->DocumentCreated(d);
    EXPECT_TRUE(journal.isEmpty());
}
