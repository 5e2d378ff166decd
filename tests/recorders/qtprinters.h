#pragma once

#include <QString>

#include <ostream>

// Failure messages show Qt texts as text rather than as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
