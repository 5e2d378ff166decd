#include "czncipvariablerecorderimpl.h"

#include "editorregistration.h"
#include "oddbsysvardesc.h"
#include "odrxcast.h"
#include "odrxsysregistry.h"
#include "recorderevents.h"

namespace
{
struct Texts
{
    const CZnString screen{"Variables"};
    const CZnString name{"Name"};
    const CZnString duration{"Duration"};
    const CZnString count{"Count"};
    const OdString dictionary{"ODDB_SYSVARDICT"};
};

const Texts& texts()
{
    static const Texts fixed;
    return fixed;
}
} // namespace

CZnCIPVariableRecorderImpl::CZnCIPVariableRecorderImpl() = default;
CZnCIPVariableRecorderImpl::~CZnCIPVariableRecorderImpl() = default;

void CZnCIPVariableRecorderImpl::Start()
{
    registerWithEditor(this);
}

void CZnCIPVariableRecorderImpl::Stop()
{
    for (const auto& entry : records)
        Report(*entry.second);
    records.clear();
    unregisterFromEditor(this);
}

void CZnCIPVariableRecorderImpl::AddVariable(const CZnString& name)
{
    if (records.count(name))
        return;
    records.emplace(name, std::make_unique<CZnCIPVariableDataRecord>(name));
    // The value the variable has now is its first period, whether or not the recorder runs.
    sysVarChanged(nullptr, name.toOdString());
}

void CZnCIPVariableRecorderImpl::RemoveVariable(const CZnString& name)
{
    records.erase(name);
}

const CZnCIPVariableDataRecord* CZnCIPVariableRecorderImpl::Record(const CZnString& name) const
{
    auto it = records.find(name);
    return it == records.end() ? nullptr : it->second.get();
}

void CZnCIPVariableRecorderImpl::sysVarChanged(OdDbDatabase* database, const OdString& name)
{
    auto it = records.find(CZnString(name));
    if (it == records.end())
        return;

    OdRxObjectPtr entry = odrxSysRegistry()->getAt(texts().dictionary);
    if (!entry)
        return;
    // Anything but a dictionary under the registry's key is the host's error and is raised as such.
    OdRxDictionaryPtr variables = odrxSafeCast<OdRxDictionary>(entry);
    OdRxObjectPtr described = variables->getAt(name);
    const auto* descriptor = dynamic_cast<const OdDbSysVarDesc*>(described.get());
    if (!descriptor)
        return;
    OdResBufPtr value = descriptor->getValue(database);
    if (!value)
        return;

    CZnCIPVariableDataRecord& record = *it->second;
    record.Capture(value, record.clock.elapsed());
}

void CZnCIPVariableRecorderImpl::Report(const CZnCIPVariableDataRecord& watched)
{
    if (watched.periods.empty())
        return;
    // The record is reported as it stands now, without changing it.
    CZnCIPVariableDataRecord record = watched;
    record.CloseLastPeriod(record.clock.elapsed());
    const auto total = static_cast<std::int32_t>(record.TotalSeconds());
    if (!activeService())
        return;

    const Texts& t = texts();
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(t.screen, t.name, 1, record.name);
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(t.screen, t.duration, 15, static_cast<int>(total));
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(t.screen, t.count, 10, static_cast<int>(record.periods.size()));
    if (CZnCIPService* service = activeService())
        service->Send();
}
