#include "znhostscript.h"

#include "znhostwindow.h"

#include "czncip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace
{
const QStringList& verbs()
{
    static const QStringList list{"new",        "open",   "close",       "type",  "set", "wait",
                                  "wait-until", "answer", "participate", "crash", "quit"};
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
            step.argument.toInt(&ok);
        if (ok && step.verb == "answer")
            ok = QStringList{"join", "decline", "escape"}.contains(step.argument);
        if (ok && step.verb == "participate")
            ok = step.argument == "on" || step.argument == "off";
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
    QTimer::singleShot(0, this, SLOT(next()));
}

void ZnHostScript::next()
{
    // A step never runs inside a modal dialog's loop, except the answer the dialog waits for.
    if (QApplication::activeModalWidget())
    {
        if (m_next < m_steps.size() && m_steps[m_next].verb == QLatin1String("answer"))
            runStep(m_steps[m_next++]);
        QTimer::singleShot(20, this, SLOT(next()));
        return;
    }
    if (m_next >= m_steps.size())
    {
        emit finished();
        return;
    }
    const ZnHostStep step = m_steps[m_next++];
    if (step.verb == "wait" || step.verb == "wait-until")
    {
        const qint64 ms =
            step.verb == "wait" ? step.argument.toLongLong() : step.argument.toLongLong() - uptime();
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
    else if (step.verb == "crash")
        emit crashRequested();
}
