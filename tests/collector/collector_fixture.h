#pragma once

#include "ingest/collect_server.h"
#include "store/hit_store.h"

#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace zncip::collector::test
{

struct TempDir : QTemporaryDir
{
    std::string path() const { return QTemporaryDir::path().toStdString(); }
    std::string file(const std::string& name) const { return path() + "/" + name; }
};

// An event hit exactly as the module encodes it.
std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel,
                        const std::string& cid = "35009a79-1a05-49d7-b876-2b884d0f825b");
std::vector<StoredHit> readHits(const std::string& dbPath);
bool eventually(const std::function<bool()>& condition); // polls for at most 5 s

// A hit as a client sent it, for counting the slow way what the rollups must say.
struct SentHit
{
    int32_t day;
    std::string client; // empty: a hit whose client was forgotten after its raw body was pruned
    std::string version;
    std::string label;
    bool accepted = true;
    bool raw = true; // its raw body is still stored
    HitRecord record() const;
};
// 2024-09-29, a Sunday, the first of the 8 days someHits() spans: across a week's and a month's end.
constexpr int32_t kFirstDay = 19995;
constexpr int kDays = 8;
std::vector<SentHit> someHits(); // 12 clients, two versions, some hits rejected
// Reports from the rollups against the ones counted from the hits, which are in the order they arrived,
// over every period of the 8 days and each version, or over a few periods only; and the rejected samples.
void expectRollupsMatch(const HitStore& store, const std::vector<SentHit>& hits, const std::string& when,
                        bool everyPeriod = true);
// someHits() arriving in shuffled batches, a client forgotten through another connection and coming
// back, raw hits pruned, a client forgotten after that, and a new connection reading the same.
void expectRollupsThroughTheirLife(const std::function<std::unique_ptr<HitStore>()>& open, bool everyPeriod);

// A fresh database of the store under test: how to open it (each call a new connection), and every text
// and blob value its tables hold, one after the other, to search for what is left of a client.
struct FreshStore
{
    std::function<std::unique_ptr<HitStore>()> open;
    std::function<std::string()> texts;
};
// Beside someHits(), a client with a label, a version, a user agent and a rejected hit's parameter of its
// own, and a hit with both its cid and a uid; forgotten by that uid and by its cid, each on a fresh
// database: nothing it sent is left in any table, and every figure of the other clients stays.
void expectForgettingLeavesNothing(const std::function<FreshStore()>& fresh);
// For the migrations: someHits() and the victim's hits (as a build before the uid was recorded may have
// stored them), with three user agents between them.
std::vector<HitRecord> everyKindOfHit();
// A hit as path, body, verdict, reason and agent on one line; storedLines() each that forEach() reads.
std::string storedLine(const HitRecord& h);
std::vector<std::string> storedLines(const HitReader& store);

// The real store, which can be made to fail (the server then answers 503) or to hold appends back (no
// answer until released).
struct FaultStore : HitStore
{
    explicit FaultStore(std::unique_ptr<HitStore> real) : real_(std::move(real)) {}
    void append(const std::vector<HitRecord>& hits) override;
    void forEach(const std::function<void(const StoredHit&)>& visit) const override { real_->forEach(visit); }
    int64_t storedHits() const override { return real_->storedHits(); }
    Rollups rollups(const Period& period) const override { return real_->rollups(period); }
    std::vector<std::string> versions() const override { return real_->versions(); }
    std::vector<StoredHit> rejectedSamples(const Period& p, int n) const override
    {
        return real_->rejectedSamples(p, n);
    }
    Forgotten forget(const std::string& client) override { return real_->forget(client); }
    int64_t pruneRawBefore(int32_t day) override { return real_->pruneRawBefore(day); }
    void prepareDays(int32_t first, int32_t last) override { real_->prepareDays(first, last); }
    bool commitsInServer() const override { return inServer; }
    // As a database server's store asks for: commits are worth filling.
    std::chrono::microseconds batchGatherWait() const override
    {
        return std::chrono::microseconds(inServer ? 500 : 0);
    }

    void failNext(int appends) { failures_ = appends; }
    // Appends holding a hit whose body contains marker are refused, as a database refuses a row.
    void refuseBodiesWith(std::string marker) { refused_ = std::move(marker); }
    // From now on appends wait: release(n) lets n more through, release() every one from then on.
    void hold() { setPasses(0); }
    void release(int appends = -1) { setPasses(appends); }
    int arrived() const { return arrived_; } // held and failed appends included
    void setPasses(int n)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        passes_ = n == 0 ? 0 : n < 0 || passes_ < 0 ? -1 : passes_ + n;
        released_.notify_all();
    }
    std::unique_ptr<HitStore> real_;
    std::mutex mutex_;
    std::condition_variable released_;
    int passes_ = -1; // -1 while not holding
    std::atomic<int> failures_{0}, arrived_{0};
    std::string refused_;
    bool inServer = false; // the server then commits on its collection thread, as for a database server
};

// The server on its own threads in this process, on a fresh database in a temporary folder.
struct RunningServer
{
    TempDir dir;
    CollectConfig config;
    FaultStore* store; // owned by the server
    std::unique_ptr<CollectServer> server;

    explicit RunningServer(CollectConfig base = {}, bool commitsInServer = false);
    ~RunningServer() { store->release(), server.reset(); }
    uint16_t port() const { return server->port(); }
    std::string db() const { return config.dbPath; }
    std::vector<StoredHit> hits() const { return readHits(config.dbPath); }
};

// `zncip-collector` run as a separate process, killed when the test ends before it does. "serve" runs
// without its admin pages unless the arguments say otherwise, so that tests do not contend for its port.
struct Program
{
    QProcess process;

    explicit Program(const std::vector<std::string>& args);
    ~Program() { process.kill(), process.waitForFinished(10000); }
    void signal(int number) { ::kill(static_cast<pid_t>(process.processId()), number); }
    uint16_t port(); // read from the "listening on" line; 0 (and a failure) when it is not one
    int wait();      // the exit code, or 128 + the signal that ended it
    std::string out() { return process.readAllStandardOutput().toStdString(); }
    std::string err() { return process.readAllStandardError().toStdString(); }
};

// A blocking HTTP/1.1 client that sends exactly the bytes it is given, broken requests included.
struct HttpResponse
{
    int status = 0; // 0: the connection closed, or 5 s passed, before a complete answer
    std::string head, body;
    std::string header(const std::string& name) const; // as the server spells the name
};

std::string requestHead(const std::string& path, size_t bodyLength, const std::string& extraHeaders = "");

struct HttpConnection
{
    explicit HttpConnection(uint16_t port, const char* address = "127.0.0.1");
    ~HttpConnection() { close(fd_); }
    HttpConnection(const HttpConnection&) = delete;
    bool connected() const { return connected_; }
    // A failure is not reported here: the server may rightly have closed, and read() tells.
    void sendRaw(const std::string& bytes) { send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void closeWrite() { shutdown(fd_, SHUT_WR); } // the request ends here, as when a client is cut off
    HttpResponse read();
    bool closedByServer(); // within 5 s
    HttpResponse post(const std::string& path, const std::string& body)
    {
        return sendRaw(requestHead(path, body.size()) + body), read();
    }
    int fd_;
    bool connected_;
    std::string buffer_;
};

HttpResponse post(uint16_t port, const std::string& path, const std::string& body); // on a new connection
HttpResponse get(uint16_t port, const std::string& path, const std::string& extraHeaders = "",
                 const char* address = "127.0.0.1");

} // namespace zncip::collector::test
