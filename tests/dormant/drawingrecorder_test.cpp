// The drawing recorder driven by the host's document events, with the CIP object's stopwatches and a
// recording service in place of a real one.
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "cznsystemservices.h"
#include "oddbdatabase.h"
#include "oddbdictionary.h"
#include "oderror_notthatkindofclass.h"
#include "odproxyclass.h"
#include "odrxcast.h"
#include "recording.h"

#include <QFile>
#include <QMap>
#include <QThread>

namespace
{
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

OdDbDatabasePtr database(const QString& file, int type, int version)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setFilename(CZnString(file).toOdString());
    db->setFileType(type);
    db->setOriginalFileVersion(version);
    return db;
}

QList<int> snapshotCounts(const QString& name)
{
    int counts[3] = {};
    CZnCIPAnnotationDataRecord::getInstance()->GetSnapshotCounts(CZnString(name), counts[0], counts[1],
                                                                 counts[2]);
    return {counts[0], counts[1], counts[2]};
}

class DrawingRecorder : public RecordingFixture
{
protected:
    CZnDocumentManager* documents() { return GetZnSystemServices()->GetDocumentManager(); }
    QString idOf(CZnDocument* document) { return cip->GetTimer(quintptr(document)).id.toQString(); }
    CZnDocument* newDocument(const char* file, OdDbDatabase* db = nullptr)
    {
        owned.emplace_back(OdRxObjectImpl<CZnDocument>::createObject(CZnString(file)));
        owned.back()->setDatabase(db);
        return owned.back().get();
    }
    void on(void (R::*event)(CZnDocument*), CZnDocument* d)
    {
        documents()->Fire([&](R* r) { (r->*event)(d); });
    }
    // The records sent so far, each drawing's identifier shown as the name it has here.
    QStringList sent(const QMap<QString, CZnDocument*>& names)
    {
        QString all = records(journal).join(QLatin1Char('\n'));
        for (auto it = names.begin(); it != names.end(); ++it)
            all.replace(idOf(it.value()), it.key());
        return all.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The same, each as its reason and drawing only, e.g. "Closed a".
    QString reasons(const QMap<QString, CZnDocument*>& names)
    {
        QStringList out;
        for (const QString& r : sent(names))
            out << (r.section("Reason@7=s:", 1).section(' ', 0, 0) + ' ' +
                    r.section("Name@1=s:", 1).section(' ', 0, 0))
                       .trimmed();
        return out.join(QStringLiteral(", "));
    }

    std::vector<CZnDocumentPtr> owned;
};

// A script of host events over drawings a, b, c, and the reasons and drawings of what it sends.
TEST_F(DrawingRecorder, EachLifecycleSendsItsReasonsUnderTheDrawingsOwnIdentifier)
{
    const struct
    {
        const char* script;
        const char* sent;
        std::size_t pending;
    } rows[] = {
        {"start a, preopen a, created a", "Opened a", 0}, // a creation that turns into an open
        {"open a, new b, close a", "Attached a, Opened a, Attached b, Created b, Detached a, Closed a", 0},
        {"start a, start b, preopen b, created b, created a", "Opened b, Created a", 0},
        {"start c, cancel c", "CreateCancelled c", 0},
        {"created a, cancel a, attach a, detach a, destroyed a, quit", "Quit", 0}, // nothing pending
        {"start a, start b, preopen b", "", 2}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.script);
        journal.clear();
        Running<CZnCIPDrawingRecorder> running;
        QMap<QString, CZnDocument*> docs;
        for (const char* name : {"a", "b", "c"})
            docs[name] = newDocument(qPrintable(QStringLiteral("/drawings/secret-%1.dwg").arg(name)));
        const QMap<QString, void (R::*)(CZnDocument*)> events{{"start", &R::DocumentCreateStarted},
                                                              {"created", &R::DocumentCreated},
                                                              {"cancel", &R::DocumentCreateCanceled},
                                                              {"attach", &R::DatabaseAttached},
                                                              {"detach", &R::DatabaseDetached}};
        const CZnString file("/drawings/secret.dwg");
        for (const QString& step : QString(row.script).split(QStringLiteral(", ")))
        {
            const QString verb = step.section(' ', 0, 0);
            CZnDocument*& d = docs[step.section(' ', 1)];
            if (events.contains(verb))
                on(events[verb], d);
            else if (verb == "open" || verb == "new")
                d = verb == "open" ? documents()->OpenDocument(file) : documents()->NewDocument(file);
            else if (verb == "close")
                documents()->CloseDocument(d);
            else if (verb == "preopen")
                documents()->Fire([&](R* r) { r->DocumentPreOpen(d, file, 0, 0); });
            else if (verb == "destroyed")
                documents()->Fire([&](R* r) { r->DocumentDestroyed(d, file); });
            else
                znFireMainFrameDestroyed(nullptr); // quit
        }
        EXPECT_EQ(reasons(docs), row.sent);
        EXPECT_EQ(running.recorder.PendingCount(), row.pending);
        // A drawing is known by the CIP object's braced identifier, never by its file.
        EXPECT_FALSE(journal.join('\n').contains(QLatin1String("secret")));
        EXPECT_EQ(idOf(docs["a"]).size(), 38);
    }
}

