// The performance, build and variable recorders, each against the host stand-ins and a recording
// service installed in a real CIP object.
#include "czncipbuildrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipvariablerecorderimpl.h"
#include "czneditorreactor.h"
#include "cznincrementaltimermanager.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "cznsystemvariables.h"
#include "hostfixture.h"
#include "oddbdatabase.h"
#include "oddbsysvardesc.h"
#include "odeditor.h"
#include "oderror_notthatkindofclass.h"
#include "odrxcast.h"
#include "odrxsysregistry.h"
#include "recordingservice.h"
#include "sentrecords.h"

#include <QThread>

#include <memory>

namespace
{
class RecorderTest : public RecordingFixture
{
protected:
    void TearDown() override
    {
        RecordingFixture::TearDown();
        CZnIncrementalTimerManager::removeAll();
        CZnSystemVariables::RemoveAll();
    }
};

// Keeps a recorder registered with the editor for the length of a test.
template <class R> struct Started
{
    Started() { recorder.Start(); }
    ~Started() { recorder.Stop(); }
    R recorder;
};

OdResBufPtr intValue(int v)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(v);
    return rb;
}

using PerformanceRecorder = RecorderTest;
using BuildRecorder = RecorderTest;
using VariableRecorder = RecorderTest;
} // namespace

TEST_F(PerformanceRecorder, ReportsEveryTimerInNameOrderWithItsAverage)
{
    CZnIncrementalTimer* b = CZnIncrementalTimerManager::getTimer(CZnString("Regen"));
    CZnIncrementalTimer* a = CZnIncrementalTimerManager::getTimer(CZnString("Open"));
    for (double t : {1.0, 2.0, 3.0, 4.0})
        a->addVisit(t);
    b->addVisit(0.75);
    CZnIncrementalTimerManager::getTimer(CZnString("Plot")); // never ran: averages zero
    Started<CZnCIPPerformanceRecorder> started;

    znFireMainFrameDestroyed(nullptr);
    QStringList expected;
    for (const char* values : {"Open|4|10|2.5|1|4", "Plot|0|0|0|0|0", "Regen|1|0.75|0.75|0.75|0.75"})
    {
        const QStringList v = QString(values).split('|');
        expected << "SetScreenValue Performance|Name|1|s:" + v[0]
                 << "SetScreenValue Performance|Visits|10|i:" + v[1]
                 << "SetScreenValue Performance|Total|15|d:" + v[2]
                 << "SetScreenValue Performance|Average|16|d:" + v[3]
                 << "SetScreenValue Performance|Best|17|d:" + v[4]
                 << "SetScreenValue Performance|Worst|18|d:" + v[5] << "Send";
    }
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(CZnCIPPerformanceRecorder::Average(10.0, 4), 2.5);
    EXPECT_EQ(CZnCIPPerformanceRecorder::Average(3.0, 0), 0.0);
    // The host's timers are read, never reset.
    CZnIncrementalTimerInfo info{};
    a->getInfo(info);
    EXPECT_EQ(info.visits, 4);
}

