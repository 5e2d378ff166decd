// Writing a report file through a temporary file in the same folder, renamed into place.
#include "report/replace_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace zncip::collector
{
namespace
{

constexpr int kNameTries = 100;

std::string failure(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view content)
{
    while (!content.empty())
    {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

std::optional<std::string> replaceFile(const std::string& path, std::string_view content)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary;
    int fd = -1;
    for (int n = 0; fd < 0 && n < kNameTries; ++n)
    {
        temporary = folder + (slash == std::string::npos ? "/." : ".") + name + "." +
                    std::to_string(::getpid()) + "-" + std::to_string(n) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return failure("cannot create", temporary);
    }
    if (fd < 0)
        return failure("cannot create", temporary);
    std::optional<std::string> error;
    if (!writeAll(fd, content) || ::fsync(fd) != 0)
        error = failure("cannot write", temporary);
    if (::close(fd) != 0 && !error)
        error = failure("cannot write", temporary);
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = failure("cannot replace", path);
    if (error)
    {
        ::unlink(temporary.c_str());
        return error;
    }
    // The rename itself lasts once the folder is on disk; a folder that cannot be synced does not undo it.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0)
        ::fsync(folderFd), ::close(folderFd);
    return std::nullopt;
}

} // namespace zncip::collector
