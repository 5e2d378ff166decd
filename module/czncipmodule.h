#pragma once

#include "czncipimpl.h"
#include "odrxmodule.h"

class CZnCIPCommandsRecorder;
class CZnCIPSystemRecorder;
class CZnCIPSessionRecorder;

// The plug-in's module object: owns the CIP object and the recorders of the running configuration,
// and wires them to the host between initApp and uninitApp.
class CZnCIPModule : public OdRxModule
{
public:
    CZnCIPModule();
    ~CZnCIPModule() override;

    void initApp() override;
    void uninitApp() override;

    CZnCIPImpl& cip() { return m_cip; }

private:
    CZnCIPImpl m_cip;
    CZnCIPCommandsRecorder* m_commands = nullptr;
    CZnCIPSystemRecorder* m_system = nullptr;
    CZnCIPSessionRecorder* m_session = nullptr;
};
