// The collection port: HTTP framing, limits and routing on one thread, which also commits the hits where
// a database server does the work, or hands them to a writer thread. Each hit is answered once its group
// is committed. It runs to some 600 lines because a request's whole life with the library (its state
// from the request line on, what is learnt of its connection, the checks of its head, its body, the wait
// for the commit and the stop) reads best in one place.
#include "ingest/collect_server.h"

#include "http/http_log.h"
#include "http/listen_socket.h"
#include "ingest/collect_answers.h"
#include "ingest/hit_parser.h"
#include "ingest/validation.h"
#include "ingest/validation_json.h"
#include "store/commit_group.h"
#include "store/commit_writer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

namespace zncip::collector
{
namespace
{

enum class Route
{
    Collect,
    Debug,
    Batch
};

// Where a request's hits are on their way to the database.
enum class Commit
{
    NotYet,  // still being read, or not hits at all
    Pending, // in a group: the handler is called again on every turn until it is committed
    Stored,
    Failed,    // answered 503, so that the client sends the hits again
    Abandoned, // its connection closed while it was pending: the commit frees the request
};

struct Request
{
    // The request target as it arrived, read before the library splits off the query.
    const char* target = nullptr;
    size_t targetLength = 0;
    bool admitted = false; // past the head's checks, and counted in flight
    Route route = Route::Collect;
    std::string body;
    std::atomic<Commit> commit{Commit::NotYet}; // told by the thread that commits
    bool awaited = false;                       // counted in awaiting: submitted and not yet answered
};

// How a connection's client writes its requests, learnt from its first one. A client that writes head and
// body apart without TCP_NODELAY (Qt does) holds the body back until the head is acknowledged, so each of
// its heads is acknowledged at once. For a client that writes a request at once that acknowledgement is
// a packet of its own, on every hit, where the answer would have carried it.
enum class Writes
{
    NotYetKnown,
    InPieces,
    Whole
};

// What the collector keeps of a connection across its requests; the library holds it for us.
struct Peer
{
    Writes writes = Writes::NotYetKnown;
};

// What a connection's memory holds beyond the largest head allowed: the answer's head, and the library's
// own records. The library clears the whole of it after every request, so it is kept no larger.
constexpr size_t kAnswerRoom = 4096;

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Leaves the request path as it arrived: routing compares it byte for byte, so an escaped "/debug%2Fcollect"
// or "/collect%00x" reaches no endpoint, as a proxy in front that filters on the raw path expects.
size_t keepPathRaw(void*, MHD_Connection*, char* text)
{
    return std::strlen(text);
}

// What the request line and headers say about the request, gathered before anything is stored.
struct Head
{
    size_t bytes = 0; // request line and headers as they arrived
    const char* length = nullptr;
    bool conflicting = false; // two different lengths leave the end of the body in doubt
    bool chunked = false;
};

MHD_Result readHeader(void* cls, MHD_ValueKind, const char* name, const char* value)
{
    auto* head = static_cast<Head*>(cls);
    value = value ? value : "";
    if (strcasecmp(name, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0)
    {
        head->conflicting |= head->length && std::strcmp(head->length, value) != 0;
        head->length = value;
    }
    if (strcasecmp(name, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0)
        head->chunked = true;
    return MHD_YES;
}

} // namespace

struct CollectServer::Impl
{
    CollectConfig config;
    std::unique_ptr<HitStore> store;
    int wakeFd = -1; // written by the writer after each commit, and by stop()
    // Where the hits go, one of the two: a writer thread where the store does a commit's work in this
    // process, so that the collection thread reads the next requests meanwhile; a group that the
    // collection thread commits itself where a database server does it, which costs less processor
    // than handing each group to a thread and waking it.
    std::unique_ptr<CommitWriter> writer;
    std::unique_ptr<CommitGroup> group;
    // The collection thread's own: how many requests whose hits went to the writer or the group are not yet
    // answered, and whether answers were queued in this turn of the loop or are due in the next (a group
    // just committed), which the library sends only on a turn of their own.
    size_t awaiting = 0;
    bool answersDue = false;
    MHD_Daemon* daemon = nullptr;
    std::thread loop;
    std::atomic<bool> quit{false}; // read by the loop once woken
    uint16_t boundPort = 0;
    std::string boundAddress;

    const CollectAnswers answers;

    // Requests read and not yet answered; stop() waits for them.
    std::mutex inFlightMutex;
    std::condition_variable inFlightDone;
    int inFlight = 0;
    std::atomic<bool> stopping{false};

    Impl(CollectConfig c, std::unique_ptr<HitStore> s) : config(std::move(c)), store(std::move(s)) {}

    ~Impl()
    {
        stop();
        if (wakeFd >= 0)
            close(wakeFd);
    }

    // Stops taking connections, lets every request under way be committed and answered, then closes the
    // rest. Closing a connection whose hit is committed but not yet answered would have it sent again.
    void stop()
    {
        if (daemon)
        {
            // From here on a new connection is closed as soon as it is accepted, and a new request on an
            // open one is answered 503. (The library's own way to stop listening, quiescing, can abort the
            // process when its epoll threads remove the listening socket at the same moment.)
            stopping = true;
            {
                // Bounded: a body may trickle in for the idle timeout, a commit wait for the busy timeout.
                std::unique_lock<std::mutex> lock(inFlightMutex);
                inFlightDone.wait_for(lock, std::chrono::seconds(config.idleTimeoutSec + 10),
                                      [&] { return inFlight == 0; });
            }
            quit = true;
            const uint64_t one = 1;
            if (write(wakeFd, &one, sizeof one) < 0)
                std::perror("zncip-collector: waking the collection thread");
            if (loop.joinable())
                loop.join();
        }
        // Should a request under way outlast the wait, its hits are still kept, unanswered.
        if (writer)
            writer->stop();
        if (group)
            group->commit();
        if (daemon)
        {
            MHD_stop_daemon(daemon); // closes the listening socket too
            daemon = nullptr;
        }
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* upload, size_t* uploadSize, void** context)
    {
        auto* self = static_cast<Impl*>(cls);
        // Nothing may unwind into the library's C code: the process would end. Out of memory is the likely
        // cause, and the hit was not stored, so the client is asked to send it again.
        try
        {
            return self->handle(connection, url, method, version, upload, uploadSize, context);
        }
        catch (...)
        {
            return MHD_queue_response(connection, MHD_HTTP_SERVICE_UNAVAILABLE, self->answers.unavailable);
        }
    }

    // Every request's state is made here, when the library has read the request line: the one moment the
    // target can be seen whole. A NUL byte in it would end the path the handler sees early, so that
    // "/collect\0x" would be routed to /collect. The library frees nothing of ours: onCompleted does.
    static void* onUri(void*, const char* uri, MHD_Connection*)
    {
        try // nothing may unwind into the library; without the state, the handler answers 503
        {
            auto* request = new Request;
            request->target = uri;
            request->targetLength = std::strlen(uri);
            return request;
        }
        catch (...)
        {
            return nullptr;
        }
    }

    static MHD_Result onAccept(void* cls, const sockaddr*, socklen_t)
    {
        return static_cast<Impl*>(cls)->stopping ? MHD_NO : MHD_YES;
    }

    static void onConnection(void*, MHD_Connection*, void** socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            *socketContext = new (std::nothrow) Peer; // without it, every head is acknowledged at once
        else
        {
            delete static_cast<Peer*>(*socketContext);
            *socketContext = nullptr;
        }
    }

    static Peer* peerOf(MHD_Connection* connection)
    {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Peer*>(info->socket_context) : nullptr;
    }

    static int descriptorOf(MHD_Connection* connection)
    {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        return info ? info->connect_fd : -1;
    }

    static void onCompleted(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode)
    {
        auto* request = static_cast<Request*>(*context);
        *context = nullptr;
        if (!request)
            return;
        auto* self = static_cast<Impl*>(cls);
        const bool admitted = request->admitted;
        self->awaiting -= request->awaited;
        Commit pending = Commit::Pending;
        if (!request->commit.compare_exchange_strong(pending, Commit::Abandoned))
            delete request;
        if (!admitted)
            return;
        std::lock_guard<std::mutex> lock(self->inFlightMutex);
        if (--self->inFlight == 0)
            self->inFlightDone.notify_all();
    }

    void acknowledgeHead(MHD_Connection* connection) const
    {
        const Peer* peer = peerOf(connection);
        if (config.quickAck && !(peer && peer->writes == Writes::Whole))
            acknowledgeAtOnce(descriptorOf(connection));
    }

    // Called once a connection's first request is read whole, before it is answered: the client has sent
    // nothing more yet, so the segments that carried data so far are that request's.
    static void learnHowPeerWrites(MHD_Connection* connection)
    {
        Peer* peer = peerOf(connection);
        if (peer && peer->writes == Writes::NotYetKnown)
            peer->writes = arrivedInOneSegment(descriptorOf(connection)) ? Writes::Whole : Writes::InPieces;
    }

    // The target ended where the library put the version, right after it: a target that is longer than the
    // text the URI callback read holds a NUL byte. (A request without a version has nothing to compare.)
    static bool targetHoldsNul(const Request& request, const char* version, size_t headBytes)
    {
        const auto target = reinterpret_cast<uintptr_t>(request.target);
        const auto end = reinterpret_cast<uintptr_t>(version) - 1;
        return request.target && end > target && end - target <= headBytes &&
               end - target != request.targetLength;
    }

    // The head alone decides whether a request is read at all: its size and framing, its route and method,
    // its declared length. An admitted request counts as in flight until it is answered.
    MHD_Result admit(MHD_Connection* connection, Request& request, const char* url, const char* method,
                     const char* version)
    {
        acknowledgeHead(connection);
        // Checked before anything is stored: the library's own limit leaves room beyond it for the answer
        // (kAnswerRoom). The library counts the request line, query string included, and the headers as
        // they arrived.
        Head head;
        const MHD_ConnectionInfo* size =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        head.bytes = size ? size->header_size : 0;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &readHeader, &head);
        if (head.bytes > config.maxHeaderBytes)
            return MHD_queue_response(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                                      answers.headTooLarge);
        if (head.conflicting || (head.length && head.chunked))
            return MHD_queue_response(connection, MHD_HTTP_BAD_REQUEST, answers.badFraming);
        if (targetHoldsNul(request, version, head.bytes))
            return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, answers.notFound);
        Route route;
        if (std::strcmp(url, "/collect") == 0)
            route = Route::Collect;
        else if (std::strcmp(url, "/debug/collect") == 0)
            route = Route::Debug;
        else if (std::strcmp(url, "/batch") == 0)
            route = Route::Batch;
        else
            return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, answers.notFound);
        if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0)
            return MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, answers.notAllowed);
        // The head's lengths agree by now, so the one it read stands for all of them.
        if (head.length && std::strtoull(head.length, nullptr, 10) > config.maxBodyBytes)
            return MHD_queue_response(connection, MHD_HTTP_CONTENT_TOO_LARGE, answers.tooLarge);
        if (stopping)
            return MHD_queue_response(connection, MHD_HTTP_SERVICE_UNAVAILABLE, answers.closing);
        request.route = route;
        std::lock_guard<std::mutex> lock(inFlightMutex);
        ++inFlight;
        request.admitted = true;
        return MHD_YES;
    }

    MHD_Result handle(MHD_Connection* connection, const char* url, const char* method, const char* version,
                      const char* upload, size_t* uploadSize, void** context)
    {
        auto* request = static_cast<Request*>(*context);
        if (!request)
            throw std::bad_alloc(); // the URI callback could not make it
        if (request->commit != Commit::NotYet)
            return answerCommitted(connection, *request);
        if (!request->admitted)
            return admit(connection, *request, url, method, version);
        if (*uploadSize != 0)
        {
            // Only a body without a length (chunked) gets here oversized. The library cannot answer in
            // the middle of a body, so the connection is dropped instead of reading on.
            if (request->body.size() + *uploadSize > config.maxBodyBytes)
                return MHD_NO;
            request->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        learnHowPeerWrites(connection);
        switch (request->route)
        {
        case Route::Collect:
            return collect(connection, *request);
        case Route::Debug:
            return debug(connection, *request);
        case Route::Batch:
            return batch(connection, *request);
        }
        return MHD_NO;
    }

    static std::string userAgentOf(MHD_Connection* connection)
    {
        const char* agent =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_USER_AGENT);
        return agent ? agent : "";
    }

    // The hits go to the group or the writer; the handler answers them once they are committed.
    MHD_Result storeAndAnswer(Request& request, std::vector<HitRecord> hits)
    {
        request.commit = Commit::Pending; // before the writer can settle it
        try
        {
            auto done = [request = &request](bool stored) { settle(request, stored); };
            group ? group->add(std::move(hits), done) : writer->submit(std::move(hits), done);
        }
        catch (...)
        {
            request.commit = Commit::NotYet;
            throw;
        }
        request.awaited = true;
        ++awaiting;
        return MHD_YES;
    }

    // Called when the request's group is committed, on the thread that committed it.
    static void settle(Request* request, bool stored)
    {
        Commit pending = Commit::Pending;
        if (!request->commit.compare_exchange_strong(pending, stored ? Commit::Stored : Commit::Failed))
            delete request; // abandoned: nobody else holds it any more
    }

    // A rejected hit is still answered 200: the client would otherwise resend it forever and hold up
    // every hit queued behind it. Only a hit that could not be kept gets 503, so that it comes again.
    MHD_Result answerCommitted(MHD_Connection* connection, Request& request)
    {
        const Commit commit = request.commit;
        if (commit == Commit::Pending)
            return MHD_YES; // asked again on the next turn
        request.awaited = false;
        --awaiting;
        answersDue = true;
        return commit == Commit::Stored
                   ? MHD_queue_response(connection, MHD_HTTP_OK, answers.pixel)
                   : MHD_queue_response(connection, MHD_HTTP_SERVICE_UNAVAILABLE, answers.unavailable);
    }

    // How long the loop may sleep when no request waits: until the library's next timeout, if it has one.
    int libraryTimeoutMs() const
    {
        MHD_UNSIGNED_LONG_LONG ms = 0;
        if (MHD_get_timeout(daemon, &ms) != MHD_YES)
            return -1;
        return static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(ms, 60000));
    }

    // Sleeps until the library has work, the writer has committed, stop() wakes the loop, or the timeout
    // passes. No time to wait (answers to send) costs no call: the library looks for new events itself.
    void waitForWork(int epollFd, std::optional<std::chrono::nanoseconds> timeout) const
    {
        if (timeout && timeout->count() <= 0)
            return;
        pollfd fds[] = {{epollFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        timespec until{};
        if (timeout)
            until = {static_cast<time_t>(timeout->count() / 1000000000),
                     static_cast<long>(timeout->count() % 1000000000)};
        uint64_t told = 0;
        if (ppoll(fds, 2, timeout ? &until : nullptr, nullptr) > 0 && (fds[1].revents & POLLIN) &&
            read(wakeFd, &told, sizeof told) < 0)
            std::perror("zncip-collector: reading the collection thread's wake-up");
    }

    // How long the loop sleeps. Answers just queued go out on the next turn, without sleeping. While
    // requests wait for a commit, the library asks for no sleep at all (it calls their handler on every
    // turn): the loop then sleeps until the group's gathering wait is over, or until the writer or a
    // connection wakes it. A connection whose data the library has not read whole gets no new event, so
    // that sleep is bounded.
    std::optional<std::chrono::nanoseconds> sleepOf(std::chrono::steady_clock::time_point gatherUntil) const
    {
        using namespace std::chrono;
        if (answersDue)
            return nanoseconds(0);
        if (group && group->requests() > 0)
            return std::max(nanoseconds(gatherUntil - steady_clock::now()), nanoseconds(0));
        if (awaiting > 0)
            return milliseconds(1);
        if (const int ms = libraryTimeoutMs(); ms >= 0)
            return milliseconds(ms);
        return std::nullopt;
    }

    // The collection thread: each turn reads what arrived and answers what was committed. Its own group,
    // where it has one, is committed once it is as large as the last one or the store's gathering wait is
    // over: clients answered by the last commit mostly send again at once, so that waiting a moment lets
    // one transaction take them all.
    void serve()
    {
        using namespace std::chrono;
        const int epollFd = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
        const nanoseconds gatherWait = group ? store->batchGatherWait() : microseconds(0);
        size_t lastRequests = 1;
        steady_clock::time_point gatherUntil;
        while (!quit)
        {
            waitForWork(epollFd, sleepOf(gatherUntil));
            answersDue = false;
            const size_t before = group ? group->requests() : 0;
            MHD_run(daemon);
            if (!group || group->requests() == 0)
                continue;
            const auto now = steady_clock::now();
            if (before == 0)
                gatherUntil = now + gatherWait;
            if (group->requests() < lastRequests && now < gatherUntil)
                continue;
            lastRequests = group->requests();
            group->commit();
            answersDue = true;
        }
    }

    MHD_Result collect(MHD_Connection* connection, Request& request)
    {
        if (config.discard)
            return MHD_queue_response(connection, MHD_HTTP_OK, answers.pixel);
        std::vector<HitRecord> hits;
        hits.push_back(parseHit(std::move(request.body), "/collect", userAgentOf(connection), nowUs()));
        return storeAndAnswer(request, std::move(hits));
    }

    MHD_Result batch(MHD_Connection* connection, Request& request)
    {
        std::optional<std::vector<std::string>> lines = splitBatch(request.body);
        if (!lines)
            return MHD_queue_response(connection, MHD_HTTP_BAD_REQUEST, answers.badBatch);
        if (config.discard)
            return MHD_queue_response(connection, MHD_HTTP_OK, answers.pixel);
        const std::string agent = userAgentOf(connection);
        const int64_t received = nowUs();
        std::vector<HitRecord> hits;
        for (std::string& line : *lines)
            hits.push_back(parseHit(std::move(line), "/batch", agent, received));
        return storeAndAnswer(request, std::move(hits));
    }

    MHD_Result debug(MHD_Connection* connection, const Request& request)
    {
        std::string json = verdictJson(request.body);
        MHD_Response* response =
            MHD_create_response_from_buffer(json.size(), json.data(), MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json; charset=utf-8");
        const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return result;
    }

    void start()
    {
        if (!config.discard && !store)
        {
            try
            {
                store = openStore(config.dbPath, config.storeOptions);
            }
            catch (const StoreError& e)
            {
                throw StartError(e.what());
            }
        }
        wakeFd = eventfd(0, EFD_CLOEXEC);
        if (wakeFd < 0)
            throw StartError("cannot start the HTTP server: no event descriptor");
        if (!config.discard && store->commitsInServer())
            group = std::make_unique<CommitGroup>(*store);
        else if (!config.discard)
            writer = std::make_unique<CommitWriter>(*store, wakeFd);
        const ListenSocket listening = openListenSocket(config.listenAddress, config.port);
        const int fd = listening.fd;
        boundAddress = listening.address;
        boundPort = listening.port;
        raiseDescriptorLimit(config.connectionLimit);
        // One thread serves every connection through epoll, so a slow or idle client costs a socket and its
        // buffer, never a thread, and the writer commits beside it. A second serving thread would add
        // switches between threads to every hit: a busier fleet gets more collectors.
        unsigned flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
        if (boundAddress.front() == '[')
            flags |= MHD_USE_IPv6;
        daemon = MHD_start_daemon(
            flags, 0, &Impl::onAccept, this, &Impl::onRequest, this, MHD_OPTION_EXTERNAL_LOGGER,
            &logFromHttpLibrary, const_cast<char*>("zncip-collector"), MHD_OPTION_LISTEN_SOCKET, fd,
            MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
            &Impl::onConnection, this, MHD_OPTION_URI_LOG_CALLBACK, &Impl::onUri, this,
            MHD_OPTION_CONNECTION_TIMEOUT, config.idleTimeoutSec, MHD_OPTION_CONNECTION_LIMIT,
            config.connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, config.connectionsPerAddress,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, config.maxHeaderBytes + kAnswerRoom,
            MHD_OPTION_UNESCAPE_CALLBACK, &keepPathRaw, nullptr, MHD_OPTION_END);
        if (!daemon)
        {
            close(fd);
            throw StartError("cannot start the HTTP server");
        }
        loop = std::thread([this] { serve(); });
    }
};

CollectServer::CollectServer(CollectConfig config, std::unique_ptr<HitStore> store)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(store)))
{
}

CollectServer::~CollectServer() = default;

void CollectServer::start()
{
    impl_->start();
}

void CollectServer::stop()
{
    impl_->stop();
}

uint16_t CollectServer::port() const
{
    return impl_->boundPort;
}

std::string CollectServer::address() const
{
    return impl_->boundAddress;
}

} // namespace zncip::collector
