// The HTTP library's messages, made printable, on stderr; shared by both listeners.
#pragma once

#include <cstdarg>

namespace zncip::collector
{

// The HTTP library's messages, on stderr behind the prefix passed as the callback's argument (a
// const char*). A message can quote a request path, which the client chose: it is made printable, so
// that no control character reaches the operator's terminal. Nothing may unwind into the library.
void logFromHttpLibrary(void* prefix, const char* format, va_list args);

} // namespace zncip::collector
