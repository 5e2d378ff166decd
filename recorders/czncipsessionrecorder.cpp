#include "czncipsessionrecorder.h"

#include "czncipeventtexts.h"
#include "cznsession.h"
#include "editorregistration.h"
#include "recorderevents.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>

namespace
{
// The recorder's fixed texts, built once on first use.
struct Texts
{
    const QString up{QStringLiteral("..")};
    const QString reportedFile{QStringLiteral("reported_sessions.txt")};
    const QString bad{QStringLiteral("bad")};
    const QString good{QStringLiteral("good")};
    const QString crashReport{QStringLiteral("crashrpt.xml")};
    const CZnString session{ZnCIPEventTexts::session};
    const CZnString badAction{ZnCIPEventTexts::bad};
    const CZnString goodAction{ZnCIPEventTexts::good};
    const CZnString global{ZnCIPEventTexts::global};
    const CZnString withCrashReport{ZnCIPEventTexts::withCrashReport};
    const CZnString withoutCrashReport{ZnCIPEventTexts::withoutCrashReport};
};

const Texts& texts()
{
    static const Texts t;
    return t;
}

// No file system names a folder with more bytes than this, so a longer line is no session name. Such a
// line (a damaged or foreign file) is passed over without being held in memory and is not written back.
constexpr int maxNameBytes = 4096;

// The next line of the file in raw, without its end. False at the end of the file or on a read error.
bool readNameLine(QIODevice& in, QByteArray& line)
{
    line.clear();
    bool tooLong = false;
    bool any = false;
    char chunk[maxNameBytes + 2];
    for (;;)
    {
        const qint64 n = in.readLine(chunk, sizeof chunk);
        if (n <= 0)
            return any;
        any = true;
        const bool ended = chunk[n - 1] == '\n';
        if (!tooLong)
        {
            line.append(chunk, static_cast<int>(ended ? n - 1 : n));
            tooLong = line.size() > maxNameBytes;
        }
        if (ended)
            break;
    }
    if (tooLong)
        line.clear();
    return true;
}

// Finished sessions of one kind, in the order the file system gives them; hidden folders and plain
// files are no sessions.
QStringList sessionFolders(const QString& folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
}
} // namespace

void CZnCIPSessionRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPSessionRecorder::Stop()
{
    unregisterFromEditor(this);
}

void CZnCIPSessionRecorder::Remember(const QString& name)
{
    m_reportedSessions.append(name);
    m_known.insert(name);
}

void CZnCIPSessionRecorder::mainFrameCreated(QWidget*)
{
    CZnSession* session = znSession();
    if (!activeService() || !session)
        return;
    const QString folder = session->GetFolderPath().toQString();
    // A session without a folder has no sessions root; guessing one would read and write elsewhere.
    if (folder.isEmpty())
        return;

    const Texts& t = texts();
    const QChar sep = QDir::separator();
    const QString current = QDir(folder).dirName();
    const QString root = QDir(folder + sep + t.up + sep + t.up).absolutePath();
    const QString reportedPath = root + sep + t.reportedFile;

    QFile in(reportedPath);
    if (in.open(QIODevice::ReadOnly))
    {
        QTextCodec* codec = QTextCodec::codecForLocale();
        QByteArray raw;
        while (readNameLine(in, raw))
        {
            const QString line = codec->toUnicode(raw).trimmed();
            if (!line.isEmpty())
                Remember(line);
        }
        in.close();
    }

    const QString badFolder = QDir(root + sep + t.bad).absolutePath();
    for (const QString& name : sessionFolders(badFolder))
    {
        if (name == current || IsReported(name))
            continue;
        const bool crashReport = QFile::exists(badFolder + sep + name + sep + t.crashReport);
        sendEvent(t.session, t.badAction, crashReport ? t.withCrashReport : t.withoutCrashReport, 1);
        sendEvent(t.session, t.badAction, t.badAction, 1);
        sendEvent(t.session, t.global, t.global, 1);
        Remember(name);
    }

    for (const QString& name : sessionFolders(root + sep + t.good))
    {
        if (name == current || IsReported(name))
            continue;
        sendEvent(t.session, t.goodAction, t.goodAction, 1);
        sendEvent(t.session, t.global, t.global, 1);
        Remember(name);
    }

    // Replaced as a whole, so a run that dies while writing leaves the previous list rather than part
    // of the new one. When it cannot be written the sessions are simply reported again next run.
    QSaveFile out(reportedPath);
    if (out.open(QIODevice::WriteOnly | QIODevice::Text))
    {
        QTextStream stream(&out);
        for (const QString& name : m_reportedSessions)
            stream << name << '\n';
        stream.flush();
        out.commit();
    }
}
