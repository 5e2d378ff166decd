#include "czncipannotationdatarecord.h"

#include <memory>

namespace
{
std::unique_ptr<CZnCIPAnnotationDataRecord>& instance()
{
    static std::unique_ptr<CZnCIPAnnotationDataRecord> theInstance;
    return theInstance;
}
} // namespace

CZnCIPAnnotationDataRecord* CZnCIPAnnotationDataRecord::getInstance()
{
    if (!instance())
        instance().reset(new CZnCIPAnnotationDataRecord);
    return instance().get();
}

void CZnCIPAnnotationDataRecord::destroy()
{
    instance().reset();
}

CZnCIPAnnotationDataRecord::Drawing* CZnCIPAnnotationDataRecord::find(const CZnString& name)
{
    auto it = m_drawings.find(name.toQString());
    return it == m_drawings.end() ? nullptr : &*it;
}

void CZnCIPAnnotationDataRecord::addRecord(CZnString name)
{
    if (!find(name))
        m_drawings.insert(name.toQString(), Drawing());
}

void CZnCIPAnnotationDataRecord::SetAnnotationScaleDiffCount(CZnString name, OdSmartPtr<CZnDocument>)
{
    if (Drawing* d = find(name))
        ++d->scaleSnapshots;
}

void CZnCIPAnnotationDataRecord::SetAnnotativeDimStyleDiffCount(CZnString name, OdSmartPtr<CZnDocument>)
{
    if (Drawing* d = find(name))
        ++d->dimStyleSnapshots;
}

void CZnCIPAnnotationDataRecord::SetAnnotativeTextStyleDiffCount(CZnString name, OdSmartPtr<CZnDocument>)
{
    if (Drawing* d = find(name))
        ++d->textStyleSnapshots;
}

int CZnCIPAnnotationDataRecord::getAnnotativeDimStyleCount(CZnString name)
{
    const Drawing* d = find(name);
    return d ? d->annotativeOperations : 0;
}

int CZnCIPAnnotationDataRecord::getAnnotativeObjectCount(CZnString name)
{
    const Drawing* d = find(name);
    return d ? d->annotativeObjects : 0;
}

void CZnCIPAnnotationDataRecord::AddAnnotativeOperations(const CZnString& name, int count)
{
    if (Drawing* d = find(name))
        d->annotativeOperations += count;
}

void CZnCIPAnnotationDataRecord::SetAnnotativeObjectCount(const CZnString& name, int count)
{
    if (Drawing* d = find(name))
        d->annotativeObjects = count;
}

void CZnCIPAnnotationDataRecord::GetSnapshotCounts(const CZnString& name, int& scales, int& dimStyles,
                                                   int& textStyles) const
{
    const auto it = m_drawings.constFind(name.toQString());
    const Drawing d = it == m_drawings.constEnd() ? Drawing() : *it;
    scales = d.scaleSnapshots;
    dimStyles = d.dimStyleSnapshots;
    textStyles = d.textStyleSnapshots;
}
