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
using R = CZnDocumentManagerReactor;

// Derived from the proxy class: known through an application, so not reported as a proxy.
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

template <class C> C* drawingClass(const char* name, const char* app)
{
    return OdRxObjectImpl<C>::createObject(OdString(name), OdString(app));
}

OdDbDatabasePtr database(const QString& file, int type, int version)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setFilename(CZnString(file).toOdString());
    db->setFileType(type);
    db->setOriginalFileVersion(version);
    return db;
}

// The typed values of a record at the given indexes.
QStringList values(const SentRecord& record, std::initializer_list<int> indexes)
{
    QStringList all;
    for (int index : indexes)
        all << record.byIndex.value(index);
    return all;
}

QList<int> snapshotCounts(const CZnString& name)
{
    int scales = 0, dimStyles = 0, textStyles = 0;
    CZnCIPAnnotationDataRecord::getInstance()->GetSnapshotCounts(name, scales, dimStyles, textStyles);
    return {scales, dimStyles, textStyles};
}

class DrawingRecorder : public RecordingFixture
{
protected:
    void SetUp() override
    {
        RecordingFixture::SetUp();
        recorder = std::make_unique<CZnCIPDrawingRecorder>();
        recorder->Start();
    }
    void TearDown() override
    {
        recorder->Stop();
        recorder.reset();
        RecordingFixture::TearDown();
        CZnCIPAnnotationDataRecord::destroy();
    }

    CZnDocumentManager* documents() { return GetZnSystemServices()->GetDocumentManager(); }
    QString idOf(CZnDocument* document)
    {
        return cip->GetTimer(reinterpret_cast<quintptr>(document)).id.toQString();
    }
    // The reason of every record sent so far.
    QStringList reasons() const
    {
        QStringList all;
        for (const SentRecord& record : sent())
            all << record.text(7);
        return all;
    }
    // A document the test drives event by event, kept alive by the test.
    CZnDocument* newDocument(const char* path, OdDbDatabase* db = nullptr)
    {
        owned.emplace_back(OdRxObjectImpl<CZnDocument>::createObject(CZnString(path)));
        if (db)
            owned.back()->setDatabase(db);
        return owned.back().get();
    }
    template <class... A, class... B>
    void on(void (R::*event)(CZnDocument*, A...), CZnDocument* d, B&&... args)
    {
        documents()->Fire([&](R* r) { (r->*event)(d, args...); });
    }

    std::unique_ptr<CZnCIPDrawingRecorder> recorder;
    std::vector<CZnDocumentPtr> owned;
};
} // namespace

TEST(DrawingDataRecord, CodesMinutesAndSizes)
{
    const std::pair<Record::Reason, const char*> reasons[] = {
        {Record::Created, "Created"}, {Record::CreateCancelled, "CreateCancelled"}, {Record::Quit, "Quit"}};
    for (const auto& c : reasons)
        EXPECT_EQ(Record::ReasonText(c.first), QString(c.second));
    const std::pair<int, const char*> types[] = {
        {0, "kDwg"}, {5, "kDwt"}, {8, "kDae"}, {9, "kUnknown"}, {-1, "kUnknown"}};
    for (const auto& c : types)
        EXPECT_EQ(Record::FileTypeText(c.first), QString(c.second)) << c.first;
    const std::pair<int, const char*> versions[] = {{0, "kDHL_MC0_0"},
                                                    {OdDb::vAC12, "vAC12"},
                                                    {OdDb::vAC18, "vAC18"},
                                                    {31, "vAC27"},
                                                    {32, "kDHL_Unknown"},
                                                    {-3, "kDHL_Unknown"},
                                                    {OdDb::kDHL_Unknown, "kDHL_Unknown"}};
    for (const auto& c : versions)
        EXPECT_EQ(Record::FileVersionText(c.first), QString(c.second)) << c.first;

    const std::pair<qint64, int> minutes[] = {{0, 0}, {59999, 0}, {60000, 1}, {119999, 1}, {7200000, 120}};
    for (const auto& c : minutes)
        EXPECT_EQ(Record::WholeMinutes(c.first), c.second) << c.first;
    const std::pair<qint64, int> sizes[] = {
        {2147483647LL, 2147483647}, {2147483648LL + 5, -2147483643}, {(1LL << 32) + 7, 7}};
    for (const auto& c : sizes)
        EXPECT_EQ(Record::Low32Bits(c.first), c.second) << c.first;
    // A record whose document timer was never taken reads as open for no time.
    EXPECT_EQ(Record().MinutesOpen(), 0);
}

