// The program's own files as the admin listener sends them: each with its ETag and a gzip-compressed copy,
// made once, on first use, and the pages' document with the scripts' addresses carrying their ETags, so
// that a browser keeps the scripts across pages without asking for them again. Any thread may call.
#pragma once

#include <string>
#include <string_view>

namespace zncip::collector
{

// One file in the forms it is sent in; the views point into memory that lives as long as the program.
struct ServedFile
{
    std::string_view type;
    std::string_view plain, gzip;
    std::string_view tag, gzipTag; // quoted, as ETag and If-None-Match carry them
    std::string_view version;      // the tag unquoted: what ?v= of a versioned address holds
};

// The query argument of a versioned address: /static/app.js?v=VERSION.
inline constexpr char kVersionArgument[] = "v";

class StaticFiles
{
public:
    static const StaticFiles& instance();

    // The file served at path ("/static/app.js"), or null.
    const ServedFile* find(std::string_view path) const;
    // index.html, whose scripts and style sheet are asked for at addresses with their versions.
    const ServedFile& page() const;

private:
    StaticFiles();
    struct Impl;
    const Impl* impl_;
};

// Whether an Accept-Encoding header lets gzip through (named, or *, and not with q=0).
bool acceptsGzip(std::string_view acceptEncoding);

// The gzip form of bytes (RFC 1952), at the given zlib level.
std::string gzipped(std::string_view bytes, int level);

} // namespace zncip::collector
