// The dormant recorders (drawing, performance, build, variables) driven by the host stand-ins, and the
// categories of their records, which neither real service lets out of the process.
#include "czncipbuildrecorder.h"
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipvariablerecorderimpl.h"
#include "cznsystemservices.h"
#include "oddbdatabase.h"
#include "oddbdictionary.h"
#include "oddbsysvardesc.h"
#include "oderror_notthatkindofclass.h"
#include "odproxyclass.h"
#include "odrxcast.h"
#include "odrxsysregistry.h"
#include "profilesettings.h"
#include "recording.h"

#include <QMap>
#include <QSet>

#include <functional>
#include <tuple>

namespace
{
using R = CZnDocumentManagerReactor;

class Dormant : public RecordingFixture
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
    // The records so far as their reasons and drawings named as here, e.g. "Closed a".
    QString reasons(const QMap<QString, CZnDocument*>& names)
    {
        QStringList out;
        for (QString r : journal)
        {
            for (auto it = names.begin(); it != names.end(); ++it)
                r.replace(idOf(it.value()), it.key());
            out << (r.section("Reason@7=s:", 1).section(' ', 0, 0) + ' ' +
                    r.section("Name@1=s:", 1).section(' ', 0, 0))
                       .trimmed();
        }
        return out.join(QStringLiteral(", "));
    }
    std::vector<CZnDocumentPtr> owned;
};

