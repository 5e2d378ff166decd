// The performance, build and variable recorders against the host stand-ins and a recording service
// installed in a real CIP object.
#include "czncipbuildrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipvariablerecorderimpl.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "oddbdatabase.h"
#include "oddbsysvardesc.h"
#include "odeditor.h"
#include "oderror_notthatkindofclass.h"
#include "odrxcast.h"
#include "odrxsysregistry.h"
#include "profilesettings.h"
#include "recording.h"

#include <QThread>

namespace
{
using DormantRecorders = RecordingFixture;

// The build record when a main window opens, the performance timers in name order when it closes.
TEST_F(DormantRecorders, BuildAndPerformanceRecordsAreWholeAndLeaveTheHostsTimersAlone)
{
    GetZnResources()->SetProductName(CZnString("ZnCAD Pro"));
    GetZnSystemServices()->SetVersionString(CZnString("2.0.1"));
    GetZnSystemServices()->SetBuildText(CZnString("")); // empty host texts go out empty
    GetZnResources()->SetReleaseNumber(19);
    GetZnResources()->SetReleaseValue(1234567.0);
    Running<CZnCIPBuildRecorder> build;
    Running<CZnCIPPerformanceRecorder> performance;
    znFireMainFrameDestroyed(nullptr); // no timers, no records
    CZnIncrementalTimer* open = CZnIncrementalTimerManager::getTimer(CZnString("Open"));
    CZnIncrementalTimerManager::getTimer(CZnString("Regen"))->addVisit(0.75);
    for (double t : {1.0, 2.0, 3.0, 4.0})
        open->addVisit(t);
    CZnIncrementalTimerManager::getTimer(CZnString("Plot")); // never ran: no division by zero visits
    znFireMainFrameCreated(nullptr);
    znFireMainFrameDestroyed(nullptr);
    QStringList expected{
        "Build: Name@1=s:ZnCAD Pro Build@3=s:2.0.1: Version@5=s:19:1.23457e+06 Platform@4=s:x64"};
    for (const char* values : {"Open|4|10|2.5|1|4", "Plot|0|0|0|0|0", "Regen|1|0.75|0.75|0.75|0.75"})
    {
        const QStringList v = QString(values).split('|');
        expected << QString("Performance: Name@1=s:%1 Visits@10=i:%2 Total@15=d:%3 Average@16=d:%4 "
                            "Best@17=d:%5 Worst@18=d:%6")
                        .arg(v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    EXPECT_EQ(records(journal), expected);
    CZnIncrementalTimerInfo info{};
    open->getInfo(info);
    EXPECT_EQ(info.visits, 4);
}

TEST(VariableDataRecord, PeriodsCountDistinctValuesAndSumTruncatedWholeSeconds)
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
    ASSERT_EQ(record.periods.size(), 3u);
    EXPECT_EQ(record.periods.at(1).start, 5000);
    EXPECT_EQ(
        QList<qint64>({record.periods[0].duration, record.periods[1].duration, record.periods[2].duration}),
        QList<qint64>({5, 3, 2}));
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
}

TEST_F(DormantRecorders, VariablesAreReportedAtStopInNameOrderWithTheOpenPeriodClosed)
{
    CZnSystemVariables::SetInt(CZnString("ZOOMFACTOR"), 60);
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("0"));
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    Running<CZnCIPVariableRecorderImpl> running;
    for (const char* name : {"ZOOMFACTOR", "GRIDMODE", "CLAYER"})
        running.recorder.AddVariable(CZnString(name));
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("Walls"));
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("Doors"));
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
    // The last values are held just over a second, which only the report itself can close.
    QThread::msleep(1050);
    EXPECT_TRUE(journal.isEmpty());
    running.recorder.Stop();
    const QString record = "Variables: Name@1=s:%1 Duration@15=i:1 Count@10=i:%2";
    EXPECT_EQ(records(journal), QStringList({record.arg("CLAYER").arg(3), record.arg("GRIDMODE").arg(2),
                                             record.arg("ZOOMFACTOR").arg(1)}));
}

// Which variables are watched, which changes count, and which names or values are never reported.
TEST_F(DormantRecorders, VariablesWatchedFollowTheOwnerTheRegistrationAndEachDrawingsValue)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    Running<CZnCIPVariableRecorderImpl> running;
    CZnCIPVariableRecorderImpl& recorder = running.recorder;
    recorder.Stop();
    // Adding twice keeps one record, captured at once even while not registered; changes then pass
    // unseen. Removing discards without a report.
    for (const char* name : {"LTSCALE", "LTSCALE", "GRIDMODE"})
        recorder.AddVariable(CZnString(name));
    recorder.RemoveVariable(CZnString("GRIDMODE"));
    recorder.RemoveVariable(CZnString("NOTWATCHED"));
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 2);
    const CZnCIPVariableDataRecord* record = recorder.Record(CZnString("LTSCALE"));
    EXPECT_EQ(record->periods.size(), 1u);
    recorder.Start();
    // The drawing's own value is read, not the application-wide 2: the same 1 as held adds nothing.
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1, db.get());
    EXPECT_EQ(record->periods.size(), 1u);
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 5, db.get());
    ASSERT_EQ(record->periods.size(), 2u);
    EXPECT_EQ(record->periods.back().value->getInt32(), 5);

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
    EXPECT_EQ(records(journal), QStringList{"Variables: Name@1=s:LTSCALE Duration@15=i:0 Count@10=i:2"});

    // After a restart nothing is watched until the owner says so again; without a service at the stop
    // the variables are dropped without a report.
    CZnSystemVariables::RemoveAll();
    CZnSystemVariables::SetInt(CZnString("OTHER"), 3);
    recorder.Start();
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    recorder.AddVariable(CZnString("OTHER"));
    journal.clear();
    withoutService([&] { recorder.Stop(); });
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    EXPECT_TRUE(journal.isEmpty());
}
} // namespace