TEST_F(PerformanceRecorder, NoTimersNoServiceOrNotStartedMeanNoCalls)
{
    {
        Started<CZnCIPPerformanceRecorder> started;
        znFireMainFrameDestroyed(nullptr);
    }
    EXPECT_TRUE(journal.isEmpty());
    CZnIncrementalTimerManager::getTimer(CZnString("Open"))->addVisit(5.0);
    CZnCIPPerformanceRecorder stopped;
    znFireMainFrameDestroyed(nullptr);
    withoutService(
        []
        {
            Started<CZnCIPPerformanceRecorder> started;
            znFireMainFrameDestroyed(nullptr);
        });
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(BuildRecorder, OneRecordPerMainWindowWithTheFourValuesInOrder)
{
    GetZnResources()->SetProductName(CZnString("ZnCAD Pro"));
    GetZnSystemServices()->SetVersionString(CZnString("2.0.1"));
    GetZnSystemServices()->SetBuildText(CZnString("77"));
    GetZnResources()->SetReleaseNumber(19);
    GetZnResources()->SetReleaseValue(2.5);
    Started<CZnCIPBuildRecorder> started;
    znFireMainFrameCreated(nullptr);
    EXPECT_EQ(journal, QStringList({"SetScreenValue Build|Name|1|s:ZnCAD Pro",
                                    "SetScreenValue Build|Build|3|s:2.0.1:77",
                                    "SetScreenValue Build|Version|5|s:19:2.5",
                                    "SetScreenValue Build|Platform|4|s:x64", "Send"}));

    // Empty host texts go out empty.
    journal.clear();
    GetZnSystemServices()->SetBuildText(CZnString(""));
    GetZnResources()->SetReleaseValue(1.0);
    znFireMainFrameCreated(nullptr);
    const QList<SentRecord> records = sentRecords(journal);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records.at(0).text(3), QStringLiteral("2.0.1:"));
    EXPECT_EQ(records.at(0).text(5), QStringLiteral("19:1"));

    // Six significant digits.
    const std::tuple<int, double, const char*> release[] = {
        {15, 4.03, "15:4.03"}, {3, 1234567.0, "3:1.23457e+06"}, {-2, 0.000012345678, "-2:1.23457e-05"}};
    for (const auto& [number, value, text] : release)
        EXPECT_EQ(CZnCIPBuildRecorder::ReleaseText(number, value), QString(text));

    // Nothing without a service or after a stop.
    journal.clear();
    withoutService([] { znFireMainFrameCreated(nullptr); });
    started.recorder.Stop();
    znFireMainFrameCreated(nullptr);
    EXPECT_TRUE(journal.isEmpty());
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
    EXPECT_EQ((QList<qint64>{record.periods.at(0).duration, record.periods.at(1).duration,
                             record.periods.at(2).duration}),
              (QList<qint64>{5, 3, 2}));
    EXPECT_EQ(record.TotalSeconds(), 10);

    // A value of another type is a new value; seconds are truncated.
    CZnCIPVariableDataRecord layer(CZnString("CLAYER"));
    layer.Capture(intValue(1), 100);
    OdResBufPtr text = OdResBuf::newRb(OdResBuf::kRtString);
    text->setString(OdString("1"));
    EXPECT_TRUE(layer.Capture(text, 1099));
    EXPECT_EQ(layer.periods.at(0).duration, 0);
    layer.CloseLastPeriod(3098);
    EXPECT_EQ(layer.periods.at(1).duration, 1);
    // Closing again leaves a closed period alone.
    layer.CloseLastPeriod(90000);
    EXPECT_EQ(layer.periods.at(1).duration, 1);
    EXPECT_FALSE(layer.Capture(OdResBufPtr(), 91000));
}

TEST_F(VariableRecorder, ReportsCountAndWholeSecondsOfEachVariableAtStop)
{
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    Started<CZnCIPVariableRecorderImpl> started;
    started.recorder.AddVariable(CZnString("GRIDMODE"));
    QThread::msleep(1100);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 0);
    QThread::msleep(1100);
    EXPECT_TRUE(journal.isEmpty());

    // 1.1 s of each value: one whole second each, the second one counted when the report closes it.
    started.recorder.Stop();
    EXPECT_EQ(journal, QStringList({"SetScreenValue Variables|Name|1|s:GRIDMODE",
                                    "SetScreenValue Variables|Duration|15|i:2",
                                    "SetScreenValue Variables|Count|10|i:2", "Send"}));
}

TEST_F(VariableRecorder, VariablesAreReportedInNameOrderEachWithItsOwnSend)
{
    CZnSystemVariables::SetInt(CZnString("ZOOMFACTOR"), 60);
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("0"));
    Started<CZnCIPVariableRecorderImpl> started;
    started.recorder.AddVariable(CZnString("ZOOMFACTOR"));
    started.recorder.AddVariable(CZnString("CLAYER"));
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("Walls"));
    CZnSystemVariables::SetString(CZnString("CLAYER"), CZnString("Doors"));
    started.recorder.Stop();

    const QList<SentRecord> records = sentRecords(journal);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records.at(0).indexes, (QList<int>{1, 15, 10}));
    EXPECT_EQ(records.at(0).byIndex.values(), QStringList({"s:CLAYER", "i:3", "i:0"}));
    EXPECT_EQ(records.at(1).text(1), QStringLiteral("ZOOMFACTOR"));
    EXPECT_EQ(records.at(1).byIndex.value(10), QStringLiteral("i:1"));
}

