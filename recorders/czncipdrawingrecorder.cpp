#include "czncipdrawingrecorder.h"

#include "czncip.h"
#include "czncipannotationdatarecord.h"
#include "czndocument.h"
#include "cznsystemservices.h"
#include "editorregistration.h"
#include "oddbdatabase.h"
#include "oddbdictionary.h"
#include "odproxyclass.h"
#include "odrxcast.h"
#include "recorderevents.h"

#include <QFileInfo>

namespace
{
using Record = CZnCIPDrawingDataRecord;

// The screens and value names of the records, built once.
struct Texts
{
    const CZnString drawing{"Drawing"};
    const CZnString proxyEntities{"Proxy Entities"};
    const CZnString duration{"Duration"};
    const CZnString name{"Name"};
    const CZnString reason{"Reason"};
    const CZnString annotativeOperations{"Annotative Operations"};
    const CZnString annotativeEntities{"Annotative Entities"};
    const CZnString size{"Size"};
    const CZnString type{"Type"};
    const CZnString fileVersion{"File Version"};
    const CZnString entities{"Entities"};
    const CZnString hasConstraints{"Has Constraints"};
    const CZnString yes{"true"};
    const CZnString no{"false"};
};

const Texts& texts()
{
    static const Texts fixed;
    return fixed;
}

// The key under which a drawing keeps its geometric constraints.
const OdString& associationNetworkKey()
{
    static const OdString key("ACAD_ASSOCNETWORK");
    return key;
}

TimerEntry* documentEntry(CZnDocument* document)
{
    CZnCIP* cip = GetZnCIP();
    return cip ? &cip->GetTimer(reinterpret_cast<quintptr>(document)) : nullptr;
}

CZnString documentName(CZnDocument* document)
{
    TimerEntry* entry = documentEntry(document);
    return entry ? entry->id : CZnString();
}

QElapsedTimer documentTimer(CZnDocument* document)
{
    TimerEntry* entry = documentEntry(document);
    return entry ? entry->timer : QElapsedTimer();
}

// The host's annotation statistics take a snapshot of the drawing at attach and detach.
void snapshotAnnotations(const CZnString& name, CZnDocument* document)
{
    CZnCIPAnnotationDataRecord* annotations = CZnCIPAnnotationDataRecord::getInstance();
    annotations->SetAnnotationScaleDiffCount(name, OdSmartPtr<CZnDocument>(document));
    annotations->SetAnnotativeDimStyleDiffCount(name, OdSmartPtr<CZnDocument>(document));
    annotations->SetAnnotativeTextStyleDiffCount(name, OdSmartPtr<CZnDocument>(document));
}

void readFileFacts(OdDbDatabase& database, Record& record)
{
    record.fileType = database.getFileType();
    // Only the formats that carry a release number tell one.
    if (record.fileType >= 0 && record.fileType <= 2)
        record.fileVersion = database.originalFileVersion();

    const QString path = CZnString(database.getFilename()).toQString();
    if (QFileInfo::exists(path))
        record.fileSize = QFileInfo(path).size();

    record.entities = database.approxNumObjects();

    {
        // A named-objects object that is not a dictionary raises here: the file is damaged and the
        // event is not reported.
        OdDbDictionaryPtr namedObjects =
            odrxSafeCast<OdDbDictionary>(database.getNamedObjectsDictionaryId().openObject(OdDb::kForRead));
        record.hasConstraints = namedObjects && namedObjects->has(associationNetworkKey());
    }

    for (OdRxDictionaryIteratorPtr it = odDbGetDrawingClasses(database); !it->done(); it->next())
    {
        OdRxObjectPtr object = it->getObject();
        // Exactly the proxy class: classes derived from it are defined by a loaded application.
        if (!object || object->isA() != OdProxyClass::desc())
            continue;
        if (const auto* proxy = dynamic_cast<const OdRxClass*>(object.get()))
            record.proxyClasses.emplace_back(CZnString(proxy->name()), CZnString(proxy->appName()));
    }
}

void setText(const CZnString& screen, const CZnString& valueName, int index, const CZnString& value)
{
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(screen, valueName, index, value);
}

void setInt(const CZnString& valueName, int index, int value)
{
    if (CZnCIPService* service = activeService())
        service->SetScreenValue(texts().drawing, valueName, index, value);
}

void send()
{
    if (CZnCIPService* service = activeService())
        service->Send();
}
} // namespace

CZnCIPDrawingRecorder::CZnCIPDrawingRecorder() = default;
CZnCIPDrawingRecorder::~CZnCIPDrawingRecorder() = default;

void CZnCIPDrawingRecorder::Start()
{
    GetZnSystemServices()->GetDocumentManager()->AddReactor(
        static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(this));
    registerWithEditor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(this));
}

void CZnCIPDrawingRecorder::Stop()
{
    unregisterFromEditor(static_cast<OdStaticRxObject<CZnEditorReactor>*>(this));
    GetZnSystemServices()->GetDocumentManager()->RemoveReactor(
        static_cast<OdStaticRxObject<CZnDocumentManagerReactor>*>(this));
    CZnCIPAnnotationDataRecord::getInstance();
    CZnCIPAnnotationDataRecord::destroy();
}

