#pragma once

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class ZnHostCommands;
class ZnHostOptionsDialog;
class CZnDocument;

// The host program's main window: documents in tabs and a command line. Everything it does goes
// through the host's document manager and editor, so the module sees what a user does.
class ZnHostWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ZnHostWindow(const ZnHostCommands& commands);

    // Runs one command-line entry: a known command, or an unknown name.
    void runCommandLine(const QString& text);
    CZnDocument* newDocument(const QString& name);
    CZnDocument* openDocument(const QString& path);
    void closeActiveDocument();
    // Gives a system variable a value (a number when it reads as one), as SETVAR does.
    void setVariable(const QString& name, const QString& value);
    // Mirrors the participation switch in the Tools menu.
    void syncParticipation();
    // Tools > Options, opened on the Customer Involvement Program page (or the one already open).
    // Window-modal without blocking: the choice applies when the user presses OK.
    ZnHostOptionsDialog* showOptions();
    void print(const QString& line);

private slots:
    void onCommandEntered();
    void onParticipationToggled(bool on);

private:
    void addTab(CZnDocument* document, const QString& title);

    const ZnHostCommands& m_commands;
    QTabWidget* m_tabs;
    QPlainTextEdit* m_history;
    QLineEdit* m_commandLine;
    QAction* m_participate;
    QPointer<ZnHostOptionsDialog> m_options;
    int m_untitled = 0;
};
