// Participation settings and the join question, against a real settings file in the test's folder,
// and the join dialog, driven with real mouse and key events under the offscreen platform. A "run" is a
// fresh core object over the profile read again from disk, as after a restart.
#include "czncipimpl.h"
#include "czndlgcip.h"
#include "cznresources.h"
#include "cznsettings.h"
#include "cznsystemservices.h"
#include "cznutils.h"
#include "cznvorinqtgate.h"
#include "hostfixture.h"
#include "modalanswerer.h"
#include "profilesettings.h"
#include "qtprinting.h"
#include "recording.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include <array>
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
// OK does nothing before a choice.
void okFirst(CZnDlgCIP& d)
{
    ModalAnswerer::pressOk(d);
    EXPECT_TRUE(d.isVisible());
    ModalAnswerer::decline(d);
}
// The choices exclude each other; Space on OK presses it.
void changeMindWithSpace(CZnDlgCIP& d)
{
    ModalAnswerer::click(d.ui.radioButton_2);
    ModalAnswerer::click(d.ui.radioButton);
    EXPECT_FALSE(d.ui.radioButton_2->isChecked());
    QTest::keyClick(d.ui.buttonBox->button(QDialogButtonBox::Ok), Qt::Key_Space);
}
// The host tears its main window down while the question is open; the dialog goes with it.
void mainWindowCloses(CZnDlgCIP& d)
{
    ModalAnswerer::click(d.ui.radioButton);
    delete d.parentWidget();
}

// CIPCONTROL, CIPCONFIRM and CIPBUILDS as the file holds them: an int, a text, or absent (invalid).
using Stored = std::array<QVariant, 3>;
const char* const keys[] = {"CIPCONTROL", "CIPCONFIRM", "CIPBUILDS"};

// "control confirm builds" with texts quoted and absent keys as "-", so that the type is seen too.
QString shown(const Stored& s)
{
    QStringList out;
    for (const QVariant& v : s)
        out << (!v.isValid()                     ? "-"
                : v.userType() == QMetaType::Int ? v.toString()
                                                 : '\'' + v.toString() + '\'');
    return out.join(' ');
}

QByteArray bytes(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& name, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class Participation : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetVersionString(currentVersion);
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

    // Writes straight to the file, as another run of the host (or an earlier version) would.
    void put(const char* key, const QVariant& value)
    {
        OdResBufPtr rb = intValue(value.toInt());
        if (value.userType() == QMetaType::QString)
        {
            rb = OdResBuf::newRb(OdResBuf::kRtString);
            rb->setString(CZnString(value.toString()).toOdString());
        }
        if (value.isValid())
            CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
    }
    void put(const Stored& s)
    {
        for (int i = 0; i < 3; ++i)
            put(keys[i], s[i]);
    }
    QString onDisk() const
    {
        const CZnSettings file(settingsFile());
        Stored s;
        for (int i = 0; i < 3; ++i)
            if (OdResBufPtr v = file.GetValue(cip, CZnString(keys[i]), 0))
                s[i] = v->restype() == OdResBuf::kRtInt32 ? QVariant(v->getInt32())
                                                          : QVariant(CZnString(v->getString()).toQString());
        return shown(s);
    }

    // Runs the join question once; returns how many dialogs were shown.
    int ask(CZnCIPImpl& core, Answer a = decline)
    {
        ModalAnswerer answerer(a);
        core.AskForJoiningCIP();
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

    QStringList journal;
    RecordingRecorder recorder{QStringLiteral("a"), &journal};
    QString m_folder;
};

using JoinDialog = HostFixture;

// Catches what the dialog asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
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
        {"first run, OK pressed before a choice", {none, none, none}, true, okFirst},
        {"first run, mind changed, OK by keyboard", {none, none, none}, true, changeMindWithSpace},
        {"first run, dialogs suppressed", {none, none, none}, false, join, suppressed},
        {"declined, new version, cannot ask now", {0, none, older}, false, join, busy},
        {"declined, new version, question put", {0, 0, older}, true, decline},
        {"never answered, odd flag, new version", {none, 5, older}, true, escape},
        {"participate ticked, then Escape: a refusal", {none, none, none}, true, tickThenEscape},
        {"participant, flag set, main window closes", {1, 1, none}, true, mainWindowCloses},
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
        QPointer<QWidget> mainWindow = new QWidget;
        GetZnSystemServices()->SetMainWindow(mainWindow);
        GetZnVORINQTGate()->SetDialogSuppressed(c.host == suppressed);
        GetZnSystemServices()->SetCanAskUser(c.host != busy);
        journal.clear();
        CZnCIPImpl core;
        core.AddRecorder(&recorder);

        const bool joined = c.answer == join || c.answer == changeMindWithSpace;
        const QVariant builds = (c.before[2].userType() == QMetaType::QString ? c.before[2].toString() : "") +
                                ';' + currentVersion;
        ModalAnswerer answerer(
            [&](CZnDlgCIP& dialog)
            {
                // The question is recorded as put before the user answers.
                EXPECT_EQ(onDisk(), shown({c.before[0], 0, builds}));
                EXPECT_EQ(dialog.parentWidget(), mainWindow);
                EXPECT_FALSE(dialog.ui.radioButton->isChecked() || dialog.ui.radioButton_2->isChecked());
                EXPECT_FALSE(dialog.ui.buttonBox->isEnabled());
                c.answer(dialog);
            });
        core.AskForJoiningCIP();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(answerer.answered(), c.asked ? 1 : 0);
        EXPECT_EQ(onDisk(), shown(c.asked ? Stored{joined ? 1 : 0, 0, builds} : c.before));
        // The answer takes effect at once: started on joining, stopped on declining.
        EXPECT_EQ(journal.join(','), QString(!c.asked ? "" : joined ? "a Start" : "a Stop"));
        EXPECT_EQ(core.IsEnabled(), c.asked ? joined : shown({c.before[0]}).startsWith("1 "));
        delete mainWindow;
    }
}

