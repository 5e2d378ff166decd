#include "oddbdatabase.h"

#include "oddbdictionary.h"

OdDbDatabasePtr OdDbDatabase::createObject()
{
    OdDbDatabasePtr database(OdRxObjectImpl<OdDbDatabase>::createObject());
    database->m_namedObjects = database->addObject(OdRxObjectImpl<OdDbDictionary>::createObject());
    return database;
}

OdDbObjectId OdDbDatabase::addObject(OdDbObject* object)
{
    if (!object)
        return OdDbObjectId();
    m_objects.emplace_back(object);
    ++m_approxNumObjects;
    return OdDbObjectId(object);
}

void OdDbDatabase::addDrawingClass(OdRxClass* rxClass)
{
    if (rxClass)
        m_classes->putAt(rxClass->name(), rxClass);
}

OdRxDictionaryIteratorPtr odDbGetDrawingClasses(OdDbDatabase& database)
{
    return database.drawingClasses()->newIterator();
}
