#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Measures how long the GUI thread was kept from its event loop: a timer asks to run every 10 ms, and
// any longer gap between two runs is time in which the window could not have answered the user.
class ZnHostStallWatch : public QObject
{
    Q_OBJECT
public:
    void start();
    qint64 longestMs() const { return m_longest; }

private slots:
    void beat();

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};
