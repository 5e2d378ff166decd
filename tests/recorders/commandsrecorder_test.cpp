// The commands recorder, driven through the host editor's own dispatch.
#include "czncipcommandsrecorder.h"
#include "recorderfixture.h"

namespace
{
using Command = OdStaticRxObject<OdEdCommand>;

class CommandsRecorder : public RecorderFixture<CZnCIPCommandsRecorder>
{
protected:
    static void run(const char16_t* global, const char16_t* group)
    {
        Command command{OdString(global), OdString(group)};
        odedEditor()->fireCommandWillStart(&command, nullptr);
    }
};

TEST_F(CommandsRecorder, EveryStartIsOneEventWithTheGlobalAndGroupName)
{
    for (int i = 0; i < 5; ++i)
        run(u"LINE", u"GROUPA");
    run(u"CIRCLE", u"");
    run(u"Länge 100%", u"ÜBER");

    QStringList expected;
    for (int i = 0; i < 5; ++i)
        expected << event("Commands", "Execute", "LINE (GROUPA)");
    expected << event("Commands", "Execute", "CIRCLE ()");
    expected << event("Commands", "Execute", QString::fromUtf8("Länge 100% (ÜBER)"));
    EXPECT_EQ(journal, expected);
}

TEST_F(CommandsRecorder, UnknownNamesPassUnchangedAndNoCommandIsSupplied)
{
    const OdString names[] = {OdString(u"XYZ"), OdString(u"  line "), OdString(u""), OdString(u"命令")};
    QStringList expected;
    for (const OdString& name : names)
    {
        EXPECT_TRUE(odedEditor()->fireUnknownCommand(name, nullptr).isNull());
        expected << event("Unknown Commands", "Execute", CZnString(name).toQString());
    }
    EXPECT_EQ(journal, expected);
}

TEST_F(CommandsRecorder, NothingWhileStoppedOrWithoutServiceOrCipObjectAndNothingBreaks)
{
    const auto both = [this]
    {
        run(u"LINE", u"G");
        EXPECT_TRUE(odedEditor()->fireUnknownCommand(OdString(u"XYZ"), nullptr).isNull());
    };
    recorder.Stop();
    both();
    EXPECT_TRUE(journal.isEmpty());
    recorder.Start();
    run(u"MOVE", u"G");
    EXPECT_EQ(journal, event("Commands", "Execute", "MOVE (G)"));

    journal.clear();
    withdrawService();
    both();

    // The service is back but the CIP object is withdrawn: the recorder must not reach it.
    m_cip->SetService(new RecordingService(&journal));
    SetZnCIP(nullptr);
    both();
    // A host announcing no command at all.
    SetZnCIP(m_cip.get());
    odedEditor()->fireCommandWillStart(nullptr, nullptr);
    EXPECT_TRUE(journal.isEmpty());

    run(u"LINE", u"G");
    EXPECT_EQ(journal, event("Commands", "Execute", "LINE (G)"));
}
} // namespace