TEST_F(DrawingRecorder, ACreationThatTurnsIntoAnOpenGivesOneOpenedRecordSpanningBoth)
{
    CZnDocument* d = newDocument("/drawings/a.dwg");
    on(&R::DocumentCreateStarted, d);
    QThread::msleep(40);
    on(&R::DocumentPreOpen, d, CZnString("/drawings/a.dwg"), 0, 0);
    QThread::msleep(40);
    on(&R::DocumentCreated, d);

    ASSERT_EQ(sent().size(), 1);
    const SentRecord opened = sent().at(0);
    EXPECT_EQ(opened.screen, QStringLiteral("Drawing"));
    EXPECT_EQ(opened.indexes, (QList<int>{15, 1, 7}));
    EXPECT_EQ(opened.names, QStringList({"Duration", "Name", "Reason"}));
    EXPECT_EQ(opened.text(7), QStringLiteral("Opened"));
    EXPECT_EQ(opened.text(1), idOf(d));
    EXPECT_GE(opened.text(15).toInt(), 80);
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, HostOpenNewAndCloseSendTheirPairsUnderTheDrawingsId)
{
    CZnDocument* d = documents()->OpenDocument(CZnString("/drawings/plan.dwg"));
    EXPECT_EQ(reasons(), QStringList({"Attached", "Opened"}));
    for (const SentRecord& record : sent())
        EXPECT_EQ(record.text(1), idOf(d));
    // The identifier is the CIP object's braced UUID, never the file.
    EXPECT_EQ(idOf(d).size(), 38);
    EXPECT_FALSE(journal.join(QLatin1Char('\n')).contains(QLatin1String("plan")));

    journal.clear();
    documents()->NewDocument(CZnString("Drawing2.dwg"));
    EXPECT_EQ(reasons(), QStringList({"Attached", "Created"}));

    // The host detaches the database between its two close events.
    journal.clear();
    documents()->CloseDocument(d);
    EXPECT_EQ(reasons(), QStringList({"Detached", "Closed"}));
    EXPECT_EQ(sent().value(1).text(1), idOf(d));
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, NestedCreationsCompleteLastStartedFirstAndCancelsAreReported)
{
    CZnDocument* outer = newDocument("outer.dwg");
    CZnDocument* inner = newDocument("inner.dwg");
    on(&R::DocumentCreateStarted, outer);
    on(&R::DocumentCreateStarted, inner);
    on(&R::DocumentPreOpen, inner, CZnString("inner.dwg"), 0, 0);
    EXPECT_EQ(recorder->PendingCount(), 2u);
    on(&R::DocumentCreated, inner);
    on(&R::DocumentCreated, outer);
    EXPECT_EQ(reasons(), QStringList({"Opened", "Created"}));
    EXPECT_EQ(sent().value(0).text(1), idOf(inner));
    EXPECT_EQ(sent().value(1).text(1), idOf(outer));

    journal.clear();
    CZnDocument* gone = newDocument("gone.dwg");
    on(&R::DocumentCreateStarted, gone);
    on(&R::DocumentCreateCanceled, gone);
    EXPECT_EQ(reasons(), QStringList({"CreateCancelled"}));
    EXPECT_EQ(recorder->PendingCount(), 0u);
}

TEST_F(DrawingRecorder, CompletingEventsWithNothingPendingSendNothingAndQuitGoesAlone)
{
    CZnDocument* d = newDocument("stray.dwg");
    documents()->Fire(
        [&](R* r)
        {
            r->DocumentCreated(d);
            r->DocumentCreateCanceled(d);
            r->DatabaseAttached(d);
            r->DatabaseDetached(d);
            r->DocumentDestroyed(d, CZnString("stray.dwg"));
        });
    EXPECT_TRUE(journal.isEmpty()) << journal.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(CZnString(idOf(d))));
    znFireMainFrameDestroyed(nullptr);
    EXPECT_EQ(journal, QStringList({"SetScreenValue Drawing|Reason|7|s:Quit", "Send"}));
}

