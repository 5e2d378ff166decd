#pragma once

#include "oderror_notthatkindofclass.h"
#include "odrxobject.h"
#include "odsmartptr.h"

// The SDK's checked conversion between object classes: null stays null, an object of another class
// raises OdError_NotThatKindOfClass instead of quietly becoming null.
template <class T> OdSmartPtr<T> odrxSafeCast(OdRxObject* object)
{
    if (!object)
        return OdSmartPtr<T>();
    T* converted = dynamic_cast<T*>(object);
    if (!converted)
        throw OdError_NotThatKindOfClass();
    return OdSmartPtr<T>(converted);
}

template <class T, class U> OdSmartPtr<T> odrxSafeCast(const OdSmartPtr<U>& object)
{
    return odrxSafeCast<T>(static_cast<OdRxObject*>(object.get()));
}
