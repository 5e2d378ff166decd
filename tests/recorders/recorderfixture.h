#pragma once

#include "czncipimpl.h"
#include "hostfixture.h"
#include "odeditor.h"
#include "qtprinting.h"
#include "recordingservice.h"

#include <QStringList>

#include <memory>

// A core object published as the host's CIP object, with a recording service in place of its own,
// and one recorder of type R that the test starts through the host editor.
template <class R> class RecorderFixture : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        m_cip = std::make_unique<CZnCIPImpl>();
        // The core object deletes only the service it holds at the end, so its own goes here.
        CZnCIPService* own = m_cip->GetService();
        m_cip->SetService(new RecordingService(&journal));
        delete own;
        SetZnCIP(m_cip.get());
        recorder.Start();
    }
    void TearDown() override
    {
        // The editor is process-wide: a recorder left registered would outlive this test.
        recorder.Stop();
        SetZnCIP(nullptr);
        m_cip.reset();
        HostFixture::TearDown();
    }

    // The calls one event makes on the service.
    static QStringList event(const QString& category, const QString& action, const QString& label)
    {
        return {QStringLiteral("SetEvent %1|%2|%3|1").arg(category, action, label), QStringLiteral("Send")};
    }
    // Replaces the recording service by none; the journal stays.
    void withdrawService()
    {
        delete m_cip->GetService();
        m_cip->SetService(nullptr);
    }

    QStringList journal;
    std::unique_ptr<CZnCIPImpl> m_cip;
    R recorder;
};
