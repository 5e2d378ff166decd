#include "znhostscript.h"

#include "znhostoptionsdialog.h"
#include "znhostwindow.h"

#include "czncip.h"
#include "czncipservice.h"
#include "cznsystemservices.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMetaObject>
#include <QPixmap>
#include <QThread>
#include <QTimer>

namespace
{
const QStringList& verbs()
{
    static const QStringList list{"new",        "open",       "close",  "type",        "set",
                                  "wait",       "wait-until", "answer", "participate", "options",
                                  "screenshot", "tick",       "crash",  "quit"};
    return list;
}

// Time since the program started, for wait-until.
qint64 uptime()
{
    static QElapsedTimer clock = []
    {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}
} // namespace

bool ZnHostScript::parse(const QString& text, QString* error)
{
    uptime();
    m_steps.clear();
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i)
    {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        ZnHostStep step{line.section(' ', 0, 0).toLower(), line.section(' ', 1).trimmed(), i + 1};
        bool ok = verbs().contains(step.verb);
        if (ok && (step.verb == "wait" || step.verb == "wait-until"))
            step.argument.section(' ', 0, 0).toInt(&ok);
        if (ok && step.verb == "answer")
            ok = QStringList{"join", "decline", "escape"}.contains(step.argument);
        if (ok && step.verb == "participate")
            ok = step.argument == "on" || step.argument == "off";
        if (ok && step.verb == "options")
            ok = step.argument == "participate on" || step.argument == "participate off";
        if (ok && step.verb == "screenshot")
            ok = QStringList{"window", "options"}.contains(step.argument.section(' ', 0, 0)) &&
                 !step.argument.section(' ', 1).trimmed().isEmpty();
        if (ok && step.verb == "tick")
            ok = step.argument.isEmpty();
        if (ok && (step.verb == "open" || step.verb == "type"))
            ok = !step.argument.isEmpty();
        if (ok && step.verb == "set")
            ok = step.argument.section(' ', 1).trimmed().size() > 0;
        if (!ok)
        {
            if (error)
                *error = QStringLiteral("line %1: cannot run \"%2\"").arg(step.line).arg(line);
            return false;
        }
        m_steps << step;
    }
    return true;
}

void ZnHostScript::start(ZnHostWindow* window)
{
    m_window = window;
    m_next = 0;
    m_mainLoopLevel = QThread::currentThread()->loopLevel() + 1;
    QTimer::singleShot(0, this, SLOT(next()));
}

void ZnHostScript::next()
{
    // A step never runs while a modal dialog is open, except what that dialog waits for: the answer
    // to the join question, or a choice on (or a picture of) the Options page.
    if (QWidget* modal = QApplication::activeModalWidget())
    {
        const QStringList waitedFor = qobject_cast<ZnHostOptionsDialog*>(modal)
                                          ? QStringList{"options", "screenshot"}
                                          : QStringList{"answer"};
        if (m_next < m_steps.size() && waitedFor.contains(m_steps[m_next].verb))
            runStep(m_steps[m_next++]);
        QTimer::singleShot(20, this, SLOT(next()));
        return;
    }
    // A dialog that has just been closed is still inside its exec() until control goes back to whoever
    // opened it, and only then is its answer acted on (joining, for one). A step run in between would
    // meet the program as it was before the answer.
    if (QThread::currentThread()->loopLevel() > m_mainLoopLevel)
    {
        QTimer::singleShot(20, this, SLOT(next()));
        return;
    }
    // After a tick, the next step waits until the sends it started are answered (at most 15 s).
    if (m_sending.isValid())
    {
        if (GetZnSystemServices()->GetNetworkManager()->PendingCount() > 0 && m_sending.elapsed() < 15000)
        {
            QTimer::singleShot(20, this, SLOT(next()));
            return;
        }
        m_sending.invalidate();
    }
    if (m_next >= m_steps.size())
    {
        emit finished();
        return;
    }
    const ZnHostStep step = m_steps[m_next++];
    if (step.verb == "wait" || step.verb == "wait-until")
    {
        const qint64 until = step.argument.section(' ', 0, 0).toLongLong();
        const qint64 ms = step.verb == "wait" ? until : until - uptime();
        const QString reason = step.argument.section(' ', 1).trimmed();
        if (!reason.isEmpty())
        {
            const QString seconds = QString::number(qMax<qint64>(0, (ms + 500) / 1000));
            m_window->print(step.verb == "wait"
                                ? QStringLiteral("waiting %1 s for %2").arg(seconds, reason)
                                : QStringLiteral("waiting %1 s (until %2 s after the start) for %3")
                                      .arg(seconds, QString::number(until / 1000), reason));
        }
        QTimer::singleShot(static_cast<int>(qMax<qint64>(0, ms)), this, SLOT(next()));
        return;
    }
    if (step.verb == "quit")
    {
        emit finished();
        return;
    }
    runStep(step);
    QTimer::singleShot(0, this, SLOT(next()));
}

void ZnHostScript::runStep(const ZnHostStep& step)
{
    if (step.verb == "new")
        m_window->newDocument(step.argument);
    else if (step.verb == "open")
        m_window->openDocument(step.argument);
    else if (step.verb == "close")
        m_window->closeActiveDocument();
    else if (step.verb == "type")
        m_window->runCommandLine(step.argument);
    else if (step.verb == "set")
        m_window->setVariable(step.argument.section(' ', 0, 0), step.argument.section(' ', 1).trimmed());
    else if (step.verb == "answer")
        emit answerArmed(step.argument);
    else if (step.verb == "participate")
    {
        if (CZnCIP* cip = GetZnCIP())
            cip->SetEnabled(step.argument == "on");
        m_window->syncParticipation();
    }
    else if (step.verb == "options")
    {
        ZnHostOptionsDialog* options = m_window->showOptions();
        options->setParticipate(step.argument.endsWith(QLatin1String(" on")));
        options->accept();
    }
    else if (step.verb == "screenshot")
        screenshot(step.argument.section(' ', 0, 0), step.argument.section(' ', 1).trimmed());
    else if (step.verb == "tick")
    {
        // What the module's 30-second send timer does when it fires: try to send the queue's head.
        CZnCIP* cip = GetZnCIP();
        auto* service = cip ? dynamic_cast<QObject*>(cip->GetService()) : nullptr;
        if (!service || !QMetaObject::invokeMethod(service, "postMessage", Qt::DirectConnection))
            m_window->print(QStringLiteral("tick: the active service has no send step"));
        else
            m_sending.start();
    }
    else if (step.verb == "crash")
        emit crashRequested();
}

void ZnHostScript::screenshot(const QString& what, const QString& path)
{
    QWidget* widget = m_window;
    if (what == QLatin1String("options"))
        widget = m_window->showOptions();
    QApplication::processEvents();
    const QImage shot = widget->grab().toImage();
    const bool saved = QDir().mkpath(QFileInfo(path).absolutePath()) && shot.save(path, "PNG");
    if (what == QLatin1String("options"))
        static_cast<QDialog*>(widget)->reject();
    if (!saved)
    {
        emit failed(QStringLiteral("cannot write the screenshot %1").arg(path));
        return;
    }
    m_window->print(QStringLiteral("screenshot %1 (%2 x %3)").arg(path).arg(shot.width()).arg(shot.height()));
}
