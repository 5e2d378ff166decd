#include "cznsystemvariables.h"

#include "oddbsysvardesc.h"
#include "odeditor.h"
#include "odrxcast.h"
#include "odrxsysregistry.h"

namespace
{
const OdString& dictionaryKey()
{
    static const OdString key("ODDB_SYSVARDICT");
    return key;
}

OdRxDictionaryPtr variables()
{
    OdRxDictionaryPtr registry = odrxSysRegistry();
    OdRxDictionaryPtr dictionary = odrxSafeCast<OdRxDictionary>(registry->getAt(dictionaryKey()));
    if (!dictionary)
    {
        dictionary = OdRxDictionary::createObject();
        registry->putAt(dictionaryKey(), dictionary.get());
    }
    return dictionary;
}
} // namespace

void CZnSystemVariables::Set(const CZnString& name, const OdResBufPtr& value, OdDbDatabase* database)
{
    const OdString key = name.toOdString();
    OdRxDictionaryPtr dictionary = variables();
    OdDbSysVarDescPtr descriptor = odrxSafeCast<OdDbSysVarDesc>(dictionary->getAt(key));
    if (!descriptor)
    {
        descriptor = OdDbSysVarDesc::createObject(key);
        dictionary->putAt(key, descriptor.get());
    }
    descriptor->setValue(value, database);
    odedEditor()->fireSysVarChanged(database, key);
}

void CZnSystemVariables::SetInt(const CZnString& name, int value, OdDbDatabase* database)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(value);
    Set(name, rb, database);
}

void CZnSystemVariables::SetString(const CZnString& name, const CZnString& value, OdDbDatabase* database)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtString);
    rb->setString(value.toOdString());
    Set(name, rb, database);
}

void CZnSystemVariables::Undefine(const CZnString& name)
{
    variables()->remove(name.toOdString());
}

void CZnSystemVariables::RemoveAll()
{
    odrxSysRegistry()->remove(dictionaryKey());
}
