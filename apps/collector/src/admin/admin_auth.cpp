// Who may use the admin listener: the token, its file, sessions, the lock-out after wrong tokens and
// the Host check. Called by AdminServer from the HTTP library's threads at once (see admin_auth.h).
#include "admin/admin_auth.h"

#include "http/start_error.h"
#include "text/utf8.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <strings.h>

namespace zncip::collector
{
namespace
{

constexpr size_t kMinTokenLength = 16;
constexpr size_t kRandomBytes = 32; // a made token and a session id: 256 bits, as hex
constexpr size_t kMaxSessions = 1024;
constexpr size_t kMaxTrackedAddresses = 4096;
constexpr unsigned kMaxDelayShift = 10; // the delay doubles from 1 s up to 1024 s (17 min)
constexpr std::chrono::hours kForgetFailuresAfter{1};
const char kTokenFileName[] = "admin-token";
const char kBearer[] = "Bearer ";

// Compares in time that depends on the expected value's length only, not on how much of it matches.
bool sameSecret(std::string_view expected, std::string_view given)
{
    unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

std::string randomHex()
{
    unsigned char bytes[kRandomBytes];
    for (size_t got = 0; got < sizeof bytes;)
    {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error(std::string("no random numbers: ") + std::strerror(errno));
        got += n > 0 ? static_cast<size_t>(n) : 0;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : bytes)
        hex += {digits[b >> 4], digits[b & 15]};
    return hex;
}

std::string checkedToken(std::string token, const std::string& file)
{
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (token.size() < kMinTokenLength)
        throw StartError("the admin token in " + file + " must be at least " +
                         std::to_string(kMinTokenLength) + " characters");
    for (const char c : token)
        if (c < 0x21 || c > 0x7e || c == '"' || c == ',' || c == ';' || c == '\\')
            throw StartError("the admin token in " + file +
                             " may hold printable ASCII only, without blanks, quotes, commas, semicolons "
                             "and backslashes");
    return token;
}

// The first line of an open token file, checked; warns when others may read it.
std::string tokenFrom(int fd, const std::string& file)
{
    struct stat st
    {
    };
    if (fstat(fd, &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        std::fprintf(stderr,
                     "zncip-collector: warning: other users may read the admin token file %s (mode %04o); "
                     "chmod 600 it\n",
                     printableText(file).c_str(), static_cast<unsigned>(st.st_mode & 07777));
    std::string text;
    char chunk[512];
    for (ssize_t n; text.find('\n') == std::string::npos && text.size() < 4096 &&
                    (n = read(fd, chunk, sizeof chunk)) != 0;)
        if (n > 0)
            text.append(chunk, static_cast<size_t>(n));
        else if (errno != EINTR)
            throw StartError("cannot read the admin token file " + file + ": " + std::strerror(errno));
    return checkedToken(text.substr(0, text.find('\n')), file);
}

struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

bool isWildcard(const std::string& address)
{
    return address == "0.0.0.0" || address == "[::]";
}

bool isNumericAddress(std::string_view name)
{
    unsigned char buffer[sizeof(in6_addr)];
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        return inet_pton(AF_INET6, std::string(name.substr(1, name.size() - 2)).c_str(), buffer) == 1;
    return inet_pton(AF_INET, std::string(name).c_str(), buffer) == 1;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

AdminAuth::AdminAuth(Settings settings) : settings_(std::move(settings)) {}

bool AdminAuth::hostAllowed(std::string_view host) const
{
    // NAME, NAME:PORT, [V6] or [V6]:PORT
    size_t nameEnd = host.empty() || host.front() != '[' ? host.find(':') : host.find(']');
    if (!host.empty() && host.front() == '[' && nameEnd++ == std::string_view::npos)
        return false;
    const std::string_view name = host.substr(0, nameEnd);
    const std::string_view rest = nameEnd >= host.size() ? "" : host.substr(nameEnd);
    const std::string_view port = rest.empty() ? "" : rest.substr(1);
    if (name.empty() || (!rest.empty() && rest.front() != ':') ||
        port.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    for (const std::string& allowed : settings_.hostNames)
        if (sameName(name, allowed))
            return true;
    if (!port.empty() && port != std::to_string(settings_.port))
        return false;
    return sameName(name, settings_.listenAddress) ||
           (!settings_.listenName.empty() && sameName(name, settings_.listenName)) ||
           (isWildcard(settings_.listenAddress) && isNumericAddress(name));
}

AdminAuth::Verdict AdminAuth::check(const std::string& client, std::string_view authorization,
                                    std::string_view cookie)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cookie.empty())
        for (const Session& s : sessions_)
            if (sameSecret(s.id, cookie) && s.expires > now)
                return Verdict::Allowed;
    const size_t prefix = sizeof kBearer - 1;
    if (authorization.size() <= prefix || strncasecmp(authorization.data(), kBearer, prefix) != 0)
        return cookie.empty() ? Verdict::Missing : Verdict::Wrong;
    if (lockedOut(client, now))
        return Verdict::Locked;
    if (sameSecret(settings_.token, authorization.substr(prefix)))
        return succeeded(client), Verdict::Allowed;
    failed(client, now);
    return Verdict::Wrong;
}

AdminAuth::Verdict AdminAuth::signIn(const std::string& client, std::string_view token, std::string& session)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (lockedOut(client, now))
        return Verdict::Locked;
    if (!sameSecret(settings_.token, token))
    {
        failed(client, now);
        return Verdict::Wrong;
    }
    succeeded(client);
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [&](const Session& s) { return s.expires <= now; }),
                    sessions_.end());
    if (sessions_.size() >= kMaxSessions) // the oldest gives way
        sessions_.erase(sessions_.begin());
    session = randomHex();
    sessions_.push_back({session, now + settings_.sessionLifetime});
    return Verdict::Allowed;
}

void AdminAuth::signOut(std::string_view cookie)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [&](const Session& s) { return sameSecret(s.id, cookie); }),
                    sessions_.end());
}

