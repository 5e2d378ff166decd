// The core object and the module object, linked in process.
#include "czncipcommandsrecorder.h"
#include "czncipimpl.h"
#include "czncipmodule.h"
#include "czncipsessionrecorder.h"
#include "czncipsystemrecorder.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "odeditor.h"
#include "recording.h"

#include <QMetaMethod>
#include <QThread>

#include <typeinfo>

namespace
{
void setControl(int value)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(value);
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"), CZnString("CIPCONTROL"),
                                                                 rb);
}

// Counts the queued slot calls posted to an object, which is how a zero-delay single shot arrives.
class QueuedCallCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

// The module object as the SDK wraps it, on the stack; deleteModule is not called.
class ModuleObject : public OdRxWin32Module<CZnCIPModule>
{
public:
    ModuleObject() : OdRxWin32Module<CZnCIPModule>(nullptr, &m_slot) {}

private:
    OdRxModule* m_slot = nullptr;
};

class CipCore : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        // The join question must not block these tests; its own tests live with the dialog.
        GetZnSystemServices()->SetCanAskUser(false);
    }
    QStringList journal;
};
} // namespace

TEST_F(CipCore, AnswersItsQtInterfacesByName)
{
    CZnCIPImpl cip;
    EXPECT_EQ(cip.qt_metacast("CZnCIPImpl"), static_cast<void*>(&cip));
    EXPECT_EQ(cip.qt_metacast("CZnCIP"), static_cast<void*>(static_cast<CZnCIP*>(&cip)));
    EXPECT_EQ(cip.qt_metacast("OdStaticRxObject<CZnEditorReactor>"),
              static_cast<void*>(static_cast<OdStaticRxObject<CZnEditorReactor>*>(&cip)));
    EXPECT_EQ(cip.qt_metacast("OdStaticRxObject<CZnDocumentManagerReactor>"),
              static_cast<void*>(static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(&cip)));
    const QMetaObject* meta = cip.metaObject();
    EXPECT_STREQ(meta->className(), "CZnCIPImpl");
    EXPECT_EQ(meta->methodCount() - meta->methodOffset(), 1);
    EXPECT_EQ(meta->method(meta->methodOffset()).methodSignature(), QByteArray("AskForJoiningCIP()"));
    EXPECT_EQ(meta->method(meta->methodOffset()).methodType(), QMetaMethod::Slot);
}

TEST_F(CipCore, TimerEntriesAreCreatedOnceAndKeepRunning)
{
    CZnCIPImpl cip;
    TimerEntry& first = cip.GetTimer(42);
    const QString id = first.id.toQString();
    EXPECT_EQ(id.size(), 38);
    EXPECT_TRUE(id.startsWith('{') && id.endsWith('}'));
    EXPECT_TRUE(first.timer.isValid());
    const qint64 before = first.timer.nsecsElapsed();
    QThread::msleep(2);
    TimerEntry& again = cip.GetTimer(42);
    EXPECT_EQ(&again, &first);
    EXPECT_EQ(again.id.toQString(), id);
    EXPECT_GT(again.timer.nsecsElapsed(), before);
    EXPECT_NE(cip.GetTimer(43).id.toQString(), id);
    // Keys are unsigned: the largest key is a key like any other.
    EXPECT_NE(&cip.GetTimer(~quint64(0)), &first);

    // A document whose pointer value was already a key keeps the older entry.
    auto* document = reinterpret_cast<CZnDocument*>(quintptr(42));
    cip.DocumentCreated(document);
    EXPECT_EQ(cip.GetTimer(42).id.toQString(), id);
}

TEST_F(CipCore, RecorderListKeepsOrderAndStartsWhileRunning)
{
    CZnCIPImpl cip;
    RecordingRecorder a(QStringLiteral("a"), &journal), b(QStringLiteral("b"), &journal);
    cip.AddRecorder(&a);
    cip.AddRecorder(&b);
    cip.RemoveRecorder(reinterpret_cast<CZnCIPRecorder*>(&journal)); // not in the list: nothing
    EXPECT_TRUE(journal.isEmpty());

    setControl(1);
    cip.StartRecordersIfEnabled();
    EXPECT_EQ(journal, (QStringList{"a Start", "b Start"}));
    cip.StartRecordersIfEnabled();
    EXPECT_EQ(journal.size(), 2);

    // Adding a present recorder while running stops it, moves it to the end and starts it again.
    journal.clear();
    cip.AddRecorder(&a);
    EXPECT_EQ(journal, (QStringList{"a Stop", "a Start"}));
    EXPECT_EQ(cip.Recorders(), (std::vector<CZnCIPRecorder*>{&b, &a}));

    journal.clear();
    cip.RemoveRecorder(&b);
    EXPECT_EQ(journal, QStringList{"b Stop"});
    cip.StopRecorders();
    EXPECT_EQ(journal, (QStringList{"b Stop", "a Stop"}));
    EXPECT_FALSE(cip.IsRunning());

    journal.clear();
    cip.RemoveRecorder(&a); // not running: removed without a Stop
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_TRUE(cip.Recorders().empty());
}

