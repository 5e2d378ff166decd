// JSON string literals for everything the collector writes as JSON.
#pragma once

#include <string>
#include <string_view>

namespace zncip::collector
{

// Appends text as a JSON string literal; invalid UTF-8 is written as U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

} // namespace zncip::collector
