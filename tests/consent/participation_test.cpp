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
#include "recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>

#include <optional>

namespace
{
const CZnString cip("cip");
const QString currentVersion = QStringLiteral("21.2.1");
const std::optional<int> none;
using Answer = void (*)(CZnDlgCIP&);
const Answer join = ModalAnswerer::join, decline = ModalAnswerer::decline, escape = ModalAnswerer::escape;
void closeWindow(CZnDlgCIP& d)
{
    d.close();
}

// What the settings file holds for the three keys; absent keys are empty optionals.
struct Stored
{
    std::optional<int> control, confirm;
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

class Participation : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetVersionString(currentVersion);
        GetZnSystemServices()->SetMainWindow(&mainWindow);
        useProfile(QStringLiteral("profiles/Default"));
    }

    void useProfile(const QString& folder)
    {
        m_folder = path(folder);
        newRun();
    }
    // The host starts again: its profile's settings are read from disk anew.
    void newRun() { GetZnSystemServices()->SetProfile(QStringLiteral("Default"), m_folder); }
    QString settingsFile() const { return m_folder + QStringLiteral("/settings.ini"); }

    // Writes straight to the file, as another program (or an earlier version) would; an int or a text.
    void put(const char* key, const QVariant& value)
    {
        if (!value.isValid())
            return;
        const bool text = value.type() == QVariant::String;
        OdResBufPtr rb = OdResBuf::newRb(text ? OdResBuf::kRtString : OdResBuf::kRtInt32);
        if (text)
            rb->setString(CZnString(value.toString()).toOdString());
        else
            rb->setInt32(value.toInt());
        CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
    }
    void put(const Stored& s)
    {
        put("CIPCONTROL", s.control ? QVariant(*s.control) : QVariant());
        put("CIPCONFIRM", s.confirm ? QVariant(*s.confirm) : QVariant());
        put("CIPBUILDS", s.builds ? QVariant(*s.builds) : QVariant());
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
        Stored s{integer("CIPCONTROL"), integer("CIPCONFIRM"), std::nullopt};
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
    QByteArray fileBytes() const
    {
        QFile file(settingsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes)
    {
        QDir().mkpath(m_folder);
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // Runs the join question once; returns how many dialogs were shown.
    int ask(CZnCIPImpl& core, Answer a = decline)
    {
        ModalAnswerer answerer(a);
        core.AskForJoiningCIP();
        EXPECT_FALSE(answerer.timedOut()) << "the dialog was not answered";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return answerer.answered();
    }
    // One complete run of the host: a new core object asks, if the question is due.
    int runAndAsk(Answer a = decline)
    {
        newRun();
        CZnCIPImpl core;
        return ask(core, a);
    }
    // A core object of a new run with a recorder "a" attached (removed again by the caller's scope).
    struct Watched
    {
        explicit Watched(QStringList* journal) : recorder(QStringLiteral("a"), journal)
        {
            core.AddRecorder(&recorder);
        }
        ~Watched() { core.RemoveRecorder(&recorder); }
        CZnCIPImpl core;
        RecordingRecorder recorder;
    };

    QWidget mainWindow;
    QStringList journal;
    QString m_folder;
};
} // namespace

TEST_F(Participation, EachRowOfThePolicyAsksOrNot)
{
    const QString older = QStringLiteral(";21.1.0"), listed = QStringLiteral(";21.1.0;21.2.1");
    const std::optional<QString> noBuilds;
    const struct
    {
        const char* what;
        Stored before;
        bool asked;
        Answer answer;
    } cases[] = {
        {"first run, nothing stored", {none, none, noBuilds}, true, join},
        {"declined, new version, question put", {0, 0, older}, true, decline},
        {"never answered, odd flag, new version", {none, 5, older}, true, escape},
        {"participation 2, new version, question put", {2, 0, older}, true, join},
        {"declined, version listed, flag set", {0, 1, listed}, true, closeWindow},
        {"declined, version listed, flag absent", {0, none, listed}, true, decline},
        {"declined, version listed, question put", {0, 0, listed}, false, join},
        {"participation absent, version listed, question put", {none, 0, listed}, false, join},
        {"version inside a longer entry counts as listed", {0, 0, QStringLiteral(";21.2.10")}, false, join},
        {"participation 2, version listed, question put", {2, 0, listed}, false, join},
        {"joined, new version, question put", {1, 0, older}, false, decline},
        {"joined, version listed, question put", {1, 0, listed}, false, decline},
        {"joined, version listed, flag absent", {1, none, listed}, true, decline},
        {"joined, new version, flag set", {1, 3, older}, true, join},
        {"joined, no version list, flag absent", {1, none, noBuilds}, true, escape},
    };
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        useProfile(QStringLiteral("policy/%1").arg(++n));
        put(c.before);
        newRun();
        journal.clear();
        Watched run(&journal);

        const QString expectedBuilds = c.before.builds.value_or(QString()) + ';' + currentVersion;
        const bool joined = c.answer == join;
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
                c.answer(dialog);
            });
        run.core.AskForJoiningCIP();
        ASSERT_FALSE(answerer.timedOut());
        EXPECT_EQ(answerer.answered(), c.asked ? 1 : 0);
        if (c.asked)
        {
            EXPECT_EQ(onDisk(), (Stored{joined ? 1 : 0, 0, expectedBuilds}));
            EXPECT_EQ(run.core.IsEnabled(), joined);
            // The answer takes effect at once: started on joining, stopped on declining.
            EXPECT_EQ(journal.join(','), joined ? QStringLiteral("a Start") : QStringLiteral("a Stop"));
        }
        else
        {
            EXPECT_EQ(onDisk(), c.before);
            EXPECT_EQ(journal.join(','), QString());
        }
    }
}

