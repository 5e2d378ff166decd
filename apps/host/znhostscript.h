#pragma once

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
//   wait MS               lets MS milliseconds pass with the event loop running
//   wait-until MS         waits until MS milliseconds after the program started
//   answer join|decline|escape   how to answer the next join question
//   participate on|off    the Tools menu switch   crash            dies on purpose (after a crash report)
//   quit                  ends the run cleanly (also the end of the script)
// Blank lines and lines starting with # are ignored. Steps wait while a modal dialog is open.
class ZnHostScript : public QObject
{
    Q_OBJECT

public:
    // Parses the script; false with error set when a line is not a step.
    bool parse(const QString& text, QString* error);
    void start(ZnHostWindow* window);

signals:
    void answerArmed(const QString& answer);
    void crashRequested();
    void finished();

private slots:
    void next();

private:
    void runStep(const ZnHostStep& step);

    QList<ZnHostStep> m_steps;
    int m_next = 0;
    ZnHostWindow* m_window = nullptr;
};
