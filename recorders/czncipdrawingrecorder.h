#pragma once

#include "czncipdrawingdatarecord.h"
#include "cznciprecorder.h"
#include "czndocumentmanagerreactor.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

#include <cstddef>
#include <memory>
#include <vector>

// Reports the life of drawings: how long creating or opening took, the facts of the file once its
// database is attached, detaching and closing with how long the drawing was open and how much
// annotative work went into it, and the quit of the application. A drawing is known only by the
// anonymous identifier the CIP object keeps for its document, never by its file name.
class CZnCIPDrawingRecorder final : public CZnCIPRecorder,
                                    public OdStaticRxObject<CZnDocumentManagerReactor>,
                                    public OdStaticRxObject<CZnEditorReactor>
{
public:
    CZnCIPDrawingRecorder();
    ~CZnCIPDrawingRecorder();
    CZnCIPDrawingRecorder(const CZnCIPDrawingRecorder&) = delete;
    CZnCIPDrawingRecorder& operator=(const CZnCIPDrawingRecorder&) = delete;

    // CZnCIPRecorder
    void Start() override;
    void Stop() override;

    // CZnDocumentManagerReactor
    void DocumentCreateStarted(CZnDocument* document) override;
    void DocumentCreated(CZnDocument* document) override;
    void DocumentToBeDestroyed(CZnDocument* document) override;
    void DocumentDestroyed(CZnDocument* document, const CZnString& fileName) override;
    void DatabaseAttached(CZnDocument* document) override;
    void DatabaseDetached(CZnDocument* document) override;
    void DocumentCreateCanceled(CZnDocument* document) override;
    void DocumentPreOpen(CZnDocument* document, const CZnString& path, int mode, int flags) override;

    // CZnEditorReactor
    void mainFrameDestroyed(QWidget* mainFrame) override;

    // Events begun and not yet completed.
    std::size_t PendingCount() const { return pending.size(); }

private:
    using RecordPtr = std::unique_ptr<CZnCIPDrawingDataRecord>;

    static RecordPtr NewRecord(CZnCIPDrawingDataRecord::Reason reason, bool startTimer);
    // Takes the most recent pending event off the stack and completes it for document.
    void CompleteTop(CZnDocument* document, bool withDocumentTimer);
    static void Write(const CZnCIPDrawingDataRecord& record);

    // The most recent event is at the back and is always the one completed next.
    std::vector<RecordPtr> pending;
};
