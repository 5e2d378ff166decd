#pragma once

#include "cznstring.h"
#include "odrxobject.h"

class CZnDocument;

// Document events of the host. Every callback is an empty default; reactors override what they watch.
class CZnDocumentManagerReactor : public OdRxObject
{
public:
    virtual void DocumentCreateStarted(CZnDocument*) {}
    virtual void DocumentCreated(CZnDocument*) {}
    virtual void DocumentToBeDestroyed(CZnDocument*) {}
    virtual void DocumentDestroyed(CZnDocument*, const CZnString& /*fileName*/) {}
    virtual void DatabaseAttached(CZnDocument*) {}
    virtual void DatabaseDetached(CZnDocument*) {}
    virtual void DocumentCreateCanceled(CZnDocument*) {}
    virtual void DocumentPreOpen(CZnDocument*, const CZnString& /*path*/, int /*mode*/, int /*flags*/) {}
    virtual void DocumentActivated(CZnDocument*) {}
};
