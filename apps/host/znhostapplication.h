#pragma once

#include "odrxmoduleloader.h"
#include "znhosttelemetryextras.h"

#include <QString>

#include <memory>

class ZnHostCommands;
class ZnHostWindow;

// The host program's life, in the order a CAD host runs it: configuration, the telemetry module
// loaded and initialised, the main window and its first drawing, the user's work (interactive or
// scripted), then shut-down: drawings closed, main window destroyed, uninitApp, deleteModule, unload.
class ZnHostApplication
{
public:
    struct Options
    {
        QString configPath;
        QString modulePath;
        QString scriptPath;
    };

    explicit ZnHostApplication(Options options);
    ~ZnHostApplication();

    // Runs the whole session; the process exit code.
    int run();

private:
    bool loadModule();
    void shutDown();
    [[noreturn]] void crash();

    Options m_options;
    OdRxModuleLoader m_loader;
    OdRxModule* m_module = nullptr;
    std::unique_ptr<ZnHostCommands> m_commands;
    ZnHostWindow* m_window = nullptr;
    ZnHostTelemetryExtras m_extras;
};