TEST_F(Participation, TheHostCanHoldTheQuestionBack)
{
    GetZnVORINQTGate()->SetDialogSuppressed(true);
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_FALSE(QFileInfo::exists(settingsFile())) << "nothing is written";
    GetZnVORINQTGate()->SetDialogSuppressed(false);

    GetZnSystemServices()->SetCanAskUser(false);
    put("CIPCONTROL", 0);
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_EQ(onDisk(), (Stored{0, none, std::nullopt})) << "nothing is written";

    GetZnSystemServices()->SetCanAskUser(true);
    EXPECT_EQ(runAndAsk(join), 1) << "the question stayed due";
    EXPECT_EQ(onDisk(), (Stored{1, 0, QStringLiteral(";21.2.1")}));
}

TEST_F(Participation, WithoutAProfileTheQuestionIsAskedButNothingIsKept)
{
    put("CIPCONTROL", 1);
    GetZnSystemServices()->ClearProfile();
    {
        Watched run(&journal);
        CZnCIPImpl& core = run.core;
        EXPECT_EQ(core.GetCIPControl(), 0u);
        EXPECT_EQ(core.GetCIPConfirm(), 0u) << "0, not the usual default 1";
        EXPECT_EQ(ask(core, join), 1);
        EXPECT_FALSE(core.IsEnabled());
        EXPECT_FALSE(core.IsRunning());
        EXPECT_TRUE(journal.isEmpty()) << "recorders are not started";
        EXPECT_EQ(core.GetCIPConfirm(), 0u);
        EXPECT_EQ(ask(core, join), 1) << "nothing remembers that it was asked";
        // With an empty version text every list "contains" it: the question then depends on the flag,
        // which reads as 0 without a profile.
        GetZnSystemServices()->SetVersionString(CZnString());
        EXPECT_EQ(ask(core, join), 0);

        newRun();
        EXPECT_EQ(onDisk(), (Stored{1, none, std::nullopt}));
        EXPECT_EQ(core.GetCIPControl(), 1u) << "the no-profile reads and writes were not cached";
        EXPECT_EQ(core.GetCIPConfirm(), 1u);
    }
}