TEST_F(DrawingRecorder, AttachWhilePendingReportsTheFileAndEachProxyClass)
{
    const QString file = path(QStringLiteral("site.dxf"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(QByteArray(12345, 'x')) == 12345);
    out.close();
    OdDbDatabasePtr db = database(file, 1, OdDb::vAC18);
    db->setApproxNumObjects(4321);
    odrxSafeCast<OdDbDictionary>(db->getNamedObjectsDictionaryId().openObject())
        ->setAt(OdString("ACAD_ASSOCNETWORK"), OdDbObjectId());
    db->addDrawingClass(drawingClass<OdProxyClass>("AecDbWall", "AecArch"));
    db->addDrawingClass(drawingClass<OdRxClass>("AcDbLine", "Core"));
    db->addDrawingClass(drawingClass<OdProxyClass>("ZnPipe", "ZnPlant"));
    db->addDrawingClass(drawingClass<DerivedProxyClass>("Known", "Loaded"));
    db->addDrawingClass(drawingClass<OdProxyClass>("ZnValve", "ZnPlant"));

    CZnDocument* d = newDocument("site.dxf", db.get());
    on(&R::DocumentCreateStarted, d);
    on(&R::DatabaseAttached, d);
    // The pending creation is untouched by the attach.
    EXPECT_EQ(recorder->PendingCount(), 1u);
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 4);
    const SentRecord& attached = records.at(0);
    EXPECT_EQ(attached.indexes, (QList<int>{15, 1, 7, 21, 9, 5, 11, 6}));
    EXPECT_EQ(attached.names, QStringList({"Duration", "Name", "Reason", "Size", "Type", "File Version",
                                           "Entities", "Has Constraints"}));
    EXPECT_EQ(
        values(attached, {1, 7, 21, 9, 5, 11, 6}),
        QStringList({"s:" + idOf(d), "s:Attached", "i:12345", "s:kDxf", "s:vAC18", "i:4321", "s:true"}));

    const QStringList expected[] = {{"AecDbWall", "AecArch"}, {"ZnPipe", "ZnPlant"}, {"ZnValve", "ZnPlant"}};
    for (int i = 0; i < 3; ++i)
    {
        const SentRecord& proxy = records.at(i + 1);
        EXPECT_EQ(proxy.screen, QStringLiteral("Proxy Entities"));
        EXPECT_EQ(proxy.indexes, (QList<int>{1, 2}));
        EXPECT_EQ(proxy.names, QStringList({"Name", "Type"}));
        EXPECT_EQ(QStringList({proxy.text(1), proxy.text(2)}), expected[i]);
    }
    // The host's annotation statistics now know the drawing, with one snapshot of each kind.
    EXPECT_EQ(snapshotCounts(CZnString(idOf(d))), (QList<int>{1, 1, 1}));

    journal.clear();
    on(&R::DocumentCreated, d);
    EXPECT_EQ(reasons(), QStringList({"Created"}));
}

TEST_F(DrawingRecorder, OnlyDrawingFormatsCarryAVersionAndMissingFactsKeepTheirDefaults)
{
    OdDbDatabasePtr db = database(path(QStringLiteral("template.dwt")), 5, OdDb::vAC18); // never written
    CZnDocument* withDb = newDocument("template.dwt", db.get());
    on(&R::DocumentCreateStarted, withDb);
    on(&R::DatabaseAttached, withDb);
    on(&R::DatabaseAttached, newDocument("empty.dwg"));

    // A fresh database holds its named-objects dictionary and nothing else.
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(values(records.at(0), {9, 5, 21, 11, 6}),
              QStringList({"s:kDwt", "s:kDHL_Unknown", "i:0", "i:1", "s:false"}));
    EXPECT_EQ(values(records.at(1), {9, 5, 21, 11, 6}),
              QStringList({"s:kUnknown", "s:kDHL_Unknown", "i:0", "i:0", "s:false"}));
}

