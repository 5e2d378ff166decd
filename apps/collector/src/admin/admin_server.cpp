// The admin listener's daemon: its start and stop, the headers every answer carries, and the routing of a
// request past the Host check and the credential check (admin_auth) to the pages, the sign-in form or the
// API (admin_api). The serve command calls start() and stop() from its main thread; the callbacks run on
// the HTTP library's threads, one for each open connection, so that a slow report holds up no one else.
#include "admin/admin_server.h"

#include "admin/admin_api.h"
#include "admin/admin_auth.h"
#include "admin/reader_pool.h"
#include "admin/request_deadlines.h"
#include "admin/sign_in.h"
#include "admin/static_files.h"
#include "http/http_log.h"
#include "http/listen_socket.h"
#include "http/start_error.h"
#include "text/utf8.h"

#include <microhttpd.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

namespace zncip::collector
{
namespace
{

constexpr size_t kMaxFormBody = 1024;
constexpr size_t kReaders = 4; // more reports at once only share the two cores more thinly
const char kApiPrefix[] = "/api/";
const char kNoStore[] = "no-store";
// The program's own files change only with the program. At an address with their version (the page asks
// for them so) a browser keeps them and does not ask again; at another it asks whether its copy, named by
// the ETag, is still current, which costs an empty answer instead of Chart.js again.
const char kRevalidate[] = "no-cache";
const char kKeep[] = "private, max-age=31536000, immutable";
const char kStatusPath[] = "/api/status";
const char kReportPrefix[] = "/api/report";
const char kCsvPrefix[] = "/api/csv/";
const char kJsonType[] = "application/json";

// Pages that the script of the dashboard draws; each is the same document.
const char* const kPages[] = {"/", "/commands", "/machines", "/versions", "/rejected"};
// Sent with every answer: no script but our own files, nothing sniffed, nothing of the data cached, no
// framing by other sites. The program's own files are the exception to caching: see staticFile.
const std::pair<const char*, const char*> kSafetyHeaders[] = {
    {"Content-Security-Policy",
     "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
     "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"}};

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

std::string_view header(MHD_Connection* c, MHD_ValueKind kind, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, kind, name);
    return v ? v : "";
}

const sockaddr* clientAddress(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info ? info->client_addr : nullptr;
}

// The address a page was asked by, its query rebuilt from the arguments the library decoded.
std::string askedAddress(MHD_Connection* c, const std::string& path)
{
    std::string query;
    MHD_get_connection_values(
        c, MHD_GET_ARGUMENT_KIND,
        [](void* out, MHD_ValueKind, const char* key, const char* value)
        {
            auto& q = *static_cast<std::string*>(out);
            q += (q.empty() ? "?" : "&") + percentEncoded(key) + "=" + percentEncoded(value ? value : "");
            return MHD_YES;
        },
        &query);
    return path + query;
}

// A POST body (the sign-in form), gathered across calls.
struct Upload
{
    std::string body;
    bool tooLarge = false;
};

} // namespace

struct AdminServer::Impl
{
    AdminConfig config;
    std::optional<AdminAuth> auth;
    std::string tokenFile;
    bool tokenMade = false;
    std::optional<ReaderPool> readers;
    ReportCache reports;
    RequestDeadlines deadlines;
    MHD_Daemon* daemon = nullptr;
    uint16_t boundPort = 0;
    std::string boundAddress;

    explicit Impl(AdminConfig c)
        : config(std::move(c)), deadlines(std::chrono::seconds(config.requestTimeoutSec))
    {
    }