CZnCIPDrawingRecorder::RecordPtr CZnCIPDrawingRecorder::NewRecord(Record::Reason reason, bool startTimer)
{
    RecordPtr record(new Record);
    record->reason = reason;
    if (startTimer)
        record->ownTimer.start();
    return record;
}

void CZnCIPDrawingRecorder::CompleteTop(CZnDocument* document, bool withDocumentTimer)
{
    RecordPtr record = std::move(pending.back());
    pending.pop_back();
    record->duration = static_cast<std::int32_t>(record->ownTimer.elapsed());
    record->name = documentName(document);
    if (withDocumentTimer)
        record->documentTimer = documentTimer(document);
    Write(*record);
}

void CZnCIPDrawingRecorder::DocumentCreateStarted(CZnDocument*)
{
    RecordPtr record = NewRecord(Record::Created, true);
    pending.push_back(std::move(record));
}

void CZnCIPDrawingRecorder::DocumentPreOpen(CZnDocument*, const CZnString&, int, int)
{
    // A creation under way turns out to be an open; its timer keeps running from the start.
    if (!pending.empty())
    {
        pending.back()->reason = Record::Opened;
        return;
    }
    RecordPtr record = NewRecord(Record::Opened, true);
    pending.push_back(std::move(record));
}

void CZnCIPDrawingRecorder::DocumentCreated(CZnDocument* document)
{
    if (!pending.empty())
        CompleteTop(document, false);
}

void CZnCIPDrawingRecorder::DocumentCreateCanceled(CZnDocument* document)
{
    if (pending.empty())
        return;
    pending.back()->reason = Record::CreateCancelled;
    CompleteTop(document, false);
}

void CZnCIPDrawingRecorder::DatabaseAttached(CZnDocument* document)
{
    // Only a database attached while a drawing is being created or opened is a new drawing.
    if (pending.empty())
        return;
    RecordPtr record = NewRecord(Record::Attached, true);
    record->name = documentName(document);

    CZnCIPAnnotationDataRecord::getInstance()->addRecord(record->name);
    snapshotAnnotations(record->name, document);

    if (OdDbDatabase* database = document ? document->database() : nullptr)
        readFileFacts(*database, *record);

    record->duration = static_cast<std::int32_t>(record->ownTimer.elapsed());
    record->name = documentName(document);
    Write(*record);
}

void CZnCIPDrawingRecorder::DocumentToBeDestroyed(CZnDocument*)
{
    RecordPtr record = NewRecord(Record::Closed, true);
    pending.push_back(std::move(record));
}

void CZnCIPDrawingRecorder::DatabaseDetached(CZnDocument* document)
{
    if (pending.empty())
        return;
    RecordPtr record = NewRecord(Record::Detached, false);
    record->name = documentName(document);
    snapshotAnnotations(record->name, document);
    record->documentTimer = documentTimer(document);
    Write(*record);
}

void CZnCIPDrawingRecorder::DocumentDestroyed(CZnDocument* document, const CZnString&)
{
    if (!pending.empty())
        CompleteTop(document, true);
}

void CZnCIPDrawingRecorder::mainFrameDestroyed(QWidget*)
{
    RecordPtr record = NewRecord(Record::Quit, false);
    Write(*record);
}

void CZnCIPDrawingRecorder::Write(const Record& record)
{
    if (!activeService())
        return;
    const Texts& t = texts();

    if (record.reason != Record::Quit)
    {
        // Closing and detaching report how long the drawing was open, in minutes; the other events
        // how long they took, in milliseconds.
        const bool open = record.reason == Record::Closed || record.reason == Record::Detached;
        setInt(t.duration, 15, open ? record.MinutesOpen() : record.duration);
        setText(t.drawing, t.name, 1, record.name);
    }
    setText(t.drawing, t.reason, 7, Record::ReasonText(record.reason));

    if (record.reason == Record::Closed)
    {
        CZnCIPAnnotationDataRecord* annotations = CZnCIPAnnotationDataRecord::getInstance();
        setInt(t.annotativeOperations, 19, annotations->getAnnotativeDimStyleCount(record.name));
        setInt(t.annotativeEntities, 20, annotations->getAnnotativeObjectCount(record.name));
    }
    else if (record.reason == Record::Attached)
    {
        setInt(t.size, 21, Record::Low32Bits(record.fileSize));
        setText(t.drawing, t.type, 9, Record::FileTypeText(record.fileType));
        setText(t.drawing, t.fileVersion, 5, Record::FileVersionText(record.fileVersion));
        setInt(t.entities, 11, record.entities);
        setText(t.drawing, t.hasConstraints, 6, record.hasConstraints ? t.yes : t.no);
    }
    send();

    if (record.reason != Record::Attached)
        return;
    for (const auto& proxy : record.proxyClasses)
    {
        setText(t.proxyEntities, t.name, 1, proxy.first);
        setText(t.proxyEntities, t.type, 2, proxy.second);
        send();
    }
}
