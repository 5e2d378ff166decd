#pragma once

#include "odrxdictionary.h"

// The process-wide registry of named services. The host puts its system-variable descriptors under
// "ODDB_SYSVARDICT" (a dictionary of OdDbSysVarDesc by variable name).
OdRxDictionaryPtr odrxSysRegistry();
