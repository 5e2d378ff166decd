// Participation settings and the join question, against a real settings file in the test's folder.
// A "run" is a fresh core object over the profile read again from disk, as after a restart.
#include "czncipimpl.h"
#include "czndlgcip.h"
#include "cznsettings.h"
#include "cznsystemservices.h"
#include "cznvorinqtgate.h"
#include "hostfixture.h"
#include "modalanswerer.h"
#include "qtprinting.h"
#include "recordingrecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>

#include <optional>

namespace
{
const CZnString cip("cip");
const QString currentVersion = QStringLiteral("21.2.1");

// What the settings file holds for the three keys; absent keys are empty optionals.
struct Stored
{
    std::optional<int> control;
    std::optional<int> confirm;
    std::optional<QString> builds;

    bool operator==(const Stored& o) const
    {
        return control == o.control && confirm == o.confirm && builds == o.builds;
    }
};

void PrintTo(const Stored& s, std::ostream* os)
{
    auto num = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string("absent"); };
    *os << "{CIPCONTROL " << num(s.control) << ", CIPCONFIRM " << num(s.confirm) << ", CIPBUILDS "
        << (s.builds ? '"' + s.builds->toStdString() + '"' : std::string("absent")) << "}";
}

enum class Answer
{
    Join,
    Decline,
    Escape,
    CloseWindow
};

void answer(CZnDlgCIP& dialog, Answer a)
{
    switch (a)
    {
    case Answer::Join:
        ModalAnswerer::join(dialog);
        break;
    case Answer::Decline:
        ModalAnswerer::decline(dialog);
        break;
    case Answer::Escape:
        ModalAnswerer::escape(dialog);
        break;
    case Answer::CloseWindow:
        dialog.close();
        break;
    }
}

class Participation : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetVersionString(currentVersion);
        GetZnSystemServices()->SetMainWindow(&mainWindow);
        useProfile(path(QStringLiteral("profiles/Default")));
    }

    void useProfile(const QString& folder)
    {
        m_folder = folder;
        newRun();
    }
    // The host starts again: its profile's settings are read from disk anew.
    void newRun() { GetZnSystemServices()->SetProfile(QStringLiteral("Default"), m_folder); }
    QString settingsFile() const { return m_folder + QStringLiteral("/settings.ini"); }

    // Writes straight to the file, as another program (or an earlier version) would.
    void putInt(const char* key, std::optional<int> value)
    {
        if (!value)
            return;
        OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
        rb->setInt32(*value);
        CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
    }
    void putText(const char* key, std::optional<QString> value)
    {
        if (!value)
            return;
        OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtString);
        rb->setString(CZnString(*value).toOdString());
        CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
    }
    void put(const Stored& s)
    {
        putInt("CIPCONTROL", s.control);
        putInt("CIPCONFIRM", s.confirm);
        putText("CIPBUILDS", s.builds);
    }

    Stored onDisk() const
    {
        const CZnSettings file(settingsFile());
        // A stored key without a value shows up as a value no test expects.
        auto integer = [&](const char* key) -> std::optional<int>
        {
            if (!file.HasValue(cip, CZnString(key)))
                return std::nullopt;
            OdResBufPtr v = file.GetValue(cip, CZnString(key), 1);
            return v ? v->getInt32() : -999;
        };
        Stored s;
        s.control = integer("CIPCONTROL");
        s.confirm = integer("CIPCONFIRM");
        if (file.HasValue(cip, CZnString("CIPBUILDS")))
        {
            OdResBufPtr v = file.GetValue(cip, CZnString("CIPBUILDS"), 4);
            s.builds = v ? CZnString(v->getString()).toQString() : QStringLiteral("<no value>");
        }
        return s;
    }
    int typeOnDisk(const char* key) const
    {
        OdResBufPtr v = CZnSettings(settingsFile()).GetValue(cip, CZnString(key), 0);
        return v ? v->restype() : 0;
    }

    // Runs the join question once; returns how many dialogs were shown.
    int ask(CZnCIPImpl& core, Answer a = Answer::Decline)
    {
        ModalAnswerer answerer([a](CZnDlgCIP& dialog) { answer(dialog, a); });
        core.AskForJoiningCIP();
        EXPECT_FALSE(answerer.timedOut()) << "the dialog was not answered";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return answerer.answered();
    }
    // One complete run of the host: a new core object asks, if the question is due.
    int runAndAsk(Answer a = Answer::Decline)
    {
        newRun();
        CZnCIPImpl core;
        return ask(core, a);
    }

    QWidget mainWindow;
    QStringList journal;
    QString m_folder;
};