TEST_F(Participation, SetEnabledStartsOnceAndStopsAlways)
{
    CZnCIPImpl core;
    RecordingRecorder a(QStringLiteral("a"), &journal), b(QStringLiteral("b"), &journal),
        c(QStringLiteral("c"), &journal);
    for (CZnCIPRecorder* r : {&a, &b, &c})
        core.AddRecorder(r);
    EXPECT_TRUE(journal.isEmpty());
    auto step = [&](bool enable, int times = 1)
    {
        journal.clear();
        for (int i = 0; i < times; ++i)
            core.SetEnabled(enable);
        return journal.join(',');
    };
    EXPECT_EQ(step(false), QStringLiteral("a Stop,b Stop,c Stop")) << "stops even while not running";
    EXPECT_EQ(onDisk().control, 0);
    EXPECT_EQ(step(true, 2), QStringLiteral("a Start,b Start,c Start"));
    EXPECT_TRUE(core.IsRunning());
    EXPECT_TRUE(core.IsEnabled());
    EXPECT_EQ(onDisk().control, 1);
    EXPECT_EQ(step(false), QStringLiteral("a Stop,b Stop,c Stop"));
    EXPECT_FALSE(core.IsRunning());

    GetZnSystemServices()->ClearProfile();
    EXPECT_EQ(step(true), QString()) << "without a profile nothing starts";
    EXPECT_FALSE(core.IsRunning());
    for (CZnCIPRecorder* r : {&a, &b, &c})
        core.RemoveRecorder(r);

    // At load any value but 0 starts the recorders, though only 1 counts as participating.
    put("CIPCONTROL", 2);
    newRun();
    journal.clear();
    Watched loaded(&journal);
    loaded.core.StartRecordersIfEnabled();
    loaded.core.StartRecordersIfEnabled();
    EXPECT_EQ(journal.join(','), QStringLiteral("a Start"));
    EXPECT_FALSE(loaded.core.IsEnabled());
}

TEST_F(Participation, CachedValuesDoNotSeeOutsideWritesUntilTheNextRun)
{
    put("CIPCONTROL", 1);
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
    put("CIPCONFIRM", 0);
    newRun();
    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "cached";
    core.SetCIPConfirm(0);
    core.SetCIPConfirm(7);
    EXPECT_EQ(core.GetCIPConfirm(), 7u) << "own writes update the cache";
    EXPECT_EQ(onDisk().confirm, 7);

    // The version list is read anew every time.
    core.SetCIPBuilds(CZnString(";a"));
    put("CIPBUILDS", QStringLiteral(";b"));
    newRun();
    EXPECT_EQ(core.GetCIPBuilds().toQString(), QStringLiteral(";b"));

    CZnCIPImpl nextRun;
    EXPECT_FALSE(nextRun.IsEnabled());
    EXPECT_EQ(nextRun.GetCIPConfirm(), 7u);
}

TEST_F(Participation, ValuesOfTheWrongTypeCountAsZeroUntilTheNextAnswer)
{
    // Participation kept as text: not participating, so a new version brings the question.
    put({std::nullopt, 0, QStringLiteral(";21.2.1")});
    put("CIPCONTROL", QStringLiteral("1"));
    newRun();
    {
        Watched run(&journal);
        run.core.StartRecordersIfEnabled();
        EXPECT_FALSE(run.core.IsEnabled());
        EXPECT_TRUE(journal.isEmpty());
        EXPECT_EQ(ask(run.core), 0) << "version listed, question put";
    }
    EXPECT_EQ(typeOnDisk("CIPCONTROL"), OdResBuf::kRtString) << "left alone while not asked";
    GetZnSystemServices()->SetVersionString(QStringLiteral("21.3.0"));
    EXPECT_EQ(runAndAsk(join), 1);
    EXPECT_EQ(typeOnDisk("CIPCONTROL"), OdResBuf::kRtInt32);
    EXPECT_EQ(onDisk().control, 1);

    // A version list kept as a number reads as empty: the version is new again.
    useProfile(QStringLiteral("numberlist"));
    put({0, 0, std::nullopt});
    put("CIPBUILDS", 5);
    EXPECT_EQ(runAndAsk(decline), 1);
    EXPECT_EQ(typeOnDisk("CIPBUILDS"), OdResBuf::kRtString);
    EXPECT_EQ(onDisk().builds, QStringLiteral(";21.3.0"));
    EXPECT_EQ(runAndAsk(decline), 0);

    // A flag kept as text reads as 0: a participant is not asked.
    useProfile(QStringLiteral("textflag"));
    put("CIPCONTROL", 1);
    put("CIPCONFIRM", QStringLiteral("1"));
    EXPECT_EQ(runAndAsk(), 0);
}

