// Writing a report file so that a reader, or a run that dies half way, never finds it partly written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zncip::collector
{

// Writes content to a new file beside path, flushes it to disk and renames it over path: path holds
// either what it held before or all of content. The new file gets the usual mode (0666 less the umask).
// Returns why it could not, with path untouched and no file left behind; nothing when it is done.
std::optional<std::string> replaceFile(const std::string& path, std::string_view content);

} // namespace zncip::collector
