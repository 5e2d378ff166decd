#include "czncipimpl.h"

#include "cznciprecorder.h"
#include "czncipservice.h"
#include "czncipservice_ga.h"

#include <QTimer>
#include <QUuid>

#include <algorithm>

CZnCIPImpl::CZnCIPImpl() : m_service(new CZnCIPService_GA) {}

CZnCIPImpl::~CZnCIPImpl()
{
    // The service is ours; the recorders belong to whoever created them.
    delete m_service;
    m_service = nullptr;
}

CZnString& CZnCIPImpl::GetClientId()
{
    if (m_service)
        m_clientId = m_service->GetClientId();
    return m_clientId;
}

TimerEntry& CZnCIPImpl::GetTimer(quint64 key)
{
    auto it = m_timers.find(key);
    if (it == m_timers.end())
    {
        TimerEntry entry;
        entry.timer.start();
        entry.id = QUuid::createUuid().toString();
        it = m_timers.insert(key, entry);
    }
    return *it;
}

void CZnCIPImpl::AddRecorder(CZnCIPRecorder* recorder)
{
    RemoveRecorder(recorder);
    m_recorders.push_back(recorder);
    if (m_running)
        recorder->Start();
}

void CZnCIPImpl::RemoveRecorder(CZnCIPRecorder* recorder)
{
    auto it = std::find(m_recorders.begin(), m_recorders.end(), recorder);
    if (it == m_recorders.end())
        return;
    if (m_running)
        recorder->Stop();
    m_recorders.erase(it);
}

void CZnCIPImpl::SetService(CZnCIPService* service)
{
    m_service = service;
}

CZnCIPService* CZnCIPImpl::GetService()
{
    return m_service;
}

void CZnCIPImpl::StartSession()
{
    if (CZnCIPService* service = GetService())
        service->StartSession();
}

void CZnCIPImpl::StopSession(int reason, const char* crashFolder)
{
    if (CZnCIPService* service = GetService())
        service->StopSession(reason, crashFolder);
}

void CZnCIPImpl::EndSession()
{
    if (CZnCIPService* service = GetService())
        service->EndSession();
}

void CZnCIPImpl::mainFrameCreated(QWidget*)
{
    m_askPending = true;
}

void CZnCIPImpl::DocumentCreated(CZnDocument* document)
{
    if (m_askPending)
    {
        // Asked from the event loop, after the host's notification has returned.
        QTimer::singleShot(0, this, SLOT(AskForJoiningCIP()));
        m_askPending = false;
    }
    GetTimer(reinterpret_cast<quintptr>(document));
}

void CZnCIPImpl::StopRecorders()
{
    for (CZnCIPRecorder* recorder : m_recorders)
        recorder->Stop();
    m_running = false;
}
