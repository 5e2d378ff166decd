#include "odrxsysregistry.h"

OdRxDictionaryPtr odrxSysRegistry()
{
    static OdStaticRxObject<OdRxDictionary> registry;
    return OdRxDictionaryPtr(&registry);
}
