// The admin listener's own files, compressed and tagged once (see static_files.h).
#include "admin/static_files.h"

#include "report/dashboard_files.h"

#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace zncip::collector
{
namespace
{

// The scripts and the style sheet are sent once and kept; level 9 costs nothing at start.
constexpr int kStaticLevel = Z_BEST_COMPRESSION;
const char kGzipSuffix[] = "-gz";

struct Source
{
    const char* path;
    const char* name;
    const char* type;
};
const Source kSources[] = {{"/static/app.js", "app.js", "text/javascript; charset=utf-8"},
                           {"/static/views.js", "views.js", "text/javascript; charset=utf-8"},
                           {"/static/app.css", "app.css", "text/css; charset=utf-8"},
                           {"/static/chart.js", "chart.js", "text/javascript; charset=utf-8"}};
const Source kPage = {"/", "index.html", "text/html; charset=utf-8"};

// A hash of the bytes (FNV-1a) in hexadecimal: the file's version.
std::string versionOf(std::string_view bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (const char b : bytes)
        h = (h ^ static_cast<unsigned char>(b)) * 1099511628211ull;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// A file and the strings its ServedFile points into; never moved once made.
struct Owned
{
    std::string path, plain, gzip, tag, gzipTag, version;
    ServedFile view;

    Owned(const Source& s, std::string bytes) : path(s.path), plain(std::move(bytes))
    {
        gzip = gzipped(plain, kStaticLevel);
        version = versionOf(plain);
        tag = "\"" + version + "\"";
        gzipTag = "\"" + version + kGzipSuffix + "\"";
        view = {s.type, plain, gzip, tag, gzipTag, version};
    }
};

} // namespace

struct StaticFiles::Impl
{
    std::vector<std::unique_ptr<Owned>> files;
    std::unique_ptr<Owned> page;
};

StaticFiles::StaticFiles()
{
    auto* impl = new Impl; // lives as long as the program, like the files it describes
    std::string page(dashboard::embeddedFile(kPage.name));
    for (const Source& s : kSources)
    {
        impl->files.push_back(std::make_unique<Owned>(s, std::string(dashboard::embeddedFile(s.name))));
        // The document names each file by its address in quotes; the version goes inside them.
        const std::string quoted = std::string("\"") + s.path + "\"";
        if (const size_t at = page.find(quoted); at != std::string::npos)
            page.replace(at, quoted.size(),
                         std::string("\"") + s.path + "?" + kVersionArgument + "=" +
                             impl->files.back()->version + "\"");
    }
    impl->page = std::make_unique<Owned>(kPage, std::move(page));
    impl_ = impl;
}

const StaticFiles& StaticFiles::instance()
{
    static const StaticFiles files;
    return files;
}

const ServedFile* StaticFiles::find(std::string_view path) const
{
    for (const auto& f : impl_->files)
        if (f->path == path)
            return &f->view;
    return nullptr;
}

const ServedFile& StaticFiles::page() const
{
    return impl_->page->view;
}

bool acceptsGzip(std::string_view header)
{
    while (!header.empty())
    {
        const size_t comma = header.find(',');
        std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view{} : header.substr(comma + 1);
        std::string coding, rest;
        bool inParameters = false;
        for (const char c : item)
        {
            if (c == ' ' || c == '\t')
                continue;
            inParameters |= c == ';';
            (inParameters ? rest : coding) += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (coding != "gzip" && coding != "x-gzip" && coding != "*")
            continue;
        // q=0, q=0.0, q=0.000: refused; any other weight lets it through.
        const size_t q = rest.find(";q=");
        return q == std::string::npos || rest.find_first_not_of("0.", q + 3) < rest.find(';', q + 3);
    }
    return false;
}

std::string gzipped(std::string_view bytes, int level)
{
    z_stream z{};
    constexpr int kGzipWindow = 15 + 16; // the largest window, with a gzip header and trailer
    if (deflateInit2(&z, level, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("cannot start compressing");
    std::string out(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw std::runtime_error("cannot compress");
    return out;
}

} // namespace zncip::collector
