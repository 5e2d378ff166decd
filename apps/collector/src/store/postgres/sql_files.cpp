// Finds an embedded SQL file and skips its opening comment.
#include "store/postgres/sql_files.h"

#include "store/records.h"

#include <string>

namespace zncip::collector::postgres
{

const char* sqlText(std::string_view file)
{
    std::string_view text = sql_files::embeddedFile(file);
    if (text.empty())
        throw StoreError("this build lacks its SQL file " + std::string(file));
    while (text.substr(0, 2) == "--" || text.substr(0, 1) == "\n")
    {
        const size_t end = text.find('\n');
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return text.data(); // the rest of a NUL-terminated file
}

} // namespace zncip::collector::postgres
