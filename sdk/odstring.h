#pragma once

#include <string>

// The SDK's wide string. Text is kept as UTF-16, as the SDK does on every platform the host ships on.
class OdString
{
public:
    OdString() = default;
    OdString(const char16_t* text) : m_text(text ? text : u"") {}
    OdString(std::u16string text) : m_text(std::move(text)) {}
    // Latin-1 / ASCII text, as the SDK's narrow constructor takes it.
    OdString(const char* text);

    const char16_t* c_str() const { return m_text.c_str(); }
    const std::u16string& text() const { return m_text; }
    int getLength() const { return static_cast<int>(m_text.size()); }
    bool isEmpty() const { return m_text.empty(); }
    // Lexical comparison: negative, zero or positive.
    int compare(const OdString& other) const { return m_text.compare(other.m_text); }

    bool operator==(const OdString& other) const { return m_text == other.m_text; }
    bool operator!=(const OdString& other) const { return m_text != other.m_text; }
    bool operator<(const OdString& other) const { return m_text < other.m_text; }

private:
    std::u16string m_text;
};
