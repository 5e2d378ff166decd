#include "czneditorreactor.h"

#include "odeditor.h"

namespace
{
template <class F> void forEachHostReactor(F f)
{
    odedEditor()->forEachReactor(
        [&](OdRxEventReactor* r)
        {
            if (auto* host = dynamic_cast<CZnEditorReactor*>(r))
                f(host);
        });
}
} // namespace

void znFireMainFrameCreated(QWidget* mainFrame)
{
    forEachHostReactor([&](CZnEditorReactor* r) { r->mainFrameCreated(mainFrame); });
}

void znFireMainFrameDestroyed(QWidget* mainFrame)
{
    forEachHostReactor([&](CZnEditorReactor* r) { r->mainFrameDestroyed(mainFrame); });
}
