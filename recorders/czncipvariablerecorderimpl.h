#pragma once

#include "czncipvariabledatarecord.h"
#include "czncipvariablerecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

#include <map>
#include <memory>

// Watches the system variables its owner names: every change of value and how long each value was
// held. When stopped it reports, per variable, how many values it saw and for how many seconds in all,
// and forgets the variables.
class CZnCIPVariableRecorderImpl final : public CZnCIPVariableRecorder,
                                         public OdStaticRxObject<CZnEditorReactor>
{
public:
    CZnCIPVariableRecorderImpl();
    ~CZnCIPVariableRecorderImpl() override;
    CZnCIPVariableRecorderImpl(const CZnCIPVariableRecorderImpl&) = delete;
    CZnCIPVariableRecorderImpl& operator=(const CZnCIPVariableRecorderImpl&) = delete;

    // CZnCIPRecorder
    void Start() override;
    void Stop() override;

    // CZnCIPVariableRecorder
    void AddVariable(const CZnString& name) override;
    void RemoveVariable(const CZnString& name) override;

    // OdEditorReactor
    void sysVarChanged(OdDbDatabase* database, const OdString& name) override;

    // The record of a watched variable, or null.
    const CZnCIPVariableDataRecord* Record(const CZnString& name) const;
    std::size_t WatchedCount() const { return records.size(); }

private:
    struct ByHostOrder
    {
        bool operator()(const CZnString& a, const CZnString& b) const { return a.compare(b) < 0; }
    };

    static void Report(const CZnCIPVariableDataRecord& record);

    std::map<CZnString, std::unique_ptr<CZnCIPVariableDataRecord>, ByHostOrder> records;
};
