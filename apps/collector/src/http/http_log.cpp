// The HTTP library's messages, made printable, on stderr.
#include "http/http_log.h"

#include "ingest/form.h"
#include "text/utf8.h"

#include <cstdio>
#include <string>

namespace zncip::collector
{

void logFromHttpLibrary(void* prefix, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    try // out of memory included
    {
        std::string message = text;
        if (!message.empty() && message.back() == '\n')
            message.pop_back();
        std::fprintf(stderr, "%s: %s\n", static_cast<const char*>(prefix), printableText(message).c_str());
    }
    catch (...)
    {
        std::fputs("zncip-collector: a message of the HTTP library was lost for want of memory\n", stderr);
    }
}

} // namespace zncip::collector
