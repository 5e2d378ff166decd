#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class CZnCIPRecorder;

// The telemetry components that the module carries but does not start by itself: the local XML log
// service and the drawing, performance, build and variable recorders. A host configuration can ask for
// them ([telemetry] service=xml, recorders=drawing,performance,build,variables, variables=NAME,...);
// the host program then creates them and hands them to the published CIP object, as any caller may.
class ZnHostTelemetryExtras
{
public:
    using Owned = std::pair<CZnCIPRecorder*, void (*)(CZnCIPRecorder*)>;

    ZnHostTelemetryExtras() = default;
    ZnHostTelemetryExtras(const ZnHostTelemetryExtras&) = delete;
    ZnHostTelemetryExtras& operator=(const ZnHostTelemetryExtras&) = delete;
    ~ZnHostTelemetryExtras();

    // Reads the [telemetry] keys; false with message set when a value names nothing known.
    bool Configure(const QString& configPath, QString* message);
    // After initApp: installs and adds what was asked for. Does nothing without a CIP object.
    void Attach();
    // Before uninitApp: takes the recorders out of the CIP object again and destroys them.
    void Detach();

private:
    bool m_xmlLog = false;
    QStringList m_recorderNames;
    QStringList m_variables;
    std::vector<Owned> m_recorders;
};