struct PolicyCase
{
    const char* what;
    Stored before;
    bool asked;
    Answer answer;
};
} // namespace

TEST_F(Participation, EachRowOfThePolicyAsksOrNot)
{
    const QString older = QStringLiteral(";21.1.0");
    const QString listed = QStringLiteral(";21.1.0;21.2.1");
    const QString longer = QStringLiteral(";21.2.10");
    const std::optional<int> none;
    const std::optional<QString> noBuilds;
    const PolicyCase cases[] = {
        {"first run, nothing stored", {none, none, noBuilds}, true, Answer::Join},
        {"declined, new version, question put", {0, 0, older}, true, Answer::Decline},
        {"never answered, odd flag, new version", {none, 5, older}, true, Answer::Escape},
        {"participation 2, new version, question put", {2, 0, older}, true, Answer::Join},
        {"declined, version listed, flag set", {0, 1, listed}, true, Answer::CloseWindow},
        {"declined, version listed, flag absent", {0, none, listed}, true, Answer::Decline},
        {"declined, version listed, question put", {0, 0, listed}, false, Answer::Join},
        {"participation absent, version listed, question put", {none, 0, listed}, false, Answer::Join},
        {"version inside a longer entry counts as listed", {0, 0, longer}, false, Answer::Join},
        {"participation 2, version listed, question put", {2, 0, listed}, false, Answer::Join},
        {"joined, new version, question put", {1, 0, older}, false, Answer::Decline},
        {"joined, version listed, question put", {1, 0, listed}, false, Answer::Decline},
        {"joined, version listed, flag absent", {1, none, listed}, true, Answer::Decline},
        {"joined, new version, flag set", {1, 3, older}, true, Answer::Join},
        {"joined, no version list, flag absent", {1, none, noBuilds}, true, Answer::Escape},
    };
    int n = 0;
    for (const PolicyCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        useProfile(path(QStringLiteral("policy/%1").arg(++n)));
        put(c.before);
        newRun();
        journal.clear();
        CZnCIPImpl core;
        RecordingRecorder recorder(QStringLiteral("r"), &journal);
        core.AddRecorder(&recorder);

        const QString expectedBuilds = c.before.builds.value_or(QString()) + ';' + currentVersion;
        bool checkedWhileOpen = false;
        ModalAnswerer answerer(
            [&](CZnDlgCIP& dialog)
            {
                // The question is recorded as put before the user answers.
                EXPECT_EQ(onDisk().confirm, 0);
                EXPECT_EQ(onDisk().builds, expectedBuilds);
                EXPECT_EQ(dialog.parentWidget(), &mainWindow);
                EXPECT_FALSE(dialog.ui.radioButton->isChecked());
                EXPECT_FALSE(dialog.ui.radioButton_2->isChecked());
                EXPECT_FALSE(dialog.ui.buttonBox->isEnabled());
                checkedWhileOpen = true;
                answer(dialog, c.answer);
            });
        core.AskForJoiningCIP();
        ASSERT_FALSE(answerer.timedOut());

        EXPECT_EQ(answerer.answered(), c.asked ? 1 : 0);
        EXPECT_EQ(checkedWhileOpen, c.asked);
        if (c.asked)
        {
            const int joined = c.answer == Answer::Join ? 1 : 0;
            EXPECT_EQ(onDisk(), (Stored{joined, 0, expectedBuilds}));
            EXPECT_EQ(core.IsEnabled(), joined == 1);
            // The answer takes effect at once: started on joining, stopped on declining.
            EXPECT_EQ(journal.join(','), joined ? QStringLiteral("r Start") : QStringLiteral("r Stop"));
        }
        else
        {
            EXPECT_EQ(onDisk(), c.before);
            EXPECT_EQ(journal.join(','), QString());
        }
        core.RemoveRecorder(&recorder);
    }
}