TEST_F(Participation, WithoutAProfileTheQuestionIsAskedButNothingIsKept)
{
    put("CIPCONTROL", 1);
    GetZnSystemServices()->ClearProfile();
    CZnCIPImpl core;
    core.AddRecorder(&recorder);
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
    EXPECT_EQ(onDisk(), QStringLiteral("1 - -"));
    EXPECT_EQ(core.GetCIPControl(), 1u) << "the no-profile reads and writes were not cached";
    EXPECT_EQ(core.GetCIPConfirm(), 1u);
}

TEST_F(Participation, CachedValuesIgnoreAnotherRunsWritesButDoNotUndoThem)
{
    put("CIPCONTROL", 1);
    newRun();
    CZnCIPImpl core;
    EXPECT_TRUE(core.IsEnabled());
    EXPECT_EQ(core.GetCIPConfirm(), 1u) << "absent reads as 1";
    put({0, 0, none}); // a second run of the host declines meanwhile
    EXPECT_TRUE(core.IsEnabled());
    EXPECT_EQ(core.GetCIPConfirm(), 1u);
    core.SetCIPConfirm(7);
    EXPECT_EQ(core.GetCIPConfirm(), 7u) << "own writes update the cache";
    EXPECT_EQ(onDisk(), QStringLiteral("0 7 -"))
        << "a stale view must not write back the participation it read";

    // The version list is read anew every time.
    core.SetCIPBuilds(CZnString(";a"));
    put("CIPBUILDS", QStringLiteral(";b"));
    newRun();
    EXPECT_EQ(core.GetCIPBuilds().toQString(), QStringLiteral(";b"));

    CZnCIPImpl nextRun;
    EXPECT_FALSE(nextRun.IsEnabled());
    EXPECT_EQ(nextRun.GetCIPConfirm(), 7u);
}

TEST_F(Participation, ACorruptOrCutFileStillTakesTheAnswerAndKeepsItsOtherLines)
{
    // A BOM and CRLF line ends do not hide the first lines; most of the rest cannot be read.
    static const char text[] = "\xEF\xBB\xBF[cip]\r\nCIPBUILDS=5005:;21.1.0\r\n[host]\nTheme=5005:dark\n"
                               "\x80\x81\x00 binary \xff\n[cip]\nCIPCONTROL=5010:\nCIPCONFIRM=50\n"
                               "CIPBUILDS;21.2.1\n[cip\n";
    const QByteArray corrupt(text, sizeof(text) - 1);
    writeFile(settingsFile(), corrupt);
    EXPECT_EQ(runAndAsk(decline), 1);
    EXPECT_EQ(onDisk(), QStringLiteral("0 0 ';21.1.0;21.2.1'"));
    EXPECT_EQ(runAndAsk(decline), 0) << "the answer was kept";
    const QByteArray after = bytes(settingsFile());
    for (const QByteArray& line : corrupt.split('\n'))
        EXPECT_TRUE(line.startsWith("CIPBUILDS=") || after.contains(line + '\n')) << line.toHex().constData();

    // A good file cut at or next to a line end, or in the middle of a line, asks at most once.
    useProfile(QStringLiteral("cut"));
    EXPECT_EQ(runAndAsk(decline), 1);
    put("Z_LAST", QStringLiteral("after the cip keys"));
    const QByteArray complete = bytes(settingsFile());
    std::set<int> cuts{0, int(complete.size())};
    for (int start = 0, end = complete.indexOf('\n'); end >= 0;
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
        EXPECT_TRUE(QStringList({"0 0", "- 0"}).contains(onDisk().section(' ', 0, 1)))
            << qPrintable(onDisk());
        EXPECT_EQ(runAndAsk(decline), 0) << "asked again: the answer was not kept";
        const QByteArray partial = head.mid(head.lastIndexOf('\n') + 1);
        EXPECT_TRUE(bytes(settingsFile()).contains(partial))
            << "the cut line is kept: " << partial.constData();
    }
}

