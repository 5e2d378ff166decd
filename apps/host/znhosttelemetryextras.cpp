#include "znhosttelemetryextras.h"

#include "czncip.h"
#include "czncipbuildrecorder.h"
#include "czncipdrawingrecorder.h"
#include "czncipperformancerecorder.h"
#include "czncipservice_static.h"
#include "czncipvariablerecorderimpl.h"

#include <QSettings>

namespace
{
const QStringList& knownRecorders()
{
    static const QStringList names{"drawing", "performance", "build", "variables"};
    return names;
}

// Recorders have no common virtual destructor: each is destroyed as what it is.
template <class T> void destroyAs(CZnCIPRecorder* recorder)
{
    delete static_cast<T*>(recorder);
}

template <class T> ZnHostTelemetryExtras::Owned own(T* recorder)
{
    return {recorder, &destroyAs<T>};
}

QStringList listValue(const QSettings& file, const char* key)
{
    // A list may be written with commas (QSettings splits it) or as one text.
    QStringList items;
    for (const QString& part : file.value(QLatin1String(key)).toStringList())
        for (const QString& item : part.split(',', Qt::SkipEmptyParts))
            items << item.trimmed();
    return items;
}
} // namespace

ZnHostTelemetryExtras::~ZnHostTelemetryExtras()
{
    Detach();
}

bool ZnHostTelemetryExtras::Configure(const QString& configPath, QString* message)
{
    const QSettings file(configPath, QSettings::IniFormat);
    QStringList problems;
    const QString service =
        file.value(QStringLiteral("telemetry/service"), QStringLiteral("ga")).toString().trimmed();
    m_xmlLog = service == QLatin1String("xml");
    if (!m_xmlLog && service != QLatin1String("ga"))
        problems << QStringLiteral("telemetry/service=%1 (ga or xml)").arg(service);
    for (const QString& name : listValue(file, "telemetry/recorders"))
    {
        if (knownRecorders().contains(name))
            m_recorderNames << name;
        else
            problems << QStringLiteral("telemetry/recorders: %1").arg(name);
    }
    m_variables = listValue(file, "telemetry/variables");
    if (!problems.isEmpty() && message)
        *message =
            QStringLiteral("host configuration %1: unknown %2; ignored").arg(configPath, problems.join(", "));
    return problems.isEmpty();
}

void ZnHostTelemetryExtras::Attach()
{
    CZnCIP* cip = GetZnCIP();
    if (!cip)
        return;
    if (m_xmlLog)
    {
        // The CIP object owns the service it holds from now on; the one it held is ours to destroy.
        CZnCIPService* previous = cip->GetService();
        cip->SetService(new CZnCIPService_Static);
        delete previous;
    }
    for (const QString& name : m_recorderNames)
    {
        Owned recorder;
        if (name == QLatin1String("drawing"))
            recorder = own(new CZnCIPDrawingRecorder);
        else if (name == QLatin1String("performance"))
            recorder = own(new CZnCIPPerformanceRecorder);
        else if (name == QLatin1String("build"))
            recorder = own(new CZnCIPBuildRecorder);
        else
        {
            auto* variables = new CZnCIPVariableRecorderImpl;
            for (const QString& variable : m_variables)
                variables->AddVariable(CZnString(variable));
            recorder = own(variables);
        }
        m_recorders.push_back(recorder);
        cip->AddRecorder(recorder.first);
    }
}

void ZnHostTelemetryExtras::Detach()
{
    CZnCIP* cip = GetZnCIP();
    for (const Owned& recorder : m_recorders)
    {
        if (cip)
            cip->RemoveRecorder(recorder.first);
        recorder.second(recorder.first);
    }
    m_recorders.clear();
}
