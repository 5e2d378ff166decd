#pragma once

#include "cznstring.h"
#include "odresbuf.h"

class OdDbDatabase;

// The host's system variables as the SDK publishes them: descriptors in the system registry's
// "ODDB_SYSVARDICT" dictionary, and sysVarChanged to the editor's reactors after every change.
class CZnSystemVariables
{
public:
    // Gives the variable a value (for one database, or application-wide without one) and tells the
    // editor's reactors. The variable is defined on first use.
    static void Set(const CZnString& name, const OdResBufPtr& value, OdDbDatabase* database = nullptr);
    static void SetInt(const CZnString& name, int value, OdDbDatabase* database = nullptr);
    static void SetString(const CZnString& name, const CZnString& value, OdDbDatabase* database = nullptr);
    // Takes the variable's descriptor away; a later Set defines it anew.
    static void Undefine(const CZnString& name);
    // Takes the whole dictionary out of the system registry.
    static void RemoveAll();
};