TEST_F(Participation, RunAfterRunTheQuestionComesBackOnlyWhenDue)
{
    EXPECT_EQ(runAndAsk(Answer::Decline), 1) << "first run";
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1")}));
    EXPECT_EQ(runAndAsk(Answer::Join), 0) << "same version, declined";

    GetZnSystemServices()->SetVersionString(QStringLiteral("21.3.0"));
    EXPECT_EQ(runAndAsk(Answer::Join), 1) << "new version, declined before";
    EXPECT_EQ(onDisk(), (Stored{1, 0, QStringLiteral(";21.2.1;21.3.0")}));

    GetZnSystemServices()->SetVersionString(QStringLiteral("21.4.0"));
    EXPECT_EQ(runAndAsk(Answer::Decline), 0) << "new version, joined";
    EXPECT_EQ(onDisk(), (Stored{1, 0, QStringLiteral(";21.2.1;21.3.0")}));

    putInt("CIPCONFIRM", 1);
    EXPECT_EQ(runAndAsk(Answer::Decline), 1) << "joined, but the flag was set again";
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1;21.3.0;21.4.0")}));
    EXPECT_EQ(runAndAsk(Answer::Join), 0);
}

TEST_F(Participation, TheHostCanHoldTheQuestionBack)
{
    GetZnVORINQTGate()->SetDialogSuppressed(true);
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_FALSE(QFileInfo::exists(settingsFile())) << "nothing is written";
    GetZnVORINQTGate()->SetDialogSuppressed(false);

    GetZnSystemServices()->SetCanAskUser(false);
    putInt("CIPCONTROL", 0);
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_EQ(onDisk(), (Stored{0, std::nullopt, std::nullopt})) << "nothing is written";

    GetZnSystemServices()->SetCanAskUser(true);
    EXPECT_EQ(runAndAsk(Answer::Join), 1) << "the question stayed due";
    EXPECT_EQ(onDisk(), (Stored{1, 0, QStringLiteral(";21.2.1")}));
}

TEST_F(Participation, WithoutAProfileTheQuestionIsAskedButNothingIsKept)
{
    putInt("CIPCONTROL", 1);
    GetZnSystemServices()->ClearProfile();
    CZnCIPImpl core;
    EXPECT_EQ(core.GetCIPControl(), 0u);
    EXPECT_EQ(core.GetCIPConfirm(), 0u) << "0, not the usual default 1";
    RecordingRecorder recorder(QStringLiteral("r"), &journal);
    core.AddRecorder(&recorder);

    EXPECT_EQ(ask(core, Answer::Join), 1);
    EXPECT_FALSE(core.IsEnabled());
    EXPECT_FALSE(core.IsRunning());
    EXPECT_TRUE(journal.isEmpty()) << "recorders are not started";
    EXPECT_EQ(core.GetCIPConfirm(), 0u);
    EXPECT_EQ(ask(core, Answer::Join), 1) << "nothing remembers that it was asked";

    // With an empty version text every list "contains" it: the question then depends on the flag,
    // which reads as 0 without a profile.
    GetZnSystemServices()->SetVersionString(CZnString());
    EXPECT_EQ(ask(core, Answer::Join), 0);
    core.RemoveRecorder(&recorder);

    newRun();
    EXPECT_EQ(onDisk(), (Stored{1, std::nullopt, std::nullopt}));
    EXPECT_EQ(core.GetCIPControl(), 1u) << "the no-profile reads and writes were not cached";
    EXPECT_EQ(core.GetCIPConfirm(), 1u);
}

