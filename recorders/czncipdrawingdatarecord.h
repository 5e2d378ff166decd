#pragma once

#include "cznstring.h"
#include "odalloc.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

// One drawing event as the drawing recorder reports it: what happened, how long it took, and for an
// attached database the facts of its file.
class CZnCIPDrawingDataRecord : public OdRxHeapOperators
{
public:
    enum Reason : std::int32_t
    {
        Created = 0,
        CreateCancelled = 1,
        Opened = 2,
        Attached = 3,
        Detached = 4,
        Closed = 5,
        Quit = 6,
    };

    // The texts sent for the codes; an unknown code reads as the fixed unknown text of its table.
    static const QString& ReasonText(Reason reason);
    static const QString& FileTypeText(int code);
    static const QString& FileVersionText(int code);
    // Whole minutes in a span of milliseconds, truncated toward zero.
    static std::int32_t WholeMinutes(qint64 milliseconds);
    // The low 32 bits of a file size, read as a signed number.
    static std::int32_t Low32Bits(std::int64_t size);

    // Whole minutes the document timer has run; 0 when it was never taken from the document.
    std::int32_t MinutesOpen() const;

    CZnString name;
    QElapsedTimer ownTimer;
    std::int32_t duration = 0;
    Reason reason = Created;
    std::int64_t fileSize = 0;
    std::int32_t fileType = -1;
    std::int32_t fileVersion = 32766;
    QElapsedTimer documentTimer;
    std::int32_t entities = 0;
    bool hasConstraints = false;
    // Per proxy class of the drawing: the class name, then the name of the application defining it.
    std::vector<std::pair<CZnString, CZnString>> proxyClasses;
};