TEST_F(Participation, SettingsThatCannotBeKeptBringNoQuestionAndStayAsFound)
{
    // A folder where the file should be cannot be read (the tests may run as root, for whom permission
    // bits do not stop reading); a plain file where the profile folder should be cannot hold one.
    writeFile(settingsFile() + QStringLiteral("/inside.txt"), "precious");
    writeFile(path(QStringLiteral("plain")), "x");
    for (const QString& folder : {QStringLiteral("profiles/Default"), QStringLiteral("plain/profile")})
    {
        SCOPED_TRACE(folder.toStdString());
        useProfile(folder);
        CZnCIPImpl core;
        core.AddRecorder(&recorder);
        core.StartRecordersIfEnabled();
        EXPECT_EQ(ask(core, join), 0);
        EXPECT_FALSE(core.IsEnabled());
        EXPECT_TRUE(journal.isEmpty());
        EXPECT_EQ(runAndAsk(join), 0) << "nor in the next run";
    }
    EXPECT_EQ(bytes(path(QStringLiteral("profiles/Default/settings.ini/inside.txt"))),
              QByteArray("precious"));
    EXPECT_EQ(bytes(path(QStringLiteral("plain"))), QByteArray("x"));
}

TEST_F(JoinDialog, ShowsItsTextsWithTheCompanyNameAndAWhiteLinkOnDarkDialogs)
{
    GetZnResources()->SetCompanyName(CZnString("Acme % Partners"));
    CZnDlgCIP light(nullptr);
    EXPECT_TRUE(light.ui.label_2->text().startsWith(QStringLiteral(
        "The Customer Involvement Program (CIP) lets Acme % Partners gather and analyze data")));

    GetZnResources()->SetCompanyName(CZnString());
    CZnUtils::SetDarkStyleDialogUsed(true);
    CZnDlgCIP dark(nullptr);
    EXPECT_TRUE(dark.ui.label_2->text().startsWith(
        QStringLiteral("The Customer Involvement Program (CIP) lets  gather")));
    // The privacy link is the same document on dark dialogs, only white instead of blue.
    QString link = light.ui.lblPrivacyPolicy->text();
    EXPECT_TRUE(link.contains(
        QStringLiteral("color:#0000ff;\">Read the Customer Involvement Program privacy policy...")));
    EXPECT_EQ(dark.ui.lblPrivacyPolicy->text(),
              link.replace(QLatin1String("color:#0000ff"), QLatin1String("color:#ffffff")));
}

TEST_F(JoinDialog, ThePrivacyLinkOpensTheAddressFromTheResources)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    const QString address = QStringLiteral("https://privacy.zinc.example/cip?lang=en");
    // Not the link's placeholder target; with no address nothing opens; either way the dialog stays.
    for (const QString& url : {address, QString()})
    {
        GetZnResources()->SetPrivacyPolicyUrl(CZnString(url));
        CZnDlgCIP dialog(nullptr);
        ModalAnswerer answerer(
            [](CZnDlgCIP& d)
            {
                QLabel* label = d.ui.lblPrivacyPolicy;
                QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(12, label->height() / 2));
                EXPECT_TRUE(d.isVisible());
                ModalAnswerer::escape(d);
            });
        EXPECT_EQ(dialog.exec(), 0);
        EXPECT_EQ(answerer.answered(), 1);
        EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl(address)});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

#include "consent_test.moc"
