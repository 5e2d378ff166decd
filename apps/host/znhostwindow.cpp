#include "znhostwindow.h"

#include "znhostcommands.h"
#include "znhostoptionsdialog.h"

#include "czncip.h"
#include "czndocumentmanager.h"
#include "cznincrementaltimermanager.h"
#include "cznsystemservices.h"
#include "cznsystemvariables.h"
#include "odeditor.h"

#include <QAction>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextStream>
#include <QVBoxLayout>

#include <cstdio>

namespace
{
const char* documentProperty = "znDocument";
}

ZnHostWindow::ZnHostWindow(const ZnHostCommands& commands)
    : m_commands(commands), m_tabs(new QTabWidget), m_history(new QPlainTextEdit),
      m_commandLine(new QLineEdit)
{
    setObjectName(QStringLiteral("ZnHostWindow"));
    setWindowTitle(QStringLiteral("ZnCAD"));
    resize(1100, 720);
    m_tabs->setDocumentMode(true);
    setCentralWidget(m_tabs);

    m_history->setReadOnly(true);
    m_history->setMaximumBlockCount(2000);
    m_commandLine->setPlaceholderText(tr("Type a command"));
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_history);
    layout->addWidget(m_commandLine);
    auto* dock = new QDockWidget(tr("Command Line"), this);
    dock->setObjectName(QStringLiteral("commandLine"));
    dock->setWidget(panel);
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    connect(m_commandLine, SIGNAL(returnPressed()), this, SLOT(onCommandEntered()));

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(
        tr("&New"), this, [this] { newDocument(QString()); }, QKeySequence::New);
    file->addAction(
        tr("&Open..."), this,
        [this]
        {
            const QString path = QFileDialog::getOpenFileName(this, tr("Open Drawing"));
            if (!path.isEmpty())
                openDocument(path);
        },
        QKeySequence::Open);
    file->addAction(
        tr("&Close"), this, [this] { closeActiveDocument(); }, QKeySequence::Close);
    file->addSeparator();
    file->addAction(tr("E&xit"), this, &QWidget::close, QKeySequence::Quit);

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->addAction(tr("&Options..."), this, [this] { showOptions(); });
    tools->addSeparator();
    m_participate = tools->addAction(tr("Participate in the Customer Involvement Program"));
    m_participate->setCheckable(true);
    connect(m_participate, SIGNAL(toggled(bool)), this, SLOT(onParticipationToggled(bool)));

    statusBar()->showMessage(tr("Ready"));
}

void ZnHostWindow::print(const QString& line)
{
    m_history->appendPlainText(line);
    QTextStream(stdout) << "zncip-host: " << line << '\n';
    std::fflush(stdout);
}

void ZnHostWindow::runCommandLine(const QString& text)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty())
        return;
    print(tr("Command: %1").arg(entry));
    OdEdCommandContext context;
    if (OdEdCommand* command = m_commands.find(entry))
    {
        // The host times every command it runs; its performance timers are keyed by command name.
        CZnIncrementalTimer* timer = CZnIncrementalTimerManager::getTimer(CZnString(command->globalName()));
        timer->start();
        odedEditor()->fireCommandWillStart(command, &context);
        command->execute(&context);
        odedEditor()->fireCommandEnded(command, &context);
        timer->stop();
        if (CZnString(command->globalName()).toQString() == QLatin1String("OPTIONS"))
            showOptions();
        return;
    }
    // The host passes the name as typed; a reactor may still supply a command for it.
    OdEdCommandPtr supplied = odedEditor()->fireUnknownCommand(CZnString(entry).toOdString(), &context);
    if (!supplied)
        print(tr("Unknown command \"%1\".").arg(entry));
}

CZnDocument* ZnHostWindow::newDocument(const QString& name)
{
    const QString title = name.isEmpty() ? QStringLiteral("Drawing%1.dwg").arg(++m_untitled) : name;
    CZnDocument* document = GetZnSystemServices()->GetDocumentManager()->NewDocument(CZnString(title));
    addTab(document, title);
    print(tr("New drawing %1").arg(title));
    return document;
}

CZnDocument* ZnHostWindow::openDocument(const QString& path)
{
    CZnDocument* document = GetZnSystemServices()->GetDocumentManager()->OpenDocument(CZnString(path));
    addTab(document, QFileInfo(path).fileName());
    print(tr("Opened %1").arg(path));
    return document;
}

void ZnHostWindow::addTab(CZnDocument* document, const QString& title)
{
    auto* view = new QLabel(tr("%1\nModel space").arg(title));
    view->setAlignment(Qt::AlignCenter);
    view->setStyleSheet(QStringLiteral("background:#1e2430; color:#9fb3c8; font-size:18px;"));
    view->setProperty(documentProperty, QVariant::fromValue<void*>(document));
    m_tabs->setCurrentIndex(m_tabs->addTab(view, title));
}

void ZnHostWindow::closeActiveDocument()
{
    QWidget* view = m_tabs->currentWidget();
    if (!view)
        return;
    auto* document = static_cast<CZnDocument*>(view->property(documentProperty).value<void*>());
    const QString title = m_tabs->tabText(m_tabs->currentIndex());
    GetZnSystemServices()->GetDocumentManager()->CloseDocument(document);
    delete view;
    print(tr("Closed %1").arg(title));
}

void ZnHostWindow::setVariable(const QString& name, const QString& value)
{
    bool isNumber = false;
    const int number = value.toInt(&isNumber);
    if (isNumber)
        CZnSystemVariables::SetInt(CZnString(name.toUpper()), number);
    else
        CZnSystemVariables::SetString(CZnString(name.toUpper()), CZnString(value));
    print(tr("%1 = %2").arg(name.toUpper(), value));
}

void ZnHostWindow::syncParticipation()
{
    CZnCIP* cip = GetZnCIP();
    m_participate->setEnabled(cip != nullptr);
    const QSignalBlocker blocker(m_participate);
    m_participate->setChecked(cip && cip->IsEnabled());
}

ZnHostOptionsDialog* ZnHostWindow::showOptions()
{
    if (m_options)
        return m_options;
    m_options = new ZnHostOptionsDialog(this);
    m_options->setAttribute(Qt::WA_DeleteOnClose);
    // Closed is gone, even before its deletion comes round: the next request opens a fresh page.
    connect(m_options, &QDialog::finished, this, [this] { m_options.clear(); });
    connect(m_options, &QDialog::accepted, this,
            [this]
            {
                const bool on = ZnHostOptionsDialog::storedParticipation();
                print(on ? tr("Options: participating in the Customer Involvement Program")
                         : tr("Options: not participating in the Customer Involvement Program"));
                syncParticipation();
            });
    m_options->open();
    return m_options;
}

void ZnHostWindow::onCommandEntered()
{
    const QString text = m_commandLine->text();
    m_commandLine->clear();
    runCommandLine(text);
}

void ZnHostWindow::onParticipationToggled(bool on)
{
    if (CZnCIP* cip = GetZnCIP())
        cip->SetEnabled(on);
    print(on ? tr("Participation switched on") : tr("Participation switched off"));
}