TEST_F(Participation, ACorruptOrCutFileStillTakesTheAnswerAndKeepsItsOtherLines)
{
    static const char text[] = "[host]\nTheme=5005:dark\n\x80\x81\x00 binary \xff\n[cip]\n"
                               "CIPCONTROL=5010:\nCIPCONFIRM=50\nCIPBUILDS;21.2.1\n[cip\n";
    const QByteArray corrupt(text, sizeof(text) - 1);
    writeFile(corrupt);
    EXPECT_EQ(runAndAsk(decline), 1);
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1")}));
    EXPECT_EQ(runAndAsk(decline), 0) << "the answer was kept";
    EXPECT_EQ(runAndAsk(decline), 0);
    const QByteArray after = fileBytes();
    for (const QByteArray& line : corrupt.split('\n'))
        EXPECT_TRUE(after.contains(line + '\n')) << line.toHex().constData();

    // A good file cut anywhere asks at most once.
    useProfile(QStringLiteral("cut"));
    EXPECT_EQ(runAndAsk(decline), 1);
    put("Z_LAST", QStringLiteral("after the cip keys"));
    const QByteArray complete = fileBytes();
    ASSERT_GT(complete.size(), 60);
    for (int cut = 0; cut <= complete.size(); ++cut)
    {
        SCOPED_TRACE(cut);
        const QByteArray head = complete.left(cut);
        writeFile(head);
        EXPECT_LE(runAndAsk(decline), 1);
        // Whatever survived the cut, the user now counts as not participating and as asked.
        EXPECT_EQ(onDisk().control.value_or(0), 0);
        EXPECT_EQ(onDisk().confirm, 0);
        EXPECT_EQ(runAndAsk(decline), 0) << "asked again: the answer was not kept";
        const QByteArray partial = head.mid(head.lastIndexOf('\n') + 1);
        EXPECT_TRUE(fileBytes().contains(partial)) << "the cut line is kept: " << partial.constData();
    }
}

TEST_F(Participation, SettingsThatCannotBeKeptBringNoQuestion)
{
    // The settings file cannot be read: the host will not ask a question whose answer is lost.
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    newRun();
    {
        Watched run(&journal);
        run.core.StartRecordersIfEnabled();
        EXPECT_EQ(ask(run.core), 0);
        EXPECT_FALSE(run.core.IsEnabled());
        EXPECT_TRUE(journal.isEmpty());
    }
    EXPECT_TRUE(QFileInfo(settingsFile()).isDir()) << "left as found";

    // The profile folder cannot be created.
    QFile plain(path(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    useProfile(QStringLiteral("plain/profile"));
    EXPECT_EQ(runAndAsk(), 0);
    EXPECT_EQ(runAndAsk(), 0);
}

TEST_F(Participation, TheMainWindowClosingUnderTheQuestionCountsAsARefusal)
{
    // A participant whose question flag was set again is asked.
    put({1, 1, std::nullopt});
    auto* window = new QWidget;
    GetZnSystemServices()->SetMainWindow(window);
    newRun();
    Watched run(&journal);
    run.core.StartRecordersIfEnabled();
    journal.clear();

    // The host tears its main window down while the question is open; the dialog goes with it.
    ModalAnswerer answerer(
        [window](CZnDlgCIP& dialog)
        {
            ModalAnswerer::click(dialog.ui.radioButton);
            delete window;
        });
    run.core.AskForJoiningCIP();
    EXPECT_EQ(answerer.answered(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(run.core.IsEnabled());
    EXPECT_EQ(onDisk(), (Stored{0, 0, QStringLiteral(";21.2.1")}));
    EXPECT_EQ(journal.join(','), QStringLiteral("a Stop"));
}