long AdminAuth::retryAfter(const std::string& client) const
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [address, f] : failures_)
        if (address == client && f.notBefore > now)
            return 1 + std::chrono::duration_cast<std::chrono::seconds>(f.notBefore - now).count();
    return 0;
}

bool AdminAuth::lockedOut(const std::string& client, Clock::time_point now) const
{
    for (const auto& [address, f] : failures_)
        if (address == client)
            return f.notBefore > now;
    return false;
}

void AdminAuth::succeeded(const std::string& client)
{
    failures_.erase(
        std::remove_if(failures_.begin(), failures_.end(), [&](const auto& f) { return f.first == client; }),
        failures_.end());
}

void AdminAuth::failed(const std::string& client, Clock::time_point now)
{
    auto known =
        std::find_if(failures_.begin(), failures_.end(), [&](const auto& f) { return f.first == client; });
    if (known == failures_.end())
    {
        // Addresses quiet for long are forgotten; past the bound, the one free the longest gives way.
        failures_.erase(std::remove_if(failures_.begin(), failures_.end(),
                                       [&](const auto& f)
                                       { return f.second.notBefore + kForgetFailuresAfter < now; }),
                        failures_.end());
        if (failures_.size() >= kMaxTrackedAddresses)
            failures_.erase(std::min_element(failures_.begin(), failures_.end(),
                                             [](const auto& a, const auto& b)
                                             { return a.second.notBefore < b.second.notBefore; }));
        known = failures_.insert(failures_.end(), {client, Failures{}});
    }
    Failures& f = known->second;
    const std::chrono::seconds delay{1L << std::min(f.count, kMaxDelayShift)};
    ++f.count;
    f.notBefore = now + delay;
    std::fprintf(
        stderr, "zncip-collector admin: wrong admin token from %s (%u in a row); it may try again in %ld s\n",
        printableText(client).c_str(), f.count, static_cast<long>(delay.count()));
}

std::string readAdminToken(const std::string& file)
{
    Fd in{open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0)
        throw StartError("cannot read the admin token file " + file + ": " + std::strerror(errno));
    return tokenFrom(in.fd, file);
}

std::string adminTokenIn(const std::string& folder, std::string& file, bool& made)
{
    std::error_code ignored; // a folder that cannot be made absolute is named as given
    const std::filesystem::path absolute = std::filesystem::absolute(folder.empty() ? "." : folder, ignored);
    file = ((absolute.empty() ? std::filesystem::path(folder) : absolute.lexically_normal()) / kTokenFileName)
               .string();
    made = false;
    for (;;)
    {
        Fd existing{open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
        if (existing.fd >= 0)
        {
            struct stat st
            {
            };
            if (fstat(existing.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
                throw StartError(file + " is not a file of this user: remove it, or give --admin-token-file");
            return tokenFrom(existing.fd, file);
        }
        if (errno != ENOENT)
            throw StartError("cannot read the admin token file " + file + ": " + std::strerror(errno));
        Fd created{open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
        if (created.fd < 0 && errno == EEXIST) // another collector made it meanwhile
            continue;
        if (created.fd < 0)
            throw StartError("cannot make the admin token file " + file + ": " + std::strerror(errno));
        const std::string token = randomHex();
        const std::string line = token + "\n";
        if (write(created.fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            fsync(created.fd) != 0)
        {
            const std::string problem = std::strerror(errno);
            unlink(file.c_str());
            throw StartError("cannot write the admin token file " + file + ": " + problem);
        }
        made = true;
        return token;
    }
}

std::string defaultStateFolder(const std::string& dbAddress)
{
    if (dbAddress.rfind("postgresql://", 0) == 0 || dbAddress.rfind("postgres://", 0) == 0)
    {
        const char* state = std::getenv("STATE_DIRECTORY");
        const std::string first = state ? std::string(state).substr(0, std::string(state).find(':')) : "";
        return first.empty() ? "." : first;
    }
    const size_t slash = dbAddress.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : dbAddress.substr(0, slash);
}

bool isLoopback(const sockaddr* a)
{
    if (a->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr) >> 24) == 127;
    if (a->sa_family == AF_INET6)
    {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

std::string addressText(const sockaddr* a)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
    return text;
}

} // namespace zncip::collector