TEST_F(VariableRecorder, WatchedSetFollowsAddRemoveAndStop)
{
    CZnSystemVariables::SetInt(CZnString("OSMODE"), 35);
    Started<CZnCIPVariableRecorderImpl> started;
    CZnCIPVariableRecorderImpl& recorder = started.recorder;
    // Adding twice keeps one record and captures once.
    recorder.AddVariable(CZnString("OSMODE"));
    recorder.AddVariable(CZnString("OSMODE"));
    ASSERT_EQ(recorder.WatchedCount(), 1u);
    EXPECT_EQ(recorder.Record(CZnString("OSMODE"))->periods.size(), 1u);
    // Removing discards without a report.
    recorder.RemoveVariable(CZnString("OSMODE"));
    recorder.RemoveVariable(CZnString("NOTWATCHED"));
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    recorder.AddVariable(CZnString("OSMODE"));
    recorder.Stop();
    EXPECT_EQ(sentRecords(journal).size(), 1);

    // After a restart nothing is watched until the owner says so again.
    recorder.Start();
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    CZnSystemVariables::SetInt(CZnString("OSMODE"), 0);
    journal.clear();
    recorder.Stop();
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(VariableRecorder, UnknownVariablesAndMissingValuesAreNeverReported)
{
    Started<CZnCIPVariableRecorderImpl> started;
    CZnCIPVariableRecorderImpl& recorder = started.recorder;
    // No dictionary in the registry; then a dictionary without the name; then a descriptor without a value.
    recorder.AddVariable(CZnString("NOSUCHVAR"));
    CZnSystemVariables::SetInt(CZnString("OTHER"), 1);
    recorder.sysVarChanged(nullptr, OdString("NOSUCHVAR"));
    OdDbSysVarDescPtr bare = OdDbSysVarDesc::createObject(OdString("EMPTYVAR"));
    odrxSafeCast<OdRxDictionary>(odrxSysRegistry()->getAt(OdString("ODDB_SYSVARDICT")))
        ->putAt(OdString("EMPTYVAR"), bare.get());
    recorder.AddVariable(CZnString("EMPTYVAR"));

    EXPECT_EQ(recorder.WatchedCount(), 2u);
    EXPECT_TRUE(recorder.Record(CZnString("NOSUCHVAR"))->periods.empty());
    EXPECT_TRUE(recorder.Record(CZnString("EMPTYVAR"))->periods.empty());
    recorder.Stop();
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(VariableRecorder, SomethingOtherThanADictionaryInTheRegistryIsRaised)
{
    odrxSysRegistry()->putAt(OdString("ODDB_SYSVARDICT"), OdDbSysVarDesc::createObject(OdString("X")).get());
    Started<CZnCIPVariableRecorderImpl> started;
    EXPECT_THROW(started.recorder.AddVariable(CZnString("X")), OdError_NotThatKindOfClass);
    EXPECT_EQ(started.recorder.WatchedCount(), 1u);
}

TEST_F(VariableRecorder, ChangesCountOnlyWhileRegisteredAndPerDatabaseValuesAreRead)
{
    OdDbDatabasePtr db = OdDbDatabase::createObject();
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1);
    Started<CZnCIPVariableRecorderImpl> started; // stopped at the end whatever fails
    CZnCIPVariableRecorderImpl& recorder = started.recorder;
    recorder.Stop();
    // Captured at once even while not registered.
    recorder.AddVariable(CZnString("LTSCALE"));
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 2);
    EXPECT_EQ(recorder.Record(CZnString("LTSCALE"))->periods.size(), 1u);

    recorder.Start();
    // The drawing's own value is read, not the application-wide 2: the same 1 as held adds nothing.
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 1, db.get());
    EXPECT_EQ(recorder.Record(CZnString("LTSCALE"))->periods.size(), 1u);
    CZnSystemVariables::SetInt(CZnString("LTSCALE"), 5, db.get());
    const CZnCIPVariableDataRecord* record = recorder.Record(CZnString("LTSCALE"));
    ASSERT_EQ(record->periods.size(), 2u);
    EXPECT_EQ(record->periods.back().value->getInt32(), 5);

    // No service at the stop: the variables are dropped without a report.
    withoutService([&] { recorder.Stop(); });
    EXPECT_EQ(recorder.WatchedCount(), 0u);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_FALSE(odedEditor()->hasReactor(&recorder));
}
