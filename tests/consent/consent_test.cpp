// The join question against a real settings file, and the join dialog driven with real mouse and key
// events. A "run" is a fresh core object over the profile read again from disk, as after a restart.
#include "czncipimpl.h"
#include "czndlgcip.h"
#include "cznresources.h"
#include "cznsettings.h"
#include "cznvorinqtgate.h"
#include "profilesettings.h"
#include "recording.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>
#include <set>

namespace
{
const CZnString cip("cip");
const QString currentVersion = QStringLiteral("21.2.1");
const QVariant none;

// Clicks each button as a user would, near its left edge: inside a choice's indicator.
void click(std::initializer_list<QAbstractButton*> buttons)
{
    for (QAbstractButton* button : buttons)
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
}
using Answer = void (*)(CZnDlgCIP&);
const auto ok = [](CZnDlgCIP& d) { return d.ui.buttonBox->button(QDialogButtonBox::Ok); };
const Answer join = [](CZnDlgCIP& d) { click({d.ui.radioButton, ok(d)}); };
const Answer decline = [](CZnDlgCIP& d) { click({d.ui.radioButton_2, ok(d)}); };
const Answer escape = [](CZnDlgCIP& d) { QTest::keyClick(&d, Qt::Key_Escape); };
const Answer closeWindow = [](CZnDlgCIP& d) { d.close(); };
const Answer tickThenEscape = [](CZnDlgCIP& d)
{
    click({d.ui.radioButton});
    escape(d);
};
const Answer okFirst = [](CZnDlgCIP& d)
{
    click({ok(d)});
    EXPECT_TRUE(d.isVisible()) << "OK before a choice";
    decline(d);
};
const Answer changeMindWithSpace = [](CZnDlgCIP& d)
{
    click({d.ui.radioButton_2, d.ui.radioButton});
    EXPECT_FALSE(d.ui.radioButton_2->isChecked());
    QTest::keyClick(ok(d), Qt::Key_Space);
};
const Answer mainWindowCloses = [](CZnDlgCIP& d)
{
    click({d.ui.radioButton});
    delete d.parentWidget();
};

// Puts the join question and answers each dialog from inside its exec(); returns how many it answered.
// A watchdog fails the test and closes a dialog the action left open.
int ask(CZnCIPImpl& core, const std::function<void(CZnDlgCIP&)>& action)
{
    int answered = 0;
    QPointer<CZnDlgCIP> current; // a new dialog may take the address of one that is gone
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout,
                     [&]
                     {
                         auto* dialog = qobject_cast<CZnDlgCIP*>(QApplication::activeModalWidget());
                         if (!dialog || dialog == current)
                             return;
                         current = dialog;
                         ++answered;
                         QTimer::singleShot(10000, dialog,
                                            [dialog]
                                            {
                                                ADD_FAILURE() << "the join dialog was not answered";
                                                dialog->close();
                                            });
                         action(*dialog);
                     });
    poll.start(0);
    core.AskForJoiningCIP();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    return answered;
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
            (rb = OdResBuf::newRb(OdResBuf::kRtString))->setString(CZnString(value.toString()).toOdString());
        if (value.isValid())
            CZnSettings(settingsFile()).SetValue(cip, CZnString(key), rb);
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
    int runAndAsk(Answer a = decline) // a new run of the host asks, if the question is due
    {
        newRun();
        CZnCIPImpl core;
        return ask(core, a);
    }

    QStringList journal;
    RecordingRecorder recorder{QStringLiteral("a"), &journal};
    QString m_folder;
};

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void open(const QUrl& url) { opened << url; }
    QList<QUrl> opened;
};
} // namespace

