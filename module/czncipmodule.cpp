#include "czncipmodule.h"

#include "czncipcommandsrecorder.h"
#include "czncipsessionrecorder.h"
#include "czncipsystemrecorder.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "czntestutils.h"
#include "odeditor.h"

namespace
{
// The host runs the telemetry only with its GUI and when its resources do not suppress it.
bool stayPassive()
{
    return GetZnResources()->IsCIPSuppressed() || !CZnTestUtils::IsGUIEnabled();
}

template <class T> void destroyRecorder(CZnCIPImpl& cip, T*& recorder)
{
    if (!recorder)
        return;
    cip.RemoveRecorder(recorder);
    delete recorder;
    recorder = nullptr;
}
} // namespace

CZnCIPModule::CZnCIPModule() = default;
CZnCIPModule::~CZnCIPModule() = default;

void CZnCIPModule::initApp()
{
    if (stayPassive())
        return;
    odedEditor()->addReactor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(&m_cip));
    GetZnSystemServices()->GetDocumentManager()->AddReactor(
        static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(&m_cip));
    SetZnCIP(&m_cip);
    m_cip.StartRecordersIfEnabled();

    m_commands = new CZnCIPCommandsRecorder;
    m_cip.AddRecorder(m_commands);
    m_system = new CZnCIPSystemRecorder;
    m_cip.AddRecorder(m_system);
    m_session = new CZnCIPSessionRecorder;
    m_cip.AddRecorder(m_session);
}

void CZnCIPModule::uninitApp()
{
    if (stayPassive())
        return;
    m_cip.StopRecorders();
    destroyRecorder(m_cip, m_commands);
    destroyRecorder(m_cip, m_system);
    destroyRecorder(m_cip, m_session);
    SetZnCIP(nullptr);
    GetZnSystemServices()->GetDocumentManager()->RemoveReactor(
        static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(&m_cip));
    odedEditor()->removeReactor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(&m_cip));
}
