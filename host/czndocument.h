#pragma once

#include "cznstring.h"
#include "odrxobject.h"
#include "odsmartptr.h"

class OdDbDatabase;

// An open drawing of the host.
class CZnDocument : public OdRxObject
{
public:
    explicit CZnDocument(const CZnString& path) : m_path(path) {}

    const CZnString& path() const { return m_path; }
    OdDbDatabase* database() const { return m_database; }
    void setDatabase(OdDbDatabase* database) { m_database = database; }

private:
    CZnString m_path;
    OdDbDatabase* m_database = nullptr;
};
using CZnDocumentPtr = OdSmartPtr<CZnDocument>;