TEST_F(Participation, SetEnabledStartsOnceAndStopsAlways)
{
    newRun();
    CZnCIPImpl core;
    RecordingRecorder a(QStringLiteral("a"), &journal), b(QStringLiteral("b"), &journal),
        c(QStringLiteral("c"), &journal);
    core.AddRecorder(&a);
    core.AddRecorder(&b);
    core.AddRecorder(&c);
    EXPECT_TRUE(journal.isEmpty());

    core.SetEnabled(false);
    EXPECT_EQ(journal.join(','), QStringLiteral("a Stop,b Stop,c Stop")) << "stops even while not running";
    EXPECT_EQ(onDisk().control, 0);
    journal.clear();

    core.SetEnabled(true);
    core.SetEnabled(true);
    EXPECT_EQ(journal.join(','), QStringLiteral("a Start,b Start,c Start"));
    EXPECT_TRUE(core.IsRunning());
    EXPECT_TRUE(core.IsEnabled());
    EXPECT_EQ(onDisk().control, 1);
    journal.clear();

    core.SetEnabled(false);
    EXPECT_EQ(journal.join(','), QStringLiteral("a Stop,b Stop,c Stop"));
    EXPECT_FALSE(core.IsRunning());
    journal.clear();

    GetZnSystemServices()->ClearProfile();
    core.SetEnabled(true);
    EXPECT_TRUE(journal.isEmpty()) << "without a profile nothing starts";
    EXPECT_FALSE(core.IsRunning());
    for (CZnCIPRecorder* r : {&a, &b, &c})
        core.RemoveRecorder(r);

    // At load any value but 0 starts the recorders, though only 1 counts as participating.
    putInt("CIPCONTROL", 2);
    newRun();
    CZnCIPImpl loaded;
    loaded.AddRecorder(&a);
    loaded.StartRecordersIfEnabled();
    loaded.StartRecordersIfEnabled();
    EXPECT_EQ(journal.join(','), QStringLiteral("a Start"));
    EXPECT_FALSE(loaded.IsEnabled());
    loaded.RemoveRecorder(&a);
}

TEST_F(Participation, CachedValuesDoNotSeeOutsideWritesUntilTheNextRun)
{
    putInt("CIPCONTROL", 1);
    newRun();
    CZnCIPImpl core;
    EXPECT_TRUE(core.IsEnabled());
    // Another part of the host changes the setting in the same store.
    OdResBufPtr zero = OdResBuf::newRb(OdResBuf::kRtInt32);
    zero->setInt32(0);
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(cip, CZnString("CIPCONTROL"), zero);
    EXPECT_TRUE(core.IsEnabled());
    EXPECT_EQ(core.GetCIPControl(), 1u);

    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "absent reads as 1";
    putInt("CIPCONFIRM", 0);
    newRun();
    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "cached";
    core.SetCIPConfirm(0);
    core.SetCIPConfirm(7);
    EXPECT_EQ(core.GetCIPConfirm(), 7u) << "own writes update the cache";
    EXPECT_EQ(onDisk().confirm, 7);

    // The version list is read anew every time.
    core.SetCIPBuilds(CZnString(";a"));
    putText("CIPBUILDS", QStringLiteral(";b"));
    newRun();
    EXPECT_EQ(core.GetCIPBuilds().toQString(), QStringLiteral(";b"));

    CZnCIPImpl nextRun;
    EXPECT_FALSE(nextRun.IsEnabled());
    EXPECT_EQ(nextRun.GetCIPConfirm(), 7u);
}

TEST_F(Participation, ValuesOfTheWrongTypeCountAsZeroUntilTheNextAnswer)
{
    // Participation kept as text: not participating, so a new version brings the question.
    putText("CIPCONTROL", QStringLiteral("1"));
    putInt("CIPCONFIRM", 0);
    putText("CIPBUILDS", QStringLiteral(";21.2.1"));
    newRun();
    {
        CZnCIPImpl core;
        RecordingRecorder a(QStringLiteral("a"), &journal);
        core.AddRecorder(&a);
        core.StartRecordersIfEnabled();
        EXPECT_FALSE(core.IsEnabled());
        EXPECT_TRUE(journal.isEmpty());
        EXPECT_EQ(ask(core), 0) << "version listed, question put";
        core.RemoveRecorder(&a);
    }
    EXPECT_EQ(typeOnDisk("CIPCONTROL"), OdResBuf::kRtString) << "left alone while not asked";

    GetZnSystemServices()->SetVersionString(QStringLiteral("21.3.0"));
    EXPECT_EQ(runAndAsk(Answer::Join), 1);
    EXPECT_EQ(typeOnDisk("CIPCONTROL"), OdResBuf::kRtInt32);
    EXPECT_EQ(onDisk().control, 1);

    // A version list kept as a number reads as empty: the version is new again.
    useProfile(path(QStringLiteral("numberlist")));
    putInt("CIPCONTROL", 0);
    putInt("CIPCONFIRM", 0);
    putInt("CIPBUILDS", 5);
    EXPECT_EQ(runAndAsk(Answer::Decline), 1);
    EXPECT_EQ(typeOnDisk("CIPBUILDS"), OdResBuf::kRtString);
    EXPECT_EQ(onDisk().builds, QStringLiteral(";21.3.0"));
    EXPECT_EQ(runAndAsk(Answer::Decline), 0);

    // A flag kept as text reads as 0: a participant is not asked.
    useProfile(path(QStringLiteral("textflag")));
    putInt("CIPCONTROL", 1);
    putText("CIPCONFIRM", QStringLiteral("1"));
    EXPECT_EQ(runAndAsk(), 0);
}

