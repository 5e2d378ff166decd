#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Answers the module's join question on behalf of a script: watches for the modal join dialog and
// clicks what a person would click. Without an armed answer in a headless run it closes the dialog
// with Escape after a second, so a run never hangs on a question nobody can see.
class ZnHostJoinAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit ZnHostJoinAnswerer(bool headless);

public slots:
    void arm(const QString& answer);

signals:
    void answered(const QString& answer);

private slots:
    void poll();

private:
    QTimer m_poll;
    QElapsedTimer m_unanswered;
    QString m_answer;
    bool m_headless;
};
