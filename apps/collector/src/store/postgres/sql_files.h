// The SQL files under store/postgres/sql/, compiled into the program. Read-only data: any thread may read.
#pragma once

#include <string_view>

namespace zncip::collector::postgres
{

namespace sql_files
{
// Generated from the files at build time: the file's bytes, NUL-terminated, or empty when unknown.
std::string_view embeddedFile(std::string_view name);
} // namespace sql_files

// The statements of an SQL file (by its path under sql/), without the comment lines it opens with, which
// say what it is for and need not travel to the server. NUL-terminated. Throws StoreError for an unknown
// file, which only a build that lost one can meet.
const char* sqlText(std::string_view file);

} // namespace zncip::collector::postgres
