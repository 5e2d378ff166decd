// Participation settings and the join question, against a real settings file in the test's folder.
// A "run" is a fresh core object over the profile read again from disk, as after a restart.
#include "czncipimpl.h"
#include "czndlgcip.h"
#include "cznsettings.h"
#include "cznsystemservices.h"
#include "cznvorinqtgate.h"
#include "hostfixture.h"
#include "modalanswerer.h"
#include "profilesettings.h"
#include "qtprinting.h"
#include "recordingrecorder.h"

#include <QDir>
#include <QFileInfo>

#include <set>

namespace
{
const CZnString cip("cip");
const QString currentVersion = QStringLiteral("21.2.1");
const QVariant none;
using Answer = void (*)(CZnDlgCIP&);
const Answer join = ModalAnswerer::join, decline = ModalAnswerer::decline, escape = ModalAnswerer::escape;
void closeWindow(CZnDlgCIP& d)
{
    d.close();
}
void tickThenEscape(CZnDlgCIP& d)
{
    ModalAnswerer::click(d.ui.radioButton);
    ModalAnswerer::escape(d);
}

// The three keys as the settings file holds them: an int, a text, or absent (invalid).
struct Stored
{
    QVariant control, confirm, builds;
    bool operator==(const Stored& o) const
    {
        auto same = [](const QVariant& a, const QVariant& b)
        { return a.userType() == b.userType() && a == b; };
        return same(control, o.control) && same(confirm, o.confirm) && same(builds, o.builds);
    }
};

void PrintTo(const Stored& s, std::ostream* os)
{
    auto show = [](const QVariant& v)
    {
        return !v.isValid()                     ? std::string("absent")
               : v.userType() == QMetaType::Int ? std::to_string(v.toInt())
                                                : '"' + v.toString().toStdString() + '"';
    };
    *os << "{CIPCONTROL " << show(s.control) << ", CIPCONFIRM " << show(s.confirm) << ", CIPBUILDS "
        << show(s.builds) << "}";
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

    // Writes straight to the file, as another program (or an earlier version) would.
    void put(const char* key, const QVariant& value)
    {
        if (!value.isValid())
            return;
        OdResBufPtr rb = intValue(value.toInt());
        if (value.userType() == QMetaType::QString)
        {
            rb = OdResBuf::newRb(OdResBuf::kRtString);
            rb->setString(CZnString(value.toString()).toOdString());
        }
        CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
    }
    void put(const Stored& s)
    {
        put("CIPCONTROL", s.control);
        put("CIPCONFIRM", s.confirm);
        put("CIPBUILDS", s.builds);
    }
    Stored onDisk() const
    {
        const CZnSettings file(settingsFile());
        auto read = [&](const char* key)
        {
            OdResBufPtr v = file.GetValue(cip, CZnString(key), 0);
            if (!v)
                return QVariant();
            return v->restype() == OdResBuf::kRtInt32 ? QVariant(v->getInt32())
                                                      : QVariant(CZnString(v->getString()).toQString());
        };
        return {read("CIPCONTROL"), read("CIPCONFIRM"), read("CIPBUILDS")};
    }
    QByteArray fileBytes() const
    {
        QFile file(settingsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(name).absolutePath());
        QFile file(name);
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
    // A core object of a new run with a recorder "a" attached.
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
    const QString text1 = QStringLiteral("1");
    enum Host
    {
        free,
        suppressed, // scripted runs: no question, nothing read or written
        busy,       // cannot ask now: nothing written, so the question stays due
    };
    const struct
    {
        const char* what;
        Stored before;
        bool asked;
        Answer answer;
        Host host = free;
    } cases[] = {
        {"first run, nothing stored", {none, none, none}, true, join},
        {"first run, dialogs suppressed", {none, none, none}, false, join, suppressed},
        {"declined, new version, cannot ask now", {0, none, older}, false, join, busy},
        {"declined, new version, question put", {0, 0, older}, true, decline},
        {"never answered, odd flag, new version", {none, 5, older}, true, escape},
        {"participate ticked, then Escape: a refusal", {none, none, none}, true, tickThenEscape},
        {"participation 2, new version, question put", {2, 0, older}, true, join},
        {"declined, version listed, flag set", {0, 1, listed}, true, closeWindow},
        {"declined, version listed, flag absent", {0, none, listed}, true, decline},
        {"declined, version listed, question put", {0, 0, listed}, false, join},
        {"participation absent, version listed, question put", {none, 0, listed}, false, join},
        {"version inside a longer entry counts as listed", {0, 0, ";21.2.10"}, false, join},
        {"participation 2, version listed, question put", {2, 0, listed}, false, join},
        {"joined, new version, question put", {1, 0, older}, false, decline},
        {"joined, version listed, question put", {1, 0, listed}, false, decline},
        {"joined, version listed, flag absent", {1, none, listed}, true, decline},
        {"joined, new version, flag set", {1, 3, older}, true, join},
        {"joined, no version list, flag absent", {1, none, none}, true, escape},
        // Values of the wrong type read as zero: not participating, an empty list, the flag down.
        {"participation as text, version listed, question put", {text1, 0, listed}, false, join},
        {"participation as text, new version: rewritten as a number", {text1, 0, older}, true, join},
        {"version list as a number: every version is new", {0, 0, 5}, true, decline},
        {"joined, flag as text", {1, text1, none}, false, decline},
    };
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        useProfile(QStringLiteral("policy/%1").arg(++n));
        put(c.before);
        newRun();
        GetZnVORINQTGate()->SetDialogSuppressed(c.host == suppressed);
        GetZnSystemServices()->SetCanAskUser(c.host != busy);
        journal.clear();
        Watched run(&journal);

        const QString builds =
            c.before.builds.userType() == QMetaType::QString ? c.before.builds.toString() : "";
        const Stored asked{0, 0, builds + ';' + currentVersion};
        const bool joined = c.answer == join;
        ModalAnswerer answerer(
            [&](CZnDlgCIP& dialog)
            {
                // The question is recorded as put before the user answers.
                EXPECT_EQ(onDisk(), (Stored{c.before.control, asked.confirm, asked.builds}));
                EXPECT_EQ(dialog.parentWidget(), &mainWindow);
                EXPECT_FALSE(dialog.ui.radioButton->isChecked());
                EXPECT_FALSE(dialog.ui.radioButton_2->isChecked());
                EXPECT_FALSE(dialog.ui.buttonBox->isEnabled());
                c.answer(dialog);
            });
        run.core.AskForJoiningCIP();
        ASSERT_FALSE(answerer.timedOut());
        EXPECT_EQ(answerer.answered(), c.asked ? 1 : 0);
        EXPECT_EQ(onDisk(), c.asked ? (Stored{joined ? 1 : 0, asked.confirm, asked.builds}) : c.before);
        // The answer takes effect at once: started on joining, stopped on declining.
        EXPECT_EQ(journal.join(','), !c.asked ? "" : joined ? "a Start" : "a Stop");
        const bool wasIn = c.before.control.userType() == QMetaType::Int && c.before.control.toInt() == 1;
        EXPECT_EQ(run.core.IsEnabled(), c.asked ? joined : wasIn);
    }
}

TEST_F(Participation, WithoutAProfileTheQuestionIsAskedButNothingIsKept)
{
    put("CIPCONTROL", 1);
    GetZnSystemServices()->ClearProfile();
    Watched run(&journal);
    CZnCIPImpl& core = run.core;
    EXPECT_EQ(core.GetCIPControl(), 0u);
    EXPECT_EQ(core.GetCIPConfirm(), 0u) << "0, not the usual default 1";
    EXPECT_EQ(ask(core, join), 1);
    EXPECT_FALSE(core.IsEnabled());
    EXPECT_TRUE(journal.isEmpty()) << "recorders are not started";
    EXPECT_EQ(ask(core, join), 1) << "nothing remembers that it was asked";
    // With an empty version text every list "contains" it: the question then depends on the flag,
    // which reads as 0 without a profile.
    GetZnSystemServices()->SetVersionString(CZnString());
    EXPECT_EQ(ask(core, join), 0);

    newRun();
    EXPECT_EQ(onDisk(), (Stored{1, none, none}));
    EXPECT_EQ(core.GetCIPControl(), 1u) << "the no-profile reads and writes were not cached";
    EXPECT_EQ(core.GetCIPConfirm(), 1u);
}

TEST_F(Participation, CachedValuesDoNotSeeOutsideWritesUntilTheNextRun)
{
    put("CIPCONTROL", 1);
    newRun();
    CZnCIPImpl core;
    EXPECT_TRUE(core.IsEnabled());
    // Another part of the host changes the setting in the same store.
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(cip, CZnString("CIPCONTROL"), intValue(0));
    EXPECT_TRUE(core.IsEnabled());

    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "absent reads as 1";
    put("CIPCONFIRM", 0);
    newRun();
    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "cached";
    core.SetCIPConfirm(7);
    EXPECT_EQ(core.GetCIPConfirm(), 7u) << "own writes update the cache";

    // The version list is read anew every time.
    core.SetCIPBuilds(CZnString(";a"));
    put("CIPBUILDS", QStringLiteral(";b"));
    newRun();
    EXPECT_EQ(core.GetCIPBuilds().toQString(), QStringLiteral(";b"));

    CZnCIPImpl nextRun;
    EXPECT_FALSE(nextRun.IsEnabled());
    EXPECT_EQ(nextRun.GetCIPConfirm(), 7u);
}

TEST_F(Participation, AStaleRunDoesNotUndoWhatAnotherRunJustWrote)
{
    put({1, 1, none});
    newRun();
    CZnCIPImpl stale;
    EXPECT_TRUE(stale.IsEnabled());
    put("CIPCONTROL", 0); // a second run of the host declines meanwhile
    stale.SetCIPConfirm(0);
    EXPECT_EQ(onDisk(), (Stored{0, 0, none}));
    EXPECT_TRUE(stale.IsEnabled()) << "its own view is not refreshed behind its back";
}

TEST_F(Participation, ACorruptOrCutFileStillTakesTheAnswerAndKeepsItsOtherLines)
{
    // A BOM and CRLF line ends do not hide the first lines; the rest cannot be read.
    static const char text[] = "\xEF\xBB\xBF[cip]\r\nCIPBUILDS=5005:;21.1.0\r\n[host]\nTheme=5005:dark\n"
                               "\x80\x81\x00 binary \xff\n[cip]\nCIPCONTROL=5010:\nCIPCONFIRM=50\n"
                               "CIPBUILDS;21.2.1\n[cip\n";
    const QByteArray corrupt(text, sizeof(text) - 1);
    writeFile(settingsFile(), corrupt);
    EXPECT_EQ(runAndAsk(decline), 1);
    EXPECT_EQ(onDisk(), (Stored{0, 0, ";21.1.0;21.2.1"}));
    EXPECT_EQ(runAndAsk(decline), 0) << "the answer was kept";
    const QByteArray after = fileBytes();
    for (const QByteArray& line : corrupt.split('\n'))
        EXPECT_TRUE(line.startsWith("CIPBUILDS=") || after.contains(line + '\n')) << line.toHex().constData();

    // A good file cut at or next to a line end, or in the middle of a line, asks at most once.
    useProfile(QStringLiteral("cut"));
    EXPECT_EQ(runAndAsk(decline), 1);
    put("Z_LAST", QStringLiteral("after the cip keys"));
    const QByteArray complete = fileBytes();
    std::set<int> cuts{0, int(complete.size())};
    for (int end = complete.indexOf('\n'), start = 0; end >= 0;
         start = end + 1, end = complete.indexOf('\n', start))
        cuts.insert({(start + end) / 2, end - 1, end, end + 1});
    ASSERT_GT(cuts.size(), 12u);
    for (const int cut : cuts)
    {
        SCOPED_TRACE(cut);
        const QByteArray head = complete.left(cut);
        writeFile(settingsFile(), head);
        EXPECT_LE(runAndAsk(decline), 1);
        // Whatever survived the cut, the user now counts as not participating and as asked.
        EXPECT_EQ(onDisk().control.toInt(), 0);
        EXPECT_EQ(onDisk().confirm, QVariant(0));
        EXPECT_EQ(runAndAsk(decline), 0) << "asked again: the answer was not kept";
        const QByteArray partial = head.mid(head.lastIndexOf('\n') + 1);
        EXPECT_TRUE(fileBytes().contains(partial)) << "the cut line is kept: " << partial.constData();
    }
}

TEST_F(Participation, SettingsThatCannotBeKeptBringNoQuestion)
{
    // A folder where the file should be cannot be read (the tests may run as root, for whom permission
    // bits do not stop reading): no question whose answer would be lost, and nothing overwritten.
    writeFile(settingsFile() + QStringLiteral("/inside.txt"), "precious");
    newRun();
    {
        Watched run(&journal);
        run.core.StartRecordersIfEnabled();
        EXPECT_EQ(ask(run.core, join), 0);
        EXPECT_TRUE(journal.isEmpty());
    }
    EXPECT_TRUE(QFileInfo(settingsFile()).isDir()) << "left as found";
    QFile inside(settingsFile() + QStringLiteral("/inside.txt"));
    ASSERT_TRUE(inside.open(QIODevice::ReadOnly));
    EXPECT_EQ(inside.readAll(), QByteArray("precious"));

    // A plain file where the profile folder should be.
    writeFile(path(QStringLiteral("plain")), "x");
    useProfile(QStringLiteral("plain/profile"));
    EXPECT_EQ(runAndAsk(join), 0);
    EXPECT_EQ(runAndAsk(join), 0);
    QFile plain(path(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), QByteArray("x"));
}

TEST_F(Participation, TheMainWindowClosingUnderTheQuestionCountsAsARefusal)
{
    // A participant whose question flag was set again is asked.
    put({1, 1, none});
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
    EXPECT_EQ(onDisk(), (Stored{0, 0, ";21.2.1"}));
    EXPECT_EQ(journal.join(','), QStringLiteral("a Stop"));
}