TEST_F(DrawingRecorder, AttachReportsTheFileAndEachProxyClassAndCloseTheMinutesAndAnnotations)
{
    const QString file = path(QStringLiteral("site.dxf"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(QByteArray(12345, 'x')) == 12345);
    out.close();
    OdDbDatabasePtr db = database(file, 1, OdDb::vAC18);
    db->setApproxNumObjects(4321);
    odrxSafeCast<OdDbDictionary>(db->getNamedObjectsDictionaryId().openObject())
        ->setAt(OdString("ACAD_ASSOCNETWORK"), OdDbObjectId());
    db->addDrawingClass(
        OdRxObjectImpl<OdProxyClass>::createObject(OdString("AecDbWall"), OdString("AecArch")));
    db->addDrawingClass(OdRxObjectImpl<OdRxClass>::createObject(OdString("AcDbLine"), OdString("Core")));
    db->addDrawingClass(OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnPipe"), OdString("ZnPlant")));
    db->addDrawingClass(
        OdRxObjectImpl<DerivedProxyClass>::createObject(OdString("Known"), OdString("Loaded")));
    // Only drawing formats carry a version; a file never written has size 0; over 2 GiB the low 32 bits.
    OdDbDatabasePtr dwt = database(path(QStringLiteral("template.dwt")), 5, OdDb::vAC18);
    QFile huge(path(QStringLiteral("huge.dwg")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize((3LL << 31) + 5));
    huge.close();
    OdDbDatabasePtr big = database(huge.fileName(), 0, OdDb::vAC27);
    const QMap<QString, CZnDocument*> docs{{"site", newDocument("site.dxf", db.get())},
                                           {"dwt", newDocument("template.dwt", dwt.get())},
                                           {"big", newDocument("huge.dwg", big.get())},
                                           {"none", newDocument("empty.dwg")}};
    Running<CZnCIPDrawingRecorder> running;
    on(&R::DocumentCreateStarted, docs["site"]);
    for (const char* name : {"site", "dwt", "big", "none"})
        on(&R::DatabaseAttached, docs[name]);
    EXPECT_EQ(running.recorder.PendingCount(), 1u); // the creation is untouched by the attaches
    const QString head = "Drawing: Duration@15=i:0 Name@1=s:";
    const QString tail = " Reason@7=s:Attached Size@21=i:%1 Type@9=s:%2 File Version@5=s:%3 Entities@11=i:%4 "
                         "Has Constraints@6=s:%5";
    EXPECT_EQ(sent(docs),
              QStringList({head + "site" + tail.arg(12345).arg("kDxf", "vAC18").arg(4321).arg("true"),
                           "Proxy Entities: Name@1=s:AecDbWall Type@2=s:AecArch",
                           "Proxy Entities: Name@1=s:ZnPipe Type@2=s:ZnPlant",
                           head + "dwt" + tail.arg(0).arg("kDwt", "kDHL_Unknown").arg(1).arg("false"),
                           head + "big" + tail.arg(-2147483643).arg("kDwg", "vAC27").arg(1).arg("false"),
                           head + "none" + tail.arg(0).arg("kUnknown", "kDHL_Unknown").arg(0).arg("false")}));
    // The host's annotation statistics now know the drawing, with one snapshot of each kind.
    EXPECT_EQ(snapshotCounts(idOf(docs["site"])), (QList<int>{1, 1, 1}));

    // Closing: Detached, then Closed with whole minutes (far from one here) and the annotation counts.
    CZnDocument* d = documents()->OpenDocument(CZnString("/drawings/b.dwg"));
    const QString id = idOf(d);
    CZnCIPAnnotationDataRecord* annotations = CZnCIPAnnotationDataRecord::getInstance();
    annotations->AddAnnotativeOperations(CZnString(id), 3);
    annotations->AddAnnotativeOperations(CZnString(id), 1);
    annotations->SetAnnotativeObjectCount(CZnString(id), 9);
    journal.clear();
    QThread::msleep(30);
    on(&R::DocumentToBeDestroyed, d);
    QThread::msleep(30);
    on(&R::DatabaseDetached, d);
    documents()->Fire([&](R* r) { r->DocumentDestroyed(d, CZnString("/drawings/b.dwg")); });
    EXPECT_EQ(sent({{"b", d}}), QStringList({"Drawing: Duration@15=i:0 Name@1=s:b Reason@7=s:Detached",
                                             "Drawing: Duration@15=i:0 Name@1=s:b Reason@7=s:Closed "
                                             "Annotative Operations@19=i:4 Annotative Entities@20=i:9"}));
    EXPECT_EQ(snapshotCounts(id), (QList<int>{2, 2, 2}));
}

TEST_F(DrawingRecorder, DamagedDrawingsLackOfMemoryOrServiceAndStoppingLoseNothingPending)
{
    auto running = std::make_unique<Running<CZnCIPDrawingRecorder>>();
    CZnCIPDrawingRecorder& recorder = running->recorder;
    // A damaged named-objects entry raises and sends nothing; an erased dictionary means no constraints.
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    db->setNamedObjectsDictionaryId(db->addObject(OdRxObjectImpl<OdDbObject>::createObject()));
    CZnDocument* d = newDocument("damaged.dwg", db.get());
    on(&R::DocumentCreateStarted, d);
    EXPECT_THROW(recorder.DatabaseAttached(d), OdError_NotThatKindOfClass);
    EXPECT_TRUE(journal.isEmpty());
    OdDbDatabasePtr erased = OdDbDatabase::createObject();
    OdDbDictionaryPtr named =
        odrxSafeCast<OdDbDictionary>(erased->getNamedObjectsDictionaryId().openObject());
    named->setAt(OdString("ACAD_ASSOCNETWORK"), OdDbObjectId());
    named->erase();
    d->setDatabase(erased.get());
    recorder.DatabaseAttached(d);
    EXPECT_TRUE(records(journal).value(0).endsWith(QLatin1String("Has Constraints@6=s:false")));
    on(&R::DocumentCreated, d);
    ASSERT_EQ(recorder.PendingCount(), 0u);

    // Out of memory while starting leaves the pending events as they were.
    odrxFailAllocationAfter(1);
    EXPECT_THROW(recorder.DocumentCreateStarted(d), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(recorder.PendingCount(), 0u);

    // Without a service the events are still taken off the stack, and nothing is called.
    journal.clear();
    withoutService(
        [&]
        {
            on(&R::DocumentCreateStarted, d);
            on(&R::DatabaseAttached, d);
            on(&R::DocumentCreated, d);
            EXPECT_EQ(recorder.PendingCount(), 0u);
        });
    EXPECT_TRUE(journal.isEmpty());

    // Stopping keeps what is pending and discards the annotation statistics.
    CZnDocument* kept = documents()->OpenDocument(CZnString("kept.dwg"));
    ASSERT_TRUE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(CZnString(idOf(kept))));
    on(&R::DocumentCreateStarted, kept);
    journal.clear();
    recorder.Stop();
    EXPECT_FALSE(CZnCIPAnnotationDataRecord::getInstance()->HasRecord(CZnString(idOf(kept))));
    on(&R::DocumentCreated, kept);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(recorder.PendingCount(), 1u);
    recorder.Start();
    on(&R::DocumentCreated, kept);
    EXPECT_EQ(reasons({{"kept", kept}}), "Created kept");
}
} // namespace
