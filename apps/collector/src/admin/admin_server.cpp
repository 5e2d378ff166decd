#include "admin/admin_server.h"

#include "report/csv.h"
#include "report/dashboard_files.h"
#include "report/export.h"
#include "ingest/form.h"
#include "ingest/hit_facts.h"
#include "report/html_report.h"
#include "http/http_log.h"
#include "http/listen_socket.h"
#include "report/report.h"
#include "ingest/collect_server.h"
#include "text/days.h"
#include "text/utf8.h"

#include <microhttpd.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace zncip::collector
{
namespace
{

const char kCookie[] = "zncip_admin";
constexpr size_t kMinTokenLength = 16;
constexpr size_t kMaxLoginBody = 1024;
constexpr int kMaxSamples = 50;

// Pages that the script of the dashboard draws; each is the same document.
const char* const kPages[] = {"/", "/commands", "/machines", "/versions", "/rejected"};

// Sent with every answer: no script but our own files, nothing sniffed, nothing of the data cached, no
// framing by other sites.
const std::pair<const char*, const char*> kSafetyHeaders[] = {
    {"Content-Security-Policy", "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                                "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Cache-Control", "no-store"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"}};

const char kLoginPage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>ZnCIP collector: sign in</title>
<link rel="stylesheet" href="/static/app.css"></head>
<body class="login"><form method="post" action="/login">
<h1>ZnCIP collector</h1>%s
<label>Admin token <input type="password" name="token" autofocus></label>
<button type="submit">Sign in</button>
</form></body></html>
)";

// Compares in time that depends on the expected token's length only, not on how much of it matches.
bool sameToken(const std::string& expected, std::string_view given)
{
    unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

std::string readToken(const std::string& file)
{
    std::ifstream in(file);
    if (!in)
        throw StartError("cannot read the admin token file " + file);
    std::string token;
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (token.size() < kMinTokenLength)
        throw StartError("the admin token in " + file + " must be at least " + std::to_string(kMinTokenLength) +
                         " characters");
    for (const char c : token)
        if (c < 0x21 || c > 0x7e || c == '"' || c == ',' || c == ';' || c == '\\')
            throw StartError("the admin token in " + file +
                             " may hold printable ASCII only, without blanks, quotes, commas, semicolons "
                             "and backslashes");
    return token;
}

bool fromLoopback(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return false;
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr) >> 24) == 127;
    if (a->sa_family == AF_INET6)
    {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

std::string_view argument(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
    return v ? v : "";
}

// The period a request asks for; false when a date is not one.
bool periodOf(MHD_Connection* c, Period& p)
{
    int32_t day = 0;
    for (const auto& [name, target] : {std::pair{"from", &p.from}, std::pair{"to", &p.to}})
    {
        const std::string_view text = argument(c, name);
        if (text.empty())
            continue;
        if (!parseDay(std::string(text), day))
            return false;
        *target = day;
    }
    if (const char* v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "version"); v && *v)
        p.version = v;
    return true;
}

struct Answer
{
    unsigned status = MHD_HTTP_OK;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string_view file{}; // one of the program's own files, sent from where it lies instead of body
};

Answer text(unsigned status, std::string body)
{
    return {status, "text/plain; charset=utf-8", std::move(body), {}};
}

} // namespace

struct AdminServer::Impl
{
    AdminConfig config;
    std::string token; // empty: loopback only
    std::mutex storeMutex;
    std::unique_ptr<HitStore> store;
    MHD_Daemon* daemon = nullptr;
    uint16_t boundPort = 0;
    std::string boundAddress;

    // A POST /login body, gathered across calls.
    struct Upload
    {
        std::string body;
        bool tooLarge = false;
    };

    explicit Impl(AdminConfig c) : config(std::move(c)) {}