TEST_F(CipCore, SessionCallsReachTheServiceOfTheMoment)
{
    CZnCIPImpl cip;
    delete cip.GetService();
    QStringList calls;
    cip.SetService(new RecordingService(&calls));
    cip.StartSession();
    cip.StopSession(2, "/tmp/crash");
    cip.StopSession(0, nullptr);
    cip.EndSession();
    EXPECT_EQ(calls,
              (QStringList{"StartSession", "StopSession 2|/tmp/crash", "StopSession 0|null", "EndSession"}));
    EXPECT_EQ(cip.GetClientId().toQString(), QStringLiteral("recording-client"));

    // Without a service the calls go nowhere and the last identifier stays.
    CZnCIPService* service = cip.GetService();
    cip.SetService(nullptr);
    delete service;
    cip.StartSession();
    cip.StopSession(1, nullptr);
    cip.EndSession();
    EXPECT_EQ(calls.size(), 4);
    EXPECT_EQ(cip.GetClientId().toQString(), QStringLiteral("recording-client"));
}

TEST_F(CipCore, JoinQuestionIsScheduledOncePerMainWindowAfterADocument)
{
    CZnCIPImpl cip;
    QueuedCallCounter counter;
    cip.installEventFilter(&counter);
    auto* d1 = reinterpret_cast<CZnDocument*>(quintptr(1));
    auto* d2 = reinterpret_cast<CZnDocument*>(quintptr(2));

    cip.DocumentCreated(d1); // before any main window: nothing
    processEvents();
    EXPECT_EQ(counter.count, 0);

    cip.mainFrameCreated(nullptr);
    processEvents();
    EXPECT_EQ(counter.count, 0); // a main window alone does not ask

    cip.DocumentCreated(d2);
    EXPECT_EQ(counter.count, 0); // asked from the event loop, not inside the notification
    processEvents();
    EXPECT_EQ(counter.count, 1);
    cip.DocumentCreated(d1);
    processEvents();
    EXPECT_EQ(counter.count, 1);

    cip.mainFrameCreated(nullptr);
    cip.DocumentCreated(d2);
    processEvents();
    EXPECT_EQ(counter.count, 2);
}

TEST_F(CipCore, ModuleCreatesItsRecordersInOrderAndDestroysThemAtShutdown)
{
    setControl(1);
    ModuleObject module;
    module.initApp();
    const auto& recorders = module.cip().Recorders();
    ASSERT_EQ(recorders.size(), 3u);
    EXPECT_EQ(typeid(*recorders[0]), typeid(CZnCIPCommandsRecorder));
    EXPECT_EQ(typeid(*recorders[1]), typeid(CZnCIPSystemRecorder));
    EXPECT_EQ(typeid(*recorders[2]), typeid(CZnCIPSessionRecorder));

    // Registered with the editor in start order, after the core object's own reactor.
    const auto& reactors = odedEditor()->reactors();
    ASSERT_EQ(reactors.size(), 4u);
    EXPECT_EQ(reactors[0], static_cast<OdRxEventReactor*>(
                               static_cast<OdStaticRxObject<CZnEditorReactor>*>(&module.cip())));
    EXPECT_EQ(typeid(*reactors[1]), typeid(CZnCIPCommandsRecorder));
    EXPECT_EQ(typeid(*reactors[2]), typeid(CZnCIPSystemRecorder));
    EXPECT_EQ(typeid(*reactors[3]), typeid(CZnCIPSessionRecorder));
    EXPECT_TRUE(module.cip().IsRunning());

    RecordingRecorder foreign(QStringLiteral("foreign"), &journal);
    module.cip().AddRecorder(&foreign);
    module.uninitApp();
    EXPECT_EQ(module.cip().Recorders(), std::vector<CZnCIPRecorder*>{&foreign});
    EXPECT_EQ(journal, (QStringList{"foreign Start", "foreign Stop"}));
    EXPECT_FALSE(module.cip().IsRunning());
    EXPECT_TRUE(odedEditor()->reactors().empty());
    module.cip().RemoveRecorder(&foreign);
}

TEST_F(CipCore, ParticipationOffAtStartCreatesButDoesNotStartRecorders)
{
    ModuleObject module;
    module.initApp(); // CIPCONTROL absent
    EXPECT_EQ(module.cip().Recorders().size(), 3u);
    EXPECT_FALSE(module.cip().IsRunning());
    EXPECT_EQ(odedEditor()->reactors().size(), 1u);
    module.uninitApp();
}

TEST_F(CipCore, AllocationFailureLeavesInitApp)
{
    setControl(1);
    ModuleObject module;
    odrxFailAllocationAfter(2); // the second recorder
    EXPECT_THROW(module.initApp(), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(module.cip().Recorders().size(), 1u);
    module.uninitApp(); // what was created is still taken down
    EXPECT_TRUE(module.cip().Recorders().empty());
    EXPECT_TRUE(odedEditor()->reactors().empty());
}
