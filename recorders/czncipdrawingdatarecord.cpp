#include "czncipdrawingdatarecord.h"

#include <QStringList>

namespace
{
const QString& pick(const QStringList& table, int code, const QString& unknown)
{
    return code >= 0 && code < table.size() ? table.at(code) : unknown;
}
} // namespace

const QString& CZnCIPDrawingDataRecord::ReasonText(Reason reason)
{
    static const QStringList texts{
        QStringLiteral("Created"),  QStringLiteral("CreateCancelled"), QStringLiteral("Opened"),
        QStringLiteral("Attached"), QStringLiteral("Detached"),        QStringLiteral("Closed"),
        QStringLiteral("Quit"),
    };
    static const QString unknown;
    return pick(texts, reason, unknown);
}

const QString& CZnCIPDrawingDataRecord::FileTypeText(int code)
{
    static const QStringList texts{
        QStringLiteral("kDwg"), QStringLiteral("kDxf"), QStringLiteral("kDxb"),
        QStringLiteral("kFlx"), QStringLiteral("kDwf"), QStringLiteral("kDwt"),
        QStringLiteral("kShp"), QStringLiteral("kDws"), QStringLiteral("kDae"),
    };
    static const QString unknown = QStringLiteral("kUnknown");
    return pick(texts, code, unknown);
}

const QString& CZnCIPDrawingDataRecord::FileVersionText(int code)
{
    static const QStringList texts{
        QStringLiteral("kDHL_MC0_0"),  QStringLiteral("kDHL_AC1_2"),  QStringLiteral("kDHL_AC1_40"),
        QStringLiteral("kDHL_AC1_50"), QStringLiteral("kDHL_AC2_20"), QStringLiteral("kDHL_AC2_10"),
        QStringLiteral("kDHL_AC2_21"), QStringLiteral("kDHL_AC2_22"), QStringLiteral("kDHL_1001"),
        QStringLiteral("vAC025"),      QStringLiteral("vAC026"),      QStringLiteral("vAC09"),
        QStringLiteral("kDHL_1005"),   QStringLiteral("vAC10"),       QStringLiteral("kDHL_1007"),
        QStringLiteral("kDHL_1008"),   QStringLiteral("vAC12"),       QStringLiteral("kDHL_1010"),
        QStringLiteral("kDHL_1011"),   QStringLiteral("vAC13"),       QStringLiteral("vAC14beta"),
        QStringLiteral("vAC14"),       QStringLiteral("kDHL_1500"),   QStringLiteral("vAC15"),
        QStringLiteral("kDHL_1800a"),  QStringLiteral("vAC18"),       QStringLiteral("kDHL_2100a"),
        QStringLiteral("vAC21"),       QStringLiteral("kDHL_2400a"),  QStringLiteral("vAC24"),
        QStringLiteral("kDHL_2700a"),  QStringLiteral("vAC27"),
    };
    static const QString unknown = QStringLiteral("kDHL_Unknown");
    return pick(texts, code, unknown);
}

std::int32_t CZnCIPDrawingDataRecord::WholeMinutes(qint64 milliseconds)
{
    return static_cast<std::int32_t>(milliseconds / 60000);
}

std::int32_t CZnCIPDrawingDataRecord::Low32Bits(std::int64_t size)
{
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) & 0xFFFFFFFFu));
}

std::int32_t CZnCIPDrawingDataRecord::MinutesOpen() const
{
    return documentTimer.isValid() ? WholeMinutes(documentTimer.elapsed()) : 0;
}