    bool authorised(MHD_Connection* c) const
    {
        if (const char* header = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION))
        {
            const std::string_view h = header;
            if (h.size() > 7 && strncasecmp(header, "Bearer ", 7) == 0 && sameToken(token, h.substr(7)))
                return true;
        }
        const char* cookie = MHD_lookup_connection_value(c, MHD_COOKIE_KIND, kCookie);
        return cookie && sameToken(token, cookie);
    }

    Answer handle(MHD_Connection* c, const std::string& method, const std::string& path, const Upload* upload)
    {
        if (token.empty() && !fromLoopback(c))
            return text(MHD_HTTP_FORBIDDEN, "the admin pages answer only on this machine unless the collector "
                                            "is given --admin-token-file\n");
        const bool loginAssets = path == "/login" || path == "/static/app.css";
        if (!token.empty() && !loginAssets && !authorised(c))
        {
            if (path.rfind("/api/", 0) == 0)
            {
                Answer a = text(MHD_HTTP_UNAUTHORIZED, "a bearer token is required\n");
                a.headers.emplace_back("WWW-Authenticate", "Bearer");
                return a;
            }
            Answer a = text(MHD_HTTP_SEE_OTHER, "sign in at /login\n");
            a.headers.emplace_back("Location", "/login");
            return a;
        }
        if (path == "/login")
            return login(method, upload);
        if (method != "GET" && method != "HEAD")
        {
            Answer a = text(MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n");
            a.headers.emplace_back("Allow", "GET, HEAD");
            return a;
        }
        for (const char* page : kPages)
            if (path == page)
                return file("index.html", "text/html; charset=utf-8");
        if (path == "/static/app.js")
            return file("app.js", "text/javascript; charset=utf-8");
        if (path == "/static/app.css")
            return file("app.css", "text/css; charset=utf-8");
        if (path == "/static/chart.js")
            return file("chart.js", "text/javascript; charset=utf-8");
        if (path.rfind("/api/", 0) == 0)
            return api(c, path.substr(5));
        return text(MHD_HTTP_NOT_FOUND, "no such page\n");
    }

    static Answer file(const char* name, const char* type)
    {
        return {MHD_HTTP_OK, type, {}, {}, dashboard::embeddedFile(name)};
    }

    Answer login(const std::string& method, const Upload* upload)
    {
        auto page = [](unsigned status, const char* message)
        {
            std::string html(sizeof kLoginPage + 128, '\0');
            html.resize(static_cast<size_t>(std::snprintf(html.data(), html.size(), kLoginPage, message)));
            return Answer{status, "text/html; charset=utf-8", html, {}};
        };
        if (token.empty())
        {
            Answer a = text(MHD_HTTP_SEE_OTHER, "no token is needed here\n");
            a.headers.emplace_back("Location", "/");
            return a;
        }
        if (method == "GET" || method == "HEAD")
            return page(MHD_HTTP_OK, "");
        if (method != "POST")
            return text(MHD_HTTP_METHOD_NOT_ALLOWED, "GET or POST\n");
        if (!upload || upload->tooLarge)
            return text(MHD_HTTP_CONTENT_TOO_LARGE, "the sign-in form is too large\n");
        std::string given;
        for (const FormField& f : decodeForm(upload->body).fields)
            if (f.name == "token")
                given = f.value;
        if (!sameToken(token, given))
            return page(MHD_HTTP_UNAUTHORIZED, "<p class=\"error\">That is not the admin token.</p>");
        Answer a = text(MHD_HTTP_SEE_OTHER, "signed in\n");
        a.headers.emplace_back("Location", "/");
        a.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
        return a;
    }

    Answer api(MHD_Connection* c, const std::string& name)
    {
        Period period;
        if (!periodOf(c, period))
            return text(MHD_HTTP_BAD_REQUEST, "from and to are days as YYYY-MM-DD\n");
        std::lock_guard<std::mutex> lock(storeMutex);
        if (name == "versions")
            return {MHD_HTTP_OK, "application/json", versionsJson(store->versions()), {}};
        if (name == "rejected")
        {
            int limit = 5;
            const std::string_view n = argument(c, "limit");
            if (!n.empty())
                limit = n.size() <= 2 && n.find_first_not_of("0123456789") == std::string_view::npos
                            ? std::min(std::stoi(std::string(n)), kMaxSamples)
                            : -1;
            if (limit < 0)
                return text(MHD_HTTP_BAD_REQUEST, "limit is a number up to 50\n");
            return {MHD_HTTP_OK, "application/json", samplesJson(store->rejectedSamples(period, limit)), {}};
        }
        const Report report = buildReport(store->rollups(period), period);
        if (name == "report")
            return {MHD_HTTP_OK, "application/json", reportJson(report), {}};
        if (name.rfind("csv/", 0) == 0)
        {
            const std::string table = name.substr(4);
            if (auto csv = reportCsv(report, table))
                return {MHD_HTTP_OK,
                        "text/csv; charset=utf-8",
                        std::move(*csv),
                        {{"Content-Disposition", "attachment; filename=\"" + table + ".csv\""}}};
        }
        return text(MHD_HTTP_NOT_FOUND, "no such table or API\n");
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                                const char* data, size_t* size, void** context)
    {
        auto* self = static_cast<Impl*>(cls);
        try
        {
            const std::string m = method;
            if (m == "POST")
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
                    if (upload->body.size() + *size > kMaxLoginBody)
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
            return self->send(c, text(MHD_HTTP_SERVICE_UNAVAILABLE, std::string("cannot answer now: ") +
                                                                       printableText(e.what()) + "\n"));
        }
    }

    static void onCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode)
    {
        delete static_cast<Upload*>(*context);
        *context = nullptr;
    }

    MHD_Result send(MHD_Connection* c, const Answer& a)
    {
        MHD_Response* r = a.file.data()
                              ? MHD_create_response_from_buffer(a.file.size(), const_cast<char*>(a.file.data()),
                                                                MHD_RESPMEM_PERSISTENT)
                              : MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                                MHD_RESPMEM_MUST_COPY);
        if (!r)
            return MHD_NO;
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.contentType.c_str());
        for (const auto& [name, value] : kSafetyHeaders)
            MHD_add_response_header(r, name, value);
        for (const auto& [name, value] : a.headers)
            MHD_add_response_header(r, name.c_str(), value.c_str());
        const MHD_Result result = MHD_queue_response(c, a.status, r);
        MHD_destroy_response(r);
        return result;
    }

    void start()
    {
        if (!config.tokenFile.empty())
            token = readToken(config.tokenFile);
        try
        {
            StoreOptions readOnly = config.storeOptions;
            readOnly.readOnly = true;
            store = openStore(config.dbPath, readOnly);
        }
        catch (const StoreError& e)
        {
            throw StartError(e.what());
        }
        const ListenSocket listening = openListenSocket(config.listenAddress, config.port);
        boundPort = listening.port;
        boundAddress = listening.address;
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
        if (listening.address.front() == '[')
            flags |= MHD_USE_IPv6;
        daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::onRequest, this, MHD_OPTION_EXTERNAL_LOGGER,
                                  &logFromHttpLibrary, const_cast<char*>("zncip-collector admin"), MHD_OPTION_LISTEN_SOCKET, listening.fd,
                                  MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this,
                                  MHD_OPTION_CONNECTION_TIMEOUT, 30u, MHD_OPTION_CONNECTION_LIMIT, 64u,
                                  MHD_OPTION_THREAD_POOL_SIZE, 2u, MHD_OPTION_END);
        if (!daemon)
        {
            close(listening.fd);
            throw StartError("cannot start the admin HTTP server");
        }
    }

    void stop()
    {
        if (daemon)
            MHD_stop_daemon(daemon);
        daemon = nullptr;
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

} // namespace zncip::collector

namespace zncip::collector
{

std::string AdminServer::address() const
{
    return impl_->boundAddress;
}

} // namespace zncip::collector
