#pragma once

#include "odstring.h"

#include <QString>

// The host's string: UTF-16 text that crosses every host interface, convertible to and from Qt's
// and the SDK's strings.
class CZnString
{
public:
    CZnString() = default;
    CZnString(const QString& text) : m_text(text) {}
    // Every UTF-16 unit is kept as it is: QString::fromUtf16 would take a leading U+FEFF for a byte-order
    // mark and drop it from the text.
    CZnString(const char16_t* text) : m_text(reinterpret_cast<const QChar*>(text)) {}
    CZnString(const char* utf8) : m_text(QString::fromUtf8(utf8)) {}
    CZnString(const OdString& text) : m_text(reinterpret_cast<const QChar*>(text.c_str()), text.getLength()) {}

    const QString& toQString() const { return m_text; }
    OdString toOdString() const { return OdString(m_text.toStdU16String()); }

    bool isEmpty() const { return m_text.isEmpty(); }
    int length() const { return m_text.length(); }
    // Position of the first occurrence of text, or -1 when it does not occur.
    int find(const CZnString& text) const { return m_text.indexOf(text.m_text); }
    // Lexical comparison: negative, zero or positive.
    int compare(const CZnString& other) const { return m_text.compare(other.m_text); }

    CZnString& operator+=(const CZnString& other)
    {
        m_text += other.m_text;
        return *this;
    }
    friend CZnString operator+(CZnString a, const CZnString& b) { return a += b; }
    bool operator==(const CZnString& other) const { return m_text == other.m_text; }
    bool operator!=(const CZnString& other) const { return m_text != other.m_text; }
    bool operator<(const CZnString& other) const { return m_text < other.m_text; }

private:
    QString m_text;
};
