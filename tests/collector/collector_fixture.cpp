#include "collector_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace zncip::collector::test
{

std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel, const std::string& cid)
{
    return "v=1&tid=UA-582047-16&cid=" + cid +
           "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=" + category + "&ea=" + action +
           (encodedLabel.empty() ? "" : "&el=" + encodedLabel) + "&ev=1";
}

std::vector<StoredHit> readHits(const std::string& dbPath)
{
    SqliteOptions options;
    options.readOnly = true;
    std::vector<StoredHit> hits;
    openSqliteStore(dbPath, options)->forEach([&](const StoredHit& h) { hits.push_back(h); });
    return hits;
}

bool eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

void FaultStore::append(const std::vector<HitRecord>& hits)
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    released_.wait(lock, [this] { return passes_ != 0; });
    passes_ -= passes_ > 0;
    if (failures_-- > 0)
        throw StoreError("the store was made to fail");
    lock.unlock();
    real_->append(hits);
}

RunningServer::RunningServer(ServerConfig base) : config(std::move(base))
{
    config.port = 0;
    config.dbPath = dir.file("hits.db");
    auto owned = std::make_unique<FaultStore>(openSqliteStore(config.dbPath, config.sqlite));
    store = owned.get();
    server = std::make_unique<Server>(config, std::move(owned));
    server->start();
}

Program::Program(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    if (!args.empty() && args[0] == "serve" && !list.contains("--admin-listen") && !list.contains("--no-admin"))
        list << "--no-admin";
    process.start(QStringLiteral(ZNCIP_BIN_DIR "/zncip-collector"), list);
    process.waitForStarted(10000);
}

uint16_t Program::port()
{
    while (!process.canReadLine() && process.waitForReadyRead(10000))
        ;
    const std::string line = process.readLine().trimmed().toStdString(), prefix = "listening on 127.0.0.1:";
    const int port = std::atoi(line.c_str() + std::min(line.size(), prefix.size()));
    EXPECT_EQ(line, prefix + std::to_string(port)) << "the first line";
    return static_cast<uint16_t>(line == prefix + std::to_string(port) ? port : 0);
}

int Program::wait()
{
    if (!process.waitForFinished(20000))
        return -1;
    return process.exitStatus() == QProcess::CrashExit ? 128 + process.exitCode() : process.exitCode();
}

std::string HttpResponse::header(const std::string& name) const
{
    const size_t at = head.find("\r\n" + name + ": "), from = at + name.size() + 4;
    return at == std::string::npos ? "" : head.substr(from, head.find("\r\n", from) - from);
}

HttpConnection::HttpConnection(uint16_t port, const char* address)
    : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const timeval timeout{5, 0}; // bounds every wait for data
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

HttpResponse HttpConnection::read()
{
    for (;;)
    {
        const size_t end = buffer_.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            HttpResponse r{std::atoi(buffer_.c_str() + buffer_.find(' ') + 1), buffer_.substr(0, end + 2),
                           ""};
            const size_t length = std::stoul("0" + r.header("Content-Length"));
            if (buffer_.size() >= end + 4 + length)
            {
                r.body = buffer_.substr(end + 4, length);
                buffer_.erase(0, end + 4 + length);
                return r;
            }
        }
        char chunk[16384];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool HttpConnection::closedByServer()
{
    char c;
    const ssize_t n = recv(fd_, &c, 1, MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string requestHead(const std::string& path, size_t bodyLength, const std::string& extraHeaders)
{
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "User-Agent: App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)\r\n" +
           extraHeaders + "Content-Length: " + std::to_string(bodyLength) + "\r\n\r\n";
}

HttpResponse post(uint16_t port, const std::string& path, const std::string& body)
{
    return HttpConnection(port).post(path, body);
}

HttpResponse get(uint16_t port, const std::string& path, const std::string& extraHeaders, const char* address)
{
    HttpConnection c(port, address);
    c.sendRaw("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
    return c.read();
}

} // namespace zncip::collector::test