TEST_F(Participation, EachRowOfThePolicyAsksOrNot)
{
    const QString older = QStringLiteral(";21.1.0"), listed = QStringLiteral(";21.1.0;21.2.1");
    constexpr int free = 0, suppressed = 1, busy = 2;
    const struct
    {
        const char* what;
        Stored before;
        bool asked;
        Answer answer;
        int host = free;
    } cases[] = {{"first run, nothing stored", {none, none, none}, true, join},
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
                 {"declined, version listed, question put", {0, 0, listed}, false, join},
                 {"version inside a longer entry counts as listed", {0, 0, ";21.2.10"}, false, join},
                 {"joined, new version, question put", {1, 0, older}, false, decline},
                 {"joined, new version, flag set", {1, 3, older}, true, join},
                 {"joined, no version list, flag absent", {1, none, none}, true, escape},
                 // Values of the wrong type read as zero: not participating, an empty list, the flag down.
                 {"participation as text, new version: rewritten as a number", {"1", 0, older}, true, join},
                 {"version list as a number: every version is new", {0, 0, 5}, true, decline},
                 {"joined, flag as text", {1, "1", none}, false, decline}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        useProfile(QStringLiteral("policy/") + c.what);
        for (int i = 0; i < 3; ++i)
            put(keys[i], c.before[i]);
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
        const auto answer = [&](CZnDlgCIP& dialog)
        {
            // The question is recorded as put before the user answers.
            EXPECT_EQ(onDisk(), shown({c.before[0], 0, builds}));
            EXPECT_EQ(dialog.parentWidget(), mainWindow);
            EXPECT_FALSE(dialog.ui.radioButton->isChecked() || dialog.ui.radioButton_2->isChecked());
            EXPECT_FALSE(dialog.ui.buttonBox->isEnabled());
            c.answer(dialog);
        };
        EXPECT_EQ(ask(core, answer), c.asked ? 1 : 0);
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
    // Every list "contains" an empty version text: the question then hangs on the flag, 0 without a profile.
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
    put("CIPCONTROL", 0); // a second run of the host declines meanwhile
    put("CIPCONFIRM", 0);
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
    const QByteArray corrupt =
        QByteArrayLiteral("\xEF\xBB\xBF[cip]\r\nCIPBUILDS=5005:;21.1.0\r\n[host]\nTheme=5005:dark\n"
                          "\x80\x81\x00 binary \xff\n[cip]\nCIPCONTROL=5010:\nCIPCONFIRM=50\n"
                          "CIPBUILDS;21.2.1\n[cip\n");
    writeBytes(settingsFile(), corrupt);
    EXPECT_EQ(runAndAsk(), 1);
    EXPECT_EQ(onDisk(), QStringLiteral("0 0 ';21.1.0;21.2.1'"));
    EXPECT_EQ(runAndAsk(), 0) << "the answer was kept";
    const QByteArray after = readBytes(settingsFile());
    for (const QByteArray& line : corrupt.split('\n'))
        EXPECT_TRUE(line.startsWith("CIPBUILDS=") || after.contains(line + '\n')) << line.toHex().constData();

    // A good file cut at or next to a line end, or in the middle of a line, asks at most once.
    useProfile(QStringLiteral("cut"));
    EXPECT_EQ(runAndAsk(), 1);
    put("Z_LAST", QStringLiteral("after the cip keys"));
    const QByteArray complete = readBytes(settingsFile());
    std::set<int> cuts{0, int(complete.size())};
    for (int start = 0, end = complete.indexOf('\n'); end >= 0;
         start = end + 1, end = complete.indexOf('\n', start))
        cuts.insert({(start + end) / 2, end - 1, end, end + 1});
    for (const int cut : cuts)
    {
        SCOPED_TRACE(cut);
        const QByteArray head = complete.left(cut);
        writeBytes(settingsFile(), head);
        EXPECT_LE(runAndAsk(), 1);
        // Whatever survived the cut, the user now counts as not participating and as asked.
        EXPECT_TRUE(QStringList({"0 0", "- 0"}).contains(onDisk().section(' ', 0, 1)))
            << qPrintable(onDisk());
        EXPECT_EQ(runAndAsk(), 0) << "asked again: the answer was not kept";
        EXPECT_TRUE(readBytes(settingsFile()).contains(head.mid(head.lastIndexOf('\n') + 1)))
            << "the cut line is kept";
    }
}

TEST_F(Participation, SettingsThatCannotBeKeptBringNoQuestionAndStayAsFound)
{
    // A folder in place of the file cannot be read, even by root; a file in place of the folder holds none.
    writeBytes(settingsFile() + QStringLiteral("/inside.txt"), "precious");
    writeBytes(path(QStringLiteral("plain")), "x");
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
    EXPECT_EQ(readBytes(path("profiles/Default/settings.ini/inside.txt")), QByteArray("precious"));
    EXPECT_EQ(readBytes(path("plain")), QByteArray("x"));
}

TEST_F(Participation, TheDialogShowsTheCompanyAndOpensThePrivacyAddressFromTheResources)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    const QString address = QStringLiteral("https://privacy.zinc.example/cip?lang=en");
    // Not the link's placeholder target; with no address nothing opens; either way the dialog stays.
    for (const QString& company : {QStringLiteral("Acme % Partners"), QString()})
    {
        GetZnResources()->SetCompanyName(CZnString(company));
        GetZnResources()->SetPrivacyPolicyUrl(CZnString(company.isEmpty() ? QString() : address));
        CZnDlgCIP dialog(nullptr);
        EXPECT_TRUE(dialog.ui.label_2->text().startsWith("The Customer Involvement Program (CIP) lets " +
                                                         company + " gather and analyze data"));
        dialog.show();
        QLabel* link = dialog.ui.lblPrivacyPolicy;
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(12, link->height() / 2));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl(address)});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

#include "consent_test.moc"
