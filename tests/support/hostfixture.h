#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

// Each test starts from a freshly configured host: defaults everywhere, a settings profile and the
// application's QSettings in a folder of its own that is removed afterwards.
class HostFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The test's own folder.
    QString path(const QString& name = QString()) const;
    // Runs the event loop until pred is true or timeoutMs passed; returns pred().
    template <class P> static bool waitFor(P pred, int timeoutMs = 5000);
    static void processEvents(int ms = 0);

    QTemporaryDir m_dir;
};

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <class P> bool HostFixture::waitFor(P pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < timeoutMs)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return pred();
}
