#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class ZnHostWindow;

// One scripted step of a headless run.
struct ZnHostStep
{
    QString verb;
    QString argument;
    int line = 0;
};

// Runs the host program from a script of steps, one per line, so a whole session can run without
// a person:
//   new [NAME]            a new drawing           open PATH        opens a drawing
//   close                 closes the active one   type TEXT        a command-line entry
//   set NAME VALUE        gives a system variable a value
//   wait MS [WHAT]        lets MS milliseconds pass with the event loop running
//   wait-until MS [WHAT]  waits until MS milliseconds after the program started
//                         (with WHAT, the wait is announced: "waiting 27 s for WHAT")
//   answer join|decline|escape   how to answer the next join question
//   participate on|off    the Tools menu switch
//   options participate on|off   Tools > Options: sets Participate and presses OK
//   screenshot window|options FILE   writes a picture of the main window or the Options dialog
//   tick                  runs the module's send step now, as its 30-second timer would; the next
//                         step waits until the sends it started are answered (at most 15 s)
//   crash                 dies on purpose (after a crash report)
//   quit                  ends the run cleanly (also the end of the script)
// Blank lines and lines starting with # are ignored. Steps wait while a modal dialog is open.
class ZnHostScript : public QObject
{
    Q_OBJECT

public:
    // Parses the script; false with error set when a line is not a step.
    bool parse(const QString& text, QString* error);
    // Called before the application's event loop runs: the steps run from that loop.
    void start(ZnHostWindow* window);

signals:
    void answerArmed(const QString& answer);
    void crashRequested();
    void finished();
    // A step could not do its work; the run ends with an error.
    void failed(const QString& message);

private slots:
    void next();

private:
    void runStep(const ZnHostStep& step);
    void screenshot(const QString& what, const QString& path);

    QList<ZnHostStep> m_steps;
    int m_next = 0;
    ZnHostWindow* m_window = nullptr;
    QElapsedTimer m_sending;
    int m_mainLoopLevel = 1;
};
