#include "czndocumentmanager.h"

#include <algorithm>

void CZnDocumentManager::AddReactor(CZnDocumentManagerReactor* reactor)
{
    if (reactor && !HasReactor(reactor))
        m_reactors.push_back(reactor);
}

void CZnDocumentManager::RemoveReactor(CZnDocumentManagerReactor* reactor)
{
    m_reactors.erase(std::remove(m_reactors.begin(), m_reactors.end(), reactor), m_reactors.end());
}

bool CZnDocumentManager::HasReactor(CZnDocumentManagerReactor* reactor) const
{
    return std::find(m_reactors.begin(), m_reactors.end(), reactor) != m_reactors.end();
}

CZnDocument* CZnDocumentManager::Create(const CZnString& path, bool open)
{
    CZnDocumentPtr document(OdRxObjectImpl<CZnDocument>::createObject(path));
    CZnDocument* d = document.get();
    Fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreateStarted(d); });
    if (open)
        Fire([&](CZnDocumentManagerReactor* r) { r->DocumentPreOpen(d, path, 0, 0); });
    Fire([&](CZnDocumentManagerReactor* r) { r->DatabaseAttached(d); });
    m_documents.push_back(document);
    Fire([&](CZnDocumentManagerReactor* r) { r->DocumentCreated(d); });
    Fire([&](CZnDocumentManagerReactor* r) { r->DocumentActivated(d); });
    return d;
}

CZnDocument* CZnDocumentManager::NewDocument(const CZnString& path)
{
    return Create(path, false);
}

CZnDocument* CZnDocumentManager::OpenDocument(const CZnString& path)
{
    return Create(path, true);
}

void CZnDocumentManager::CloseDocument(CZnDocument* document)
{
    auto it = std::find_if(m_documents.begin(), m_documents.end(),
                           [&](const CZnDocumentPtr& d) { return d.get() == document; });
    if (it == m_documents.end())
        return;
    CZnDocumentPtr keep = *it; // alive until the last event has been dispatched
    Fire([&](CZnDocumentManagerReactor* r) { r->DocumentToBeDestroyed(document); });
    Fire([&](CZnDocumentManagerReactor* r) { r->DatabaseDetached(document); });
    m_documents.erase(it);
    Fire([&](CZnDocumentManagerReactor* r) { r->DocumentDestroyed(document, document->path()); });
}

void CZnDocumentManager::CloseAll()
{
    while (!m_documents.empty())
        CloseDocument(m_documents.back().get());
}
