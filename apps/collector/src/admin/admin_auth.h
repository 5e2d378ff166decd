// Who may use the admin listener: the admin token (read from a file, or made at first start), the
// sessions a sign-in opens, the growing delay after wrong tokens, and the Host a request must name so that
// a page of another site cannot reach the listener through a name it controls (DNS rebinding).
// AdminServer calls an AdminAuth from the HTTP library's threads at once: its members lock what they
// change. The token-file functions run in AdminServer::start, on the caller's thread.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zncip::collector
{

class AdminAuth
{
public:
    using Clock = std::chrono::steady_clock;

    struct Settings
    {
        std::string token;                  // empty: no token, clients on this machine only
        std::vector<std::string> hostNames; // names a request may give as its Host, any port
        std::string listenAddress;          // as the listener prints it: 127.0.0.1, [::1], 0.0.0.0
        std::string listenName;             // as it was given, when that differs: localhost
        uint16_t port = 0;
        std::chrono::seconds sessionLifetime{12 * 3600};
    };

    enum class Verdict
    {
        Allowed,
        Missing, // no credential at all
        Wrong,   // a wrong token or an unknown or expired session
        Locked,  // too soon after a wrong token from the same address: see retryAfter
    };

    explicit AdminAuth(Settings settings);

    bool tokenRequired() const { return !settings_.token.empty(); }
    // The listen address with no port or its own, a configured name with any, or on a wildcard listen
    // address any numeric address with no port or its own.
    bool hostAllowed(std::string_view host) const;
    // A request's credential: a session cookie, or a bearer token (Authorization header value). A wrong
    // bearer token counts against the address as a wrong sign-in does.
    Verdict check(const std::string& client, std::string_view authorization, std::string_view cookie);
    // POST /login: on Allowed, session holds the id of a new session for the cookie.
    Verdict signIn(const std::string& client, std::string_view token, std::string& session);
    void signOut(std::string_view cookie);
    // Whole seconds until the address may present a token again (at least 1 while locked).
    long retryAfter(const std::string& client) const;
    std::chrono::seconds sessionLifetime() const { return settings_.sessionLifetime; }

private:
    struct Session
    {
        std::string id;
        Clock::time_point expires;
    };
    struct Failures
    {
        unsigned count = 0;
        Clock::time_point notBefore;
    };

    bool lockedOut(const std::string& client, Clock::time_point now) const;
    void failed(const std::string& client, Clock::time_point now);
    void succeeded(const std::string& client);

    Settings settings_;
    mutable std::mutex mutex_;
    std::vector<Session> sessions_;
    std::vector<std::pair<std::string, Failures>> failures_; // by client address
};

// The admin token in a file: its first line, at least 16 printable characters fit for a cookie. Throws
// StartError when it is not one; warns on stderr when users other than the owner may read the file.
std::string readAdminToken(const std::string& file);

// The token file in a state folder, made with a new random token (mode 0600) when there is none. Throws
// StartError when the folder cannot take it or the file there belongs to another user. made tells
// whether this call wrote it.
std::string adminTokenIn(const std::string& folder, std::string& file, bool& made);

// Where a token is made when none is given: the folder of an SQLite database; for a PostgreSQL address,
// $STATE_DIRECTORY (as systemd sets it) or else the working directory.
std::string defaultStateFolder(const std::string& dbAddress);

// 127.0.0.0/8, ::1 or ::ffff:127.x.y.z.
bool isLoopback(const sockaddr* address);
// The printable form of a client's address, as the log and the lock-out name it.
std::string addressText(const sockaddr* address);

} // namespace zncip::collector
