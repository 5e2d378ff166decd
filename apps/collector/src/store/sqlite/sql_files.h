// The SQL of the SQLite store, kept in the files under sql/ and compiled into the program (see the
// collector's CMakeLists.txt), for the store's code and for the tests that read what it says. Any thread.
#pragma once

#include "store/records.h"

#include <string>
#include <string_view>

namespace zncip::collector::sqlite
{

namespace sql
{
// Generated: the bytes of one file under sql/, followed by a NUL; empty for a name not embedded.
std::string_view embeddedFile(std::string_view name);
} // namespace sql

// The text of an embedded SQL file, NUL-terminated. A name that is not embedded is a file left out of the
// build's list, which no database can be used without.
inline std::string_view sqlFile(std::string_view name)
{
    const std::string_view text = sql::embeddedFile(name);
    if (text.empty())
        throw StoreError("this build lacks the SQL file " + std::string(name));
    return text;
}

} // namespace zncip::collector::sqlite
