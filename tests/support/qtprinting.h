#pragma once

#include <QString>

#include <ostream>

// Failure messages show Qt strings as text rather than as arrays of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