// A script of host events over drawings a, b, c, and the reasons and drawings of what it sends.
TEST_F(Dormant, EachDrawingLifecycleSendsItsReasonsUnderItsOwnIdentifierAndLosesNothingPending)
{
    const std::tuple<const char*, const char*, std::size_t> rows[] = {
        {"start a, preopen a, created a", "Opened a", 0}, // a creation that turns into an open
        {"open a, new b, close a", "Attached a, Opened a, Attached b, Created b, Detached a, Closed a", 0},
        {"start a, start b, preopen b, created b, created a", "Opened b, Created a", 0},
        {"start c, cancel c", "CreateCancelled c", 0},
        {"created a, cancel a, attach a, detach a, destroyed a, quit", "Quit", 0}, // nothing pending
        {"start a, start b, preopen b", "", 2}};
    const CZnString file("/drawings/secret.dwg");
    using Step = std::function<void(CZnDocument*&)>;
    const auto event = [&](void (R::*e)(CZnDocument*)) -> Step
    { return [this, e](CZnDocument*& d) { on(e, d); }; };
    const QMap<QString, Step> steps{
        {"start", event(&R::DocumentCreateStarted)},
        {"created", event(&R::DocumentCreated)},
        {"cancel", event(&R::DocumentCreateCanceled)},
        {"attach", event(&R::DatabaseAttached)},
        {"detach", event(&R::DatabaseDetached)},
        {"open", [&](auto& d) { d = documents()->OpenDocument(file); }},
        {"new", [&](auto& d) { d = documents()->NewDocument(file); }},
        {"close", [&](auto& d) { documents()->CloseDocument(d); }},
        {"preopen", [&](auto& d) { documents()->Fire([&](R* r) { r->DocumentPreOpen(d, file, 0, 0); }); }},
        {"destroyed", [&](auto& d) { documents()->Fire([&](R* r) { r->DocumentDestroyed(d, file); }); }},
        {"quit", [](auto&) { znFireMainFrameDestroyed(nullptr); }}};
    for (const auto& [script, sent, pending] : rows)
    {
        SCOPED_TRACE(script);
        journal.clear();
        Running<CZnCIPDrawingRecorder> running;
        QMap<QString, CZnDocument*> docs;
        for (const char* name : {"a", "b", "c"})
            docs[name] = newDocument(qPrintable(QStringLiteral("/drawings/secret-%1.dwg").arg(name)));
        for (const QString& step : QString(script).split(", "))
            steps[step.section(' ', 0, 0)](docs[step.section(' ', 1)]);
        EXPECT_EQ(reasons(docs), sent);
        EXPECT_EQ(running.recorder.PendingCount(), pending);
        // A drawing is known by the CIP object's braced identifier, never by its file.
        EXPECT_FALSE(journal.join('\n').contains(QLatin1String("secret")));
        EXPECT_EQ(idOf(docs["a"]).size(), 38);
    }

    // Damaged drawings, lack of memory or of a service, and stopping lose nothing pending.
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
    EXPECT_TRUE(journal.value(0).endsWith(QLatin1String("Has Constraints@6=s:false")));
    on(&R::DocumentCreated, d);
    ASSERT_EQ(recorder.PendingCount(), 0u);

    // Out of memory while starting leaves the pending events as they were.
    odrxFailAllocationAfter(1);
    EXPECT_THROW(recorder.DocumentCreateStarted(d), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(recorder.PendingCount(), 0u);

    // Without a service the events are still taken off the stack, and nothing is called.
    journal.clear();
    cip->SetService(nullptr);
    for (auto event : {&R::DocumentCreateStarted, &R::DatabaseAttached, &R::DocumentCreated})
        on(event, d);
    cip->SetService(recording);
    EXPECT_EQ(recorder.PendingCount(), 0u);
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
// Variable periods on an explicit clock, the variables watched, and names or values never reported.
TEST_F(Dormant, VariablePeriodsAddUpAndWatchedVariablesFollowTheOwnerTheRegistrationAndEachDrawing)
{
    // Held 1 for 5 s, 2 for 3 s, then 1 again for 2 s until the report.
    CZnCIPVariableDataRecord record(CZnString("ORTHOMODE"));
    EXPECT_TRUE(record.Capture(intValue(1), 0));
    EXPECT_TRUE(record.Capture(intValue(2), 5000));
    // The value already held neither adds nor closes a period.
    EXPECT_FALSE(record.Capture(intValue(2), 6500));
    EXPECT_EQ(record.periods.back().duration, 0);
    EXPECT_TRUE(record.Capture(intValue(1), 8000));
    record.CloseLastPeriod(10000);
    QList<qint64> durations;
    for (const auto& period : record.periods)
        durations << period.duration;
    EXPECT_EQ(durations, QList<qint64>({5, 3, 2}));
    EXPECT_EQ(record.periods.at(1).start, 5000);
    EXPECT_EQ(record.TotalSeconds(), 10);

    // A value of another type is a new value; seconds are truncated; a closed period stays closed.
    CZnCIPVariableDataRecord layer(CZnString("CLAYER"));
    layer.Capture(intValue(1), 100);
    OdResBufPtr text = OdResBuf::newRb(OdResBuf::kRtString);
    text->setString(OdString("1"));
    EXPECT_TRUE(layer.Capture(text, 1099));
    EXPECT_EQ(layer.periods.at(0).duration, 0);
    layer.CloseLastPeriod(3098);
    layer.CloseLastPeriod(90000);
    EXPECT_EQ(layer.periods.at(1).duration, 1);
    EXPECT_FALSE(layer.Capture(OdResBufPtr(), 91000));

    OdDbDatabasePtr db = OdDbDatabase::createObject();
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    CZnCIPVariableRecorderImpl recorder;
    // Adding twice keeps one record, captured at once even while unregistered; removing reports nothing.
    for (const char* name : {"LTSCALE", "LTSCALE", "GRIDMODE"})
        recorder.AddVariable(CZnString(name));
    recorder.RemoveVariable(CZnString("GRIDMODE"));
    recorder.RemoveVariable(CZnString("NOTWATCHED"));
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 2);
    const CZnCIPVariableDataRecord* ltscale = recorder.Record(CZnString("LTSCALE"));
    EXPECT_EQ(ltscale->periods.size(), 1u);
    recorder.Start();
    // The drawing's own value is read, not the application-wide 2: the same 1 as held adds nothing.
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1, db.get());
    EXPECT_EQ(ltscale->periods.size(), 1u);
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 5, db.get());
    ASSERT_EQ(ltscale->periods.size(), 2u);
    EXPECT_EQ(ltscale->periods.back().value->getInt32(), 5);

    // Unknown without a dictionary or within one, a descriptor without a value: watched, never reported.
    CZnSystemVariables::RemoveAll();
    recorder.AddVariable(CZnString("NOSUCHVAR"));
    CZnSystemVariables::SetInt(CZnString("OTHER"), 1);
    recorder.sysVarChanged(nullptr, OdString("NOSUCHVAR"));
    OdDbSysVarDescPtr bare = OdDbSysVarDesc::createObject(OdString("EMPTYVAR"));
    odrxSafeCast<OdRxDictionary>(odrxSysRegistry()->getAt(OdString("ODDB_SYSVARDICT")))
        ->putAt(OdString("EMPTYVAR"), bare.get());
    recorder.AddVariable(CZnString("EMPTYVAR"));
    // Something other than a dictionary where the variables belong is raised, the name still watched.
    odrxSysRegistry()->putAt(OdString("ODDB_SYSVARDICT"), OdDbSysVarDesc::createObject(OdString("X")).get());
    EXPECT_THROW(recorder.AddVariable(CZnString("X")), OdError_NotThatKindOfClass);
    EXPECT_EQ(recorder.WatchedCount(), 4u);
    recorder.Stop();
    EXPECT_EQ(journal, QStringList{"Variables: Name@1=s:LTSCALE Duration@15=i:0 Count@10=i:2"});

    // A restart watches nothing until told again; a stop without a service drops without a report.
    CZnSystemVariables::RemoveAll();
    CZnSystemVariables::SetInt(CZnString("OTHER"), 3);
    recorder.Start();
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    recorder.AddVariable(CZnString("OTHER"));
    journal.clear();
    cip->SetService(nullptr);
    recorder.Stop();
    cip->SetService(recording);
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    EXPECT_TRUE(journal.isEmpty());
}
// Every dormant recorder reports only under a category that neither real service lets out (the filter
// itself is the services' tests' business); a timer that never ran divides nothing by its zero visits.
TEST_F(Dormant, TheRecordersReportOnlyUnderBlockedCategories)
{
    CZnIncrementalTimerManager::getTimer(CZnString("Regen"))->addVisit(12.5);
    CZnIncrementalTimerManager::getTimer(CZnString("Plot")); // never ran
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
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
    db->addDrawingClass(OdRxObjectImpl<OdProxyClass>::createObject(OdString("ZnPipe"), OdString("ZnPlant")));
    CZnDocument* d = newDocument("plant.dwg", db.get());
    for (auto event : {&R::DocumentCreateStarted, &R::DatabaseAttached, &R::DocumentCreated,
                       &R::DocumentToBeDestroyed, &R::DatabaseDetached})
        on(event, d);
    documents()->Fire([&](R* r) { r->DocumentDestroyed(d, CZnString("plant.dwg")); });
    znFireMainFrameDestroyed(nullptr);
    cip->SetEnabled(false); // reports the variables

    QSet<QString> screens;
    for (const QString& record : journal)
        screens.insert(record.section(QLatin1Char(':'), 0, 0));
    EXPECT_EQ(screens, (QSet<QString>{"Build", "Drawing", "Proxy Entities", "Performance", "Variables"}));
    EXPECT_TRUE(journal.contains("Performance: Name@1=s:Plot Visits@10=i:0 Total@15=d:0 "
                                 "Average@16=d:0 Best@17=d:0 Worst@18=d:0"));
    for (CZnCIPRecorder* r :
         std::initializer_list<CZnCIPRecorder*>{&build, &drawing, &performance, &variables})
        cip->RemoveRecorder(r);
}
} // namespace
