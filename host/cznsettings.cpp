#include "cznsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <optional>

namespace
{
const QByteArray& utf8Bom()
{
    static const QByteArray bom("\xEF\xBB\xBF");
    return bom;
}

// Bytes that would change the meaning of a line if they appeared raw in a section or key name.
bool isNameSpecial(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F || c == '%' || c == '=' || c == '[' || c == ']' || c == ';' || c == '#';
}

QByteArray encodeName(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    QByteArray out;
    for (int i = 0; i < utf8.size(); ++i)
    {
        const char c = utf8[i];
        // Spaces at either end would be trimmed away when the line is read back.
        const bool edgeSpace = c == ' ' && (i == 0 || i == utf8.size() - 1);
        if (isNameSpecial(c) || edgeSpace)
            out += '%' + QByteArray(1, c).toHex().toUpper();
        else
            out += c;
    }
    return out;
}

QString decodeName(const QString& text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// Text values are written on one line: backslash, line breaks, tabs and other control characters are
// escaped.
QString escapeText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
    {
        switch (c.unicode())
        {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += QLatin1String("\\x") + QString::number(c.unicode(), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out;
}

std::optional<QString> unescapeText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i)
    {
        if (text[i] != '\\')
        {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i].unicode())
        {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x':
        {
            const QString hex = text.mid(i + 1, 2);
            bool ok = false;
            const ushort code = hex.toUShort(&ok, 16);
            if (hex.size() != 2 || !ok)
                return std::nullopt;
            out += QChar(code);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

// Stored form of one value: "<type code>:<text>", so integers and texts come back with their type.
QString encodeValue(const OdResBuf& value)
{
    QString text;
    switch (value.restype())
    {
    case OdResBuf::kRtInt32:
    case OdResBuf::kRtInt16:
        text = QString::number(value.getInt32());
        break;
    case OdResBuf::kRtDouble:
        text = QString::number(value.getDouble(), 'g', 17);
        break;
    default:
        text = escapeText(CZnString(value.getString()).toQString());
    }
    return QString::number(value.restype()) + ':' + text;
}

// Null for anything that is not a complete stored form (missing type, a number cut short, ...).
OdResBufPtr decodeValue(const QString& stored)
{
    const int colon = stored.indexOf(':');
    if (colon <= 0)
        return OdResBufPtr();
    bool ok = false;
    const int type = stored.left(colon).trimmed().toInt(&ok);
    if (!ok)
        return OdResBufPtr();
    const QString text = stored.mid(colon + 1);
    OdResBufPtr value = OdResBuf::newRb(type);
    switch (type)
    {
    case OdResBuf::kRtInt32:
        value->setInt32(text.toInt(&ok));
        break;
    case OdResBuf::kRtInt16:
        value->setInt16(text.toShort(&ok));
        break;
    case OdResBuf::kRtDouble:
        value->setDouble(text.toDouble(&ok));
        break;
    default:
    {
        const std::optional<QString> plain = unescapeText(text);
        ok = plain.has_value();
        if (ok)
            value->setString(CZnString(*plain).toOdString());
    }
    }
    return ok ? value : OdResBufPtr();
}

// One line of the file as the store understands it. Lines of kind Other are carried along untouched.
struct Line
{
    enum Kind
    {
        Other,
        Section,
        BrokenSection,
        Value
    };
    Kind kind = Other;
    QString section;
    QString key;
    QString stored;
};

// Splits the file into its lines (without the line feeds) and classifies each.
class Document
{
public:
    explicit Document(const QByteArray& data)
    {
        m_raw = data.split('\n');
        if (!m_raw.isEmpty() && m_raw.last().isEmpty())
            m_raw.removeLast();
        // Keys before the first header belong to the unnamed section.
        std::optional<QString> section = QString();
        for (int i = 0; i < m_raw.size(); ++i)
            m_lines << classify(m_raw[i], i == 0, section);
    }

    const QList<Line>& lines() const { return m_lines; }

    void set(const QString& section, const QString& key, const QString& stored)
    {
        const QByteArray line = encodeName(key) + '=' + stored.toUtf8();
        const int existing = lastValue(section, key);
        if (existing >= 0)
        {
            replace(existing, line);
            return;
        }
        int header = -1;
        for (int i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].kind == Line::Section && m_lines[i].section == section)
                header = i;
        if (header < 0)
        {
            if (!m_raw.isEmpty() && !m_raw.last().trimmed().isEmpty())
                insert(m_raw.size(), QByteArray());
            insert(m_raw.size(), '[' + encodeName(section) + ']');
            insert(m_raw.size(), line);
            return;
        }
        // At the end of the section's block, before the blank lines that separate it from the next.
        int at = header + 1;
        while (at < m_lines.size() && m_lines[at].kind != Line::Section &&
               m_lines[at].kind != Line::BrokenSection)
            ++at;
        while (at - 1 > header && m_raw[at - 1].trimmed().isEmpty())
            --at;
        insert(at, line);
    }

    void remove(const QString& section, const QString& key)
    {
        for (int i = m_lines.size() - 1; i >= 0; --i)
            if (m_lines[i].kind == Line::Value && m_lines[i].section == section && m_lines[i].key == key)
            {
                m_lines.removeAt(i);
                m_raw.removeAt(i);
            }
    }

    QByteArray data() const
    {
        QByteArray out;
        for (const QByteArray& line : m_raw)
            out += line + '\n';
        return out;
    }

private:
    static Line classify(const QByteArray& raw, bool first, std::optional<QString>& section)
    {
        Line line;
        QByteArray bytes = raw;
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (first && bytes.startsWith(utf8Bom()))
            bytes.remove(0, utf8Bom().size());
        // Bytes that are not UTF-8 (or hold a NUL) cannot be taken apart safely: the line stays as is.
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return line;
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
            return line;
        if (trimmed.startsWith('['))
        {
            if (!trimmed.endsWith(']'))
            {
                // What follows a broken header belongs to no section we could name.
                section.reset();
                line.kind = Line::BrokenSection;
                return line;
            }
            section = decodeName(trimmed.mid(1, trimmed.size() - 2));
            line.kind = Line::Section;
            line.section = *section;
            return line;
        }
        const int eq = text.indexOf('=');
        if (eq <= 0 || !section)
            return line;
        const QString key = decodeName(text.left(eq).trimmed());
        const QString stored = text.mid(eq + 1);
        if (key.isEmpty() || !decodeValue(stored))
            return line;
        line.kind = Line::Value;
        line.section = *section;
        line.key = key;
        line.stored = stored;
        return line;
    }

    int lastValue(const QString& section, const QString& key) const
    {
        for (int i = m_lines.size() - 1; i >= 0; --i)
            if (m_lines[i].kind == Line::Value && m_lines[i].section == section && m_lines[i].key == key)
                return i;
        return -1;
    }

    void replace(int at, const QByteArray& raw)
    {
        m_raw[at] = raw;
        m_lines[at].kind = Line::Value;
    }

    void insert(int at, const QByteArray& raw)
    {
        m_raw.insert(at, raw);
        m_lines.insert(at, Line());
    }

    QList<QByteArray> m_raw;
    QList<Line> m_lines;
};

// True when a file could be created in folder, or in the nearest existing folder above it.
bool canCreateIn(const QString& folder)
{
    QFileInfo info(folder);
    while (!info.exists())
    {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            return false;
        info = QFileInfo(parent);
    }
    return info.isDir() && info.isWritable();
}
} // namespace

CZnSettings::CZnSettings(const QString& filePath) : m_filePath(filePath)
{
    Load();
}

bool CZnSettings::HasValue(const CZnString& section, const CZnString& key) const
{
    return m_values.contains(Key(section.toQString(), key.toQString()));
}

OdResBufPtr CZnSettings::GetValue(const CZnString& section, const CZnString& key, int) const
{
    const auto it = m_values.constFind(Key(section.toQString(), key.toQString()));
    return it == m_values.cend() ? OdResBufPtr() : decodeValue(*it);
}

void CZnSettings::SetValue(const CZnString& section, const CZnString& key, OdResBufPtr value)
{
    if (!value)
        return;
    const Key k(section.toQString(), key.toQString());
    const QString stored = encodeValue(*value);
    m_values.insert(k, stored);
    Write(k, Change::Set, stored);
}

void CZnSettings::RemoveValue(const CZnString& section, const CZnString& key)
{
    const Key k(section.toQString(), key.toQString());
    m_values.remove(k);
    Write(k, Change::Remove, QString());
}

bool CZnSettings::CanStore() const
{
    if (m_filePath.isEmpty())
        return true;
    if (m_unreadable || m_writeFailed)
        return false;
    const QFileInfo info(m_filePath);
    if (info.exists() && (!info.isFile() || !info.isWritable()))
        return false;
    // The file is replaced through a temporary file beside it.
    return canCreateIn(info.absolutePath());
}

void CZnSettings::Load()
{
    if (m_filePath.isEmpty() || !QFileInfo::exists(m_filePath))
        return;
    QFile file(m_filePath);
    if (!QFileInfo(m_filePath).isFile() || !file.open(QIODevice::ReadOnly))
    {
        m_unreadable = true;
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
    {
        m_unreadable = true;
        return;
    }
    // A key written twice counts with its last line, as a reader going down the file would see it.
    const Document document(data);
    for (const Line& line : document.lines())
        if (line.kind == Line::Value)
            m_values.insert(Key(line.section, line.key), line.stored);
}

void CZnSettings::Write(const Key& key, Change change, const QString& stored)
{
    if (m_filePath.isEmpty() || m_unreadable)
        return;
    QByteArray before;
    if (QFileInfo::exists(m_filePath))
    {
        QFile file(m_filePath);
        if (!QFileInfo(m_filePath).isFile() || !file.open(QIODevice::ReadOnly))
        {
            m_unreadable = true;
            return;
        }
        before = file.readAll();
        if (file.error() != QFileDevice::NoError)
        {
            m_unreadable = true;
            return;
        }
    }
    Document document(before);
    if (change == Change::Set)
        document.set(key.first, key.second, stored);
    else
        document.remove(key.first, key.second);
    const QByteArray after = document.data();
    if (after == before)
    {
        m_writeFailed = false;
        return;
    }
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile out(m_filePath);
    m_writeFailed = !out.open(QIODevice::WriteOnly) || out.write(after) != after.size() || !out.commit();
}