    AdminAnswer handle(MHD_Connection* c, const std::string& method, const std::string& path,
                       const Upload* upload)
    {
        const std::string_view host = header(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
        if (host.empty())
            return plainAnswer(MHD_HTTP_BAD_REQUEST, "a Host header is required\n");
        if (!auth->hostAllowed(host))
            return plainAnswer(
                MHD_HTTP_MISDIRECTED_REQUEST,
                "this admin listener answers to " + boundAddress + ":" + std::to_string(boundPort) +
                    " and the names given with --admin-host, not to " + printableText(host) + "\n");
        const sockaddr* from = clientAddress(c);
        if (!auth->tokenRequired() && !(from && isLoopback(from)))
            return plainAnswer(MHD_HTTP_FORBIDDEN, "the admin pages answer only on this machine unless the "
                                                   "collector has an admin token\n");
        const std::string client = from ? addressText(from) : "";
        const std::string_view cookie = header(c, MHD_COOKIE_KIND, sessionCookie());
        if (path == "/login")
            return signIn(*auth, method, client, upload && !upload->tooLarge ? &upload->body : nullptr,
                          header(c, MHD_GET_ARGUMENT_KIND, returnArgument()));
        if (path == "/logout")
            return signOut(*auth, method, cookie);
        if (path != "/static/app.css" && auth->tokenRequired())
            if (auto refused =
                    refusal(*auth, client, header(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION), cookie,
                            startsWith(path, kApiPrefix), askedAddress(c, path)))
                return *refused;
        if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD)
        {
            AdminAnswer a = plainAnswer(MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n");
            a.headers.emplace_back("Allow", "GET, HEAD");
            return a;
        }
        const bool gzip = acceptsGzip(header(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_ENCODING));
        for (const char* page : kPages)
            if (path == page)
                return served(StaticFiles::instance().page(), gzip, kNoStore);
        if (const ServedFile* f = StaticFiles::instance().find(path))
            return staticFile(*f, gzip, header(c, MHD_GET_ARGUMENT_KIND, kVersionArgument),
                              header(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH));
        if (startsWith(path, kApiPrefix))
        {
            const ReaderPool::Lease reader =
                readers->take(startsWith(path, kReportPrefix) || startsWith(path, kCsvPrefix));
            if (path == kStatusPath)
                return {MHD_HTTP_OK,
                        kJsonType,
                        withStoredDays(config.status ? config.status() : "{}", *reader),
                        {}};
            return answerApi(
                *reader, reports, path.substr(sizeof kApiPrefix - 1),
                [c](const char* name) { return header(c, MHD_GET_ARGUMENT_KIND, name); }, gzip);
        }
        return plainAnswer(MHD_HTTP_NOT_FOUND, "no such page\n");
    }

    // A file in the form the browser takes; whichever it gets, a cache keeps it apart from the other.
    static AdminAnswer served(const ServedFile& f, bool gzip, const char* caching)
    {
        AdminAnswer a{MHD_HTTP_OK,
                      std::string(f.type),
                      {},
                      {{MHD_HTTP_HEADER_CACHE_CONTROL, caching},
                       {MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING}}};
        a.file = gzip ? f.gzip : f.plain;
        if (gzip)
            a.headers.emplace_back(MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
        return a;
    }

    // A script or the style sheet: kept by the browser at its versioned address; elsewhere revalidated,
    // and sent again only when the program changed.
    static AdminAnswer staticFile(const ServedFile& f, bool gzip, std::string_view version,
                                  std::string_view ifNoneMatch)
    {
        AdminAnswer a = served(f, gzip, version == f.version ? kKeep : kRevalidate);
        const std::string_view tag = gzip ? f.gzipTag : f.tag;
        a.headers.emplace_back(MHD_HTTP_HEADER_ETAG, tag);
        if (ifNoneMatch == tag)
        {
            a.status = MHD_HTTP_NOT_MODIFIED;
            a.file = {};
            a.headers.erase(std::remove_if(a.headers.begin(), a.headers.end(),
                                           [](const auto& h)
                                           { return h.first == MHD_HTTP_HEADER_CONTENT_ENCODING; }),
                            a.headers.end());
        }
        return a;
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char*, const char* data, size_t* size, void** context)
    {
        auto* self = static_cast<Impl*>(cls);
        try
        {
            const std::string m = method;
            if (m == MHD_HTTP_METHOD_POST)
            {
                // Gathers the body first: the library calls back once per piece, then once with none.
                auto* upload = static_cast<Upload*>(*context);
                if (!upload)
                {
                    *context = upload = new Upload;
                    return MHD_YES;
                }
                if (*size)
                {
                    if (upload->body.size() + *size > kMaxFormBody)
                        upload->tooLarge = true;
                    else
                        upload->body.append(data, *size);
                    *size = 0;
                    return MHD_YES;
                }
                return self->send(c, self->handle(c, m, url, upload));
            }
            return self->send(c, self->handle(c, m, url, nullptr));
        }
        catch (const std::exception& e)
        {
            return self->send(c,
                              plainAnswer(MHD_HTTP_SERVICE_UNAVAILABLE, std::string("cannot answer now: ") +
                                                                            printableText(e.what()) + "\n"));
        }
    }

    static void onCompleted(void* cls, MHD_Connection* c, void** context, MHD_RequestTerminationCode)
    {
        delete static_cast<Upload*>(*context);
        *context = nullptr;
        static_cast<Impl*>(cls)->deadlines.answered(c);
    }

    static void onConnection(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code)
    {
        auto* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_CLOSED)
            return self->deadlines.closed(c);
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
            self->deadlines.opened(c, info->connect_fd);
    }

    MHD_Result send(MHD_Connection* c, const AdminAnswer& a)
    {
        deadlines.answering(c);
        MHD_Response* r =
            a.file.data() ? MHD_create_response_from_buffer(a.file.size(), const_cast<char*>(a.file.data()),
                                                            MHD_RESPMEM_PERSISTENT)
                          : MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                            MHD_RESPMEM_MUST_COPY);
        if (!r)
            return MHD_NO;
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.contentType.c_str());
        for (const auto& [name, value] : kSafetyHeaders)
            MHD_add_response_header(r, name, value);
        if (std::none_of(a.headers.begin(), a.headers.end(),
                         [](const auto& h) { return h.first == MHD_HTTP_HEADER_CACHE_CONTROL; }))
            MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, kNoStore);
        for (const auto& [name, value] : a.headers)
            MHD_add_response_header(r, name.c_str(), value.c_str());
        const MHD_Result result = MHD_queue_response(c, a.status, r);
        MHD_destroy_response(r);
        return result;
    }

    std::string token()
    {
        if (config.noToken)
            return {};
        if (!config.tokenFile.empty())
            return tokenFile = config.tokenFile, readAdminToken(config.tokenFile);
        return adminTokenIn(config.stateFolder.empty() ? defaultStateFolder(config.dbPath)
                                                       : config.stateFolder,
                            tokenFile, tokenMade);
    }

    void start()
    {
        if (config.noToken && !config.tokenFile.empty())
            throw StartError("an admin token file and no admin token exclude each other");
        try
        {
            StoreOptions readOnly = config.storeOptions;
            readOnly.readOnly = true;
            // The pages read the hot standby when one is given, so that they never slow the ingest.
            const std::string path = config.readDbPath.empty() ? config.dbPath : config.readDbPath;
            readers.emplace([path, readOnly]() -> std::unique_ptr<HitReader> { return openStore(path, readOnly); },
                            kReaders);
        }
        catch (const StoreError& e)
        {
            throw StartError(e.what());
        }
        AdminAuth::Settings settings{token(), config.hostNames,      {}, config.listenAddress,
                                     0,       config.sessionLifetime};
        const ListenSocket listening = openListenSocket(config.listenAddress, config.port);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(listening.fd, reinterpret_cast<sockaddr*>(&bound), &length);
        if (settings.token.empty() && !isLoopback(reinterpret_cast<const sockaddr*>(&bound)))
        {
            close(listening.fd);
            throw StartError("the admin listener on " + listening.address +
                             " is open to other machines: it needs an admin token (drop --admin-no-token)");
        }
        boundPort = settings.port = listening.port;
        boundAddress = settings.listenAddress = listening.address;
        auth.emplace(std::move(settings));
        unsigned flags =
            MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL | MHD_USE_ERROR_LOG;
        if (listening.address.front() == '[')
            flags |= MHD_USE_IPv6;
        StaticFiles::instance(); // compressed now rather than while the first page waits
        deadlines.start();
        daemon = MHD_start_daemon(
            flags, 0, nullptr, nullptr, &Impl::onRequest, this, MHD_OPTION_EXTERNAL_LOGGER,
            &logFromHttpLibrary, const_cast<char*>("zncip-collector admin"), MHD_OPTION_LISTEN_SOCKET,
            listening.fd, MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
            &Impl::onConnection, this, MHD_OPTION_CONNECTION_TIMEOUT, config.requestTimeoutSec,
            MHD_OPTION_CONNECTION_LIMIT, config.connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
            config.connectionsPerAddress, MHD_OPTION_END);
        if (!daemon)
        {
            deadlines.stop();
            close(listening.fd);
            throw StartError("cannot start the admin HTTP server");
        }
    }

    void stop()
    {
        if (daemon)
            MHD_stop_daemon(daemon);
        daemon = nullptr;
        deadlines.stop();
    }
};

AdminServer::AdminServer(AdminConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

AdminServer::~AdminServer()
{
    impl_->stop();
}

void AdminServer::start()
{
    impl_->start();
}

void AdminServer::stop()
{
    impl_->stop();
}

uint16_t AdminServer::port() const
{
    return impl_->boundPort;
}

std::string AdminServer::address() const
{
    return impl_->boundAddress;
}

std::string AdminServer::tokenFile() const
{
    return impl_->tokenFile;
}

bool AdminServer::tokenMade() const
{
    return impl_->tokenMade;
}

} // namespace zncip::collector
