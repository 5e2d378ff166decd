#pragma once

#include "czndocument.h"
#include "cznstring.h"

#include <QMap>

// The host's statistics of annotative work per drawing, kept by the drawing's anonymous name. The
// annotation commands count into it; the telemetry registers a drawing when its database is attached
// and takes snapshots of the drawing's annotation state when it is attached and detached.
class CZnCIPAnnotationDataRecord
{
public:
    // The one instance, created on first use and again after destroy().
    static CZnCIPAnnotationDataRecord* getInstance();
    // Discards the instance with every drawing's statistics.
    static void destroy();

    // Starts statistics for a drawing; a drawing already registered keeps what it has.
    void addRecord(CZnString name);
    // Snapshots of the drawing's annotation scales, annotative dimension styles and annotative text
    // styles. A name that was never registered is ignored.
    void SetAnnotationScaleDiffCount(CZnString name, OdSmartPtr<CZnDocument> document);
    void SetAnnotativeDimStyleDiffCount(CZnString name, OdSmartPtr<CZnDocument> document);
    void SetAnnotativeTextStyleDiffCount(CZnString name, OdSmartPtr<CZnDocument> document);
    // Annotative operations and annotative objects counted for the drawing; 0 for an unknown name.
    int getAnnotativeDimStyleCount(CZnString name);
    int getAnnotativeObjectCount(CZnString name);

    // Counting, as the host's annotation commands do it. Ignored for a name that is not registered.
    void AddAnnotativeOperations(const CZnString& name, int count);
    void SetAnnotativeObjectCount(const CZnString& name, int count);

    bool HasRecord(const CZnString& name) const { return m_drawings.contains(name.toQString()); }
    // How many snapshots of each kind were taken for the drawing: scales, dimension styles, text styles.
    void GetSnapshotCounts(const CZnString& name, int& scales, int& dimStyles, int& textStyles) const;

private:
    CZnCIPAnnotationDataRecord() = default;

    struct Drawing
    {
        int scaleSnapshots = 0;
        int dimStyleSnapshots = 0;
        int textStyleSnapshots = 0;
        int annotativeOperations = 0;
        int annotativeObjects = 0;
    };
    Drawing* find(const CZnString& name);

    QMap<QString, Drawing> m_drawings;
};