TEST_F(DrawingRecorder, FilesOver2GiBReportTheLow32BitsOfTheirSize)
{
    const std::pair<qint64, int> cases[] = {{2147483648LL + 5, -2147483643}, {(1LL << 32) + 7, 7}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        const QString file = path(QStringLiteral("huge.dwg"));
        QFile sparse(file);
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(c.first));
        sparse.close();
        OdDbDatabasePtr db = database(file, 0, OdDb::vAC27);
        CZnDocument* d = newDocument("huge.dwg", db.get());
        journal.clear();
        on(&R::DocumentCreateStarted, d);
        on(&R::DatabaseAttached, d);
        ASSERT_EQ(sent().size(), 1);
        EXPECT_EQ(values(sent().at(0), {21, 5}),
                  QStringList({QStringLiteral("i:%1").arg(c.second), "s:vAC27"}));
        QFile::remove(file);
    }
}

TEST_F(DrawingRecorder, ADamagedNamedObjectsEntryRaisesAndSendsNothing)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setNamedObjectsDictionaryId(db->addObject(OdRxObjectImpl<OdDbObject>::createObject()));
    CZnDocument* d = newDocument("damaged.dwg", db.get());
    on(&R::DocumentCreateStarted, d);
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

TEST_F(DrawingRecorder, CloseSendsDetachedThenClosedWithMinutesAndAnnotationCounts)
{
    CZnDocument* d = documents()->OpenDocument(CZnString("/drawings/b.dwg"));
    const CZnString name(idOf(d));
    CZnCIPAnnotationDataRecord* annotations = CZnCIPAnnotationDataRecord::getInstance();
    annotations->AddAnnotativeOperations(name, 3);
    annotations->AddAnnotativeOperations(name, 1);
    annotations->SetAnnotativeObjectCount(name, 9);
    journal.clear();

    // Long enough to show in milliseconds, far too short for a minute.
    QThread::msleep(30);
    on(&R::DocumentToBeDestroyed, d);
    QThread::msleep(30);
    on(&R::DatabaseDetached, d);
    on(&R::DocumentDestroyed, d, CZnString("/drawings/b.dwg"));
    const QList<SentRecord> records = sent();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records.at(0).indexes, (QList<int>{15, 1, 7}));
    EXPECT_EQ(values(records.at(0), {15, 1, 7}), QStringList({"i:0", "s:" + name.toQString(), "s:Detached"}));
    EXPECT_EQ(records.at(1).indexes, (QList<int>{15, 1, 7, 19, 20}));
    EXPECT_EQ(records.at(1).names,
              QStringList({"Duration", "Name", "Reason", "Annotative Operations", "Annotative Entities"}));
    EXPECT_EQ(values(records.at(1), {15, 1, 7, 19, 20}),
              QStringList({"i:0", "s:" + name.toQString(), "s:Closed", "i:4", "i:9"}));
    // The detach took a second snapshot of the drawing's annotations.
    EXPECT_EQ(snapshotCounts(name), (QList<int>{2, 2, 2}));
}

TEST_F(DrawingRecorder, OutOfMemoryLeavesTheStackAsItWasAndWithoutAServiceItIsKeptButNothingIsCalled)
{
    CZnDocument* d = newDocument("tight.dwg");
    odrxFailAllocationAfter(1);
    EXPECT_THROW(recorder->DocumentCreateStarted(d), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(recorder->PendingCount(), 0u);
    recorder->DocumentCreated(d);
    EXPECT_TRUE(journal.isEmpty());

    cip->SetService(nullptr);
    on(&R::DocumentCreateStarted, d);
    on(&R::DatabaseAttached, d);
    EXPECT_EQ(recorder->PendingCount(), 1u);
    on(&R::DocumentCreated, d);
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
    on(&R::DocumentCreateStarted, d);
    journal.clear();

    recorder->Stop();
    EXPECT_FALSE(documents()->HasReactor(static_cast<OdStaticRxObject<R>*>(recorder.get())));
    EXPECT_FALSE(odedEditor()->hasReactor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(recorder.get())));
    EXPECT_FALSE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(name));
    on(&R::DocumentCreated, d);
    znFireMainFrameDestroyed(nullptr);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(recorder->PendingCount(), 1u);

    recorder->Start();
    on(&R::DocumentCreated, d);
    EXPECT_EQ(reasons(), QStringList({"Created"}));
}
