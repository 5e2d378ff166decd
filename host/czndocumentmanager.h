#pragma once

#include "czndocument.h"
#include "czndocumentmanagerreactor.h"

#include <vector>

// The host's open documents, and the reactors told about their life.
class CZnDocumentManager
{
public:
    void AddReactor(CZnDocumentManagerReactor* reactor);
    void RemoveReactor(CZnDocumentManagerReactor* reactor);
    bool HasReactor(CZnDocumentManagerReactor* reactor) const;
    size_t ReactorCount() const { return m_reactors.size(); }

    // The host's sequences of events: a new empty drawing, an existing file opened, a drawing closed.
    CZnDocument* NewDocument(const CZnString& path);
    CZnDocument* OpenDocument(const CZnString& path);
    void CloseDocument(CZnDocument* document);
    void CloseAll();
    const std::vector<CZnDocumentPtr>& Documents() const { return m_documents; }

    // Dispatch of one event to every registered reactor; a reactor removed meanwhile is skipped.
    template <class F> void Fire(F f)
    {
        const std::vector<CZnDocumentManagerReactor*> snapshot = m_reactors;
        for (CZnDocumentManagerReactor* reactor : snapshot)
            if (HasReactor(reactor))
                f(reactor);
    }

private:
    CZnDocument* Create(const CZnString& path, bool open);

    std::vector<CZnDocumentManagerReactor*> m_reactors;
    std::vector<CZnDocumentPtr> m_documents;
};
