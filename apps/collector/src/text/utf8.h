// UTF-8 checks and repairs for text that came from clients.
#pragma once

#include <string>
#include <string_view>

namespace zncip::collector
{

bool isValidUtf8(std::string_view text);

// Invalid sequences become U+FFFD, for output that must be valid UTF-8 (JSON, terminals).
std::string sanitizeUtf8(std::string_view text);

// For text shown to a person: as sanitizeUtf8, control characters (C0, DEL and C1) written as \xNN, and
// bidirectional controls, zero-width characters and the line separators U+2028/U+2029 as \uNNNN, so that
// what a client sent can neither steer the terminal, nor start a line of its own, nor hide or reorder text.
std::string printableText(std::string_view text);

} // namespace zncip::collector