TEST_F(Participation, ACorruptFileStillTakesTheAnswerAndKeepsItsOtherLines)
{
    static const char text[] = "[host]\n"
                               "Theme=5005:dark\n"
                               "\x80\x81\x00 binary \xff\n"
                               "[cip]\n"
                               "CIPCONTROL=5010:\n"
                               "CIPCONFIRM=50\n"
                               "CIPBUILDS;21.2.1\n"
                               "[cip\n";
    const QByteArray corrupt(text, sizeof(text) - 1);
    QDir().mkpath(m_folder);
    {
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(corrupt);
    }
    EXPECT_EQ(runAndAsk(Answer::Decline), 1);
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1")}));
    EXPECT_EQ(runAndAsk(Answer::Decline), 0) << "the answer was kept";
    EXPECT_EQ(runAndAsk(Answer::Decline), 0);

    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    for (const QByteArray& line : corrupt.split('\n'))
        EXPECT_TRUE(after.contains(line + '\n')) << line.toHex().constData();
}

TEST_F(Participation, AFileCutAnywhereAsksAtMostOnce)
{
    EXPECT_EQ(runAndAsk(Answer::Decline), 1);
    putText("Z_LAST", QStringLiteral("after the cip keys"));
    QFile whole(settingsFile());
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray complete = whole.readAll();
    whole.close();
    ASSERT_GT(complete.size(), 60);

    for (int cut = 0; cut <= complete.size(); ++cut)
    {
        SCOPED_TRACE(cut);
        const QByteArray head = complete.left(cut);
        {
            QFile file(settingsFile());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(head);
        }
        EXPECT_LE(runAndAsk(Answer::Decline), 1);
        // Whatever survived the cut, the user now counts as not participating and as asked.
        EXPECT_EQ(onDisk().control.value_or(0), 0);
        EXPECT_EQ(onDisk().confirm, 0);
        EXPECT_EQ(runAndAsk(Answer::Decline), 0) << "asked again: the answer was not kept";

        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray after = file.readAll();
        const QByteArray partial = head.mid(head.lastIndexOf('\n') + 1);
        EXPECT_TRUE(after.contains(partial)) << "the cut line is kept: " << partial.constData();
    }
}

TEST_F(Participation, SettingsThatCannotBeKeptBringNoQuestion)
{
    // The settings file cannot be read: the host will not ask a question whose answer is lost.
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    CZnCIPImpl core;
    RecordingRecorder a(QStringLiteral("a"), &journal);
    core.AddRecorder(&a);
    newRun();
    core.StartRecordersIfEnabled();
    EXPECT_EQ(ask(core), 0);
    EXPECT_FALSE(core.IsEnabled());
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_TRUE(QFileInfo(settingsFile()).isDir()) << "left as found";
    core.RemoveRecorder(&a);

    // The profile folder cannot be created.
    QFile plain(path(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    useProfile(path(QStringLiteral("plain/profile")));
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_EQ(runAndAsk(), 0);
}

TEST_F(Participation, TheMainWindowClosingUnderTheQuestionCountsAsARefusal)
{
    // A participant whose question flag was set again is asked.
    putInt("CIPCONTROL", 1);
    putInt("CIPCONFIRM", 1);
    auto* window = new QWidget;
    GetZnSystemServices()->SetMainWindow(window);
    newRun();
    CZnCIPImpl core;
    RecordingRecorder a(QStringLiteral("a"), &journal);
    core.AddRecorder(&a);
    core.StartRecordersIfEnabled();
    journal.clear();

    // The host tears its main window down while the question is open; the dialog goes with it.
    ModalAnswerer answerer(
        [window](CZnDlgCIP& dialog)
        {
            ModalAnswerer::click(dialog.ui.radioButton);
            delete window;
        });
    core.AskForJoiningCIP();
    EXPECT_EQ(answerer.answered(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(core.IsEnabled());
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1")}));
    EXPECT_EQ(journal.join(','), QStringLiteral("a Stop"));
    core.RemoveRecorder(&a);
}
