// JSON string literals for everything the collector writes as JSON.
#pragma once

#include <string>
#include <string_view>

namespace zncip::collector
{

// Appends text as a JSON string literal; invalid UTF-8 is written as U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

// JSON as written with appendJsonString, made fit to stand inside an HTML <script> element: <, >, & and
// the line separators U+2028 and U+2029 become \uXXXX escapes, which mean the same to a JSON reader but
// are no markup (no end tag, no comment that keeps the element open) and end no script's string.
std::string jsonForScriptElement(std::string_view json);

} // namespace zncip::collector
