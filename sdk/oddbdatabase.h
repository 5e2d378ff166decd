#pragma once

#include "oddb.h"
#include "oddbobject.h"
#include "oddbobjectid.h"
#include "odrxclass.h"
#include "odrxdictionary.h"
#include "odsmartptr.h"
#include "odstring.h"

#include <vector>

class OdDbDatabase;
using OdDbDatabasePtr = OdSmartPtr<OdDbDatabase>;

// A drawing database: its objects, the named-objects dictionary, the classes its objects use, and
// what the host learnt about the file it was read from.
class OdDbDatabase : public OdRxObject
{
public:
    // A database holding only its (empty) named-objects dictionary, read from no file.
    static OdDbDatabasePtr createObject();

    // Full path of the file the drawing was read from; empty for a drawing never saved.
    const OdString& getFilename() const { return m_filename; }
    void setFilename(const OdString& path) { m_filename = path; }
    // The host's code for the file's format (0 DWG, 1 DXF, 2 DXB, ...); -1 when unknown.
    int getFileType() const { return m_fileType; }
    void setFileType(int code) { m_fileType = code; }
    // The file's format release as an OdDb::DwgVersion code; kDHL_Unknown when unknown.
    int originalFileVersion() const { return m_fileVersion; }
    void setOriginalFileVersion(int code) { m_fileVersion = code; }

    // About how many objects the database holds: every object added counts one; the host may
    // replace the figure with what the file's header says.
    int approxNumObjects() const { return m_approxNumObjects; }
    void setApproxNumObjects(int count) { m_approxNumObjects = count; }

    // Keeps object in the database and returns its id.
    OdDbObjectId addObject(OdDbObject* object);
    OdDbObjectId getNamedObjectsDictionaryId() const { return m_namedObjects; }
    // Points the database at another object as its named-objects dictionary (a damaged file may
    // hold something else there).
    void setNamedObjectsDictionaryId(const OdDbObjectId& id) { m_namedObjects = id; }

    // Records a class that the drawing's objects use; a class of the same name is replaced.
    void addDrawingClass(OdRxClass* rxClass);
    const OdRxDictionaryPtr& drawingClasses() const { return m_classes; }

private:
    OdString m_filename;
    int m_fileType = -1;
    int m_fileVersion = OdDb::kDHL_Unknown;
    int m_approxNumObjects = 0;
    std::vector<OdDbObjectPtr> m_objects;
    OdDbObjectId m_namedObjects;
    OdRxDictionaryPtr m_classes = OdRxDictionary::createObject();
};

// A walk over the classes of the drawing, each entry a class descriptor keyed by its name.
OdRxDictionaryIteratorPtr odDbGetDrawingClasses(OdDbDatabase& database);
