#pragma once

#include "hit_store.h"
#include "server.h"

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace zncip::collector::test
{

// A folder under the system's temporary directory, removed with everything in it.
class TempDir
{
public:
    TempDir() : path_(dir_.path().toStdString()) {}
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    QTemporaryDir dir_;
    std::string path_;
};

// An event hit exactly as the module encodes it.
std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel,
                        const std::string& cid = "35009a79-1a05-49d7-b876-2b884d0f825b");

std::vector<StoredHit> readHits(const std::string& dbPath);

// The server on its own threads in this process, with a fresh database in a temporary folder (or the
// given store).
struct RunningServer
{
    TempDir dir;
    ServerConfig config;
    std::unique_ptr<Server> server;

    explicit RunningServer(ServerConfig base = {}, std::unique_ptr<HitStore> store = nullptr);
    uint16_t port() const { return server->port(); }
    std::string db() const { return config.dbPath; }
    std::vector<StoredHit> hits() const { return readHits(config.dbPath); }
};

// `zncip-collector` run as a separate process, killed when the test ends before it does.
struct Program
{
    QProcess process;

    explicit Program(const std::vector<std::string>& args);
    ~Program();
    void signal(int number);
    std::string readLine(); // one line of standard output, without the newline
    uint16_t port();        // read from the "listening on" line; 0 (and a failure) when it is not one
    int wait();             // the exit code, or 128 + the signal that ended it
};

struct Finished
{
    int status;
    std::string out, err;
};
Finished runProgram(const std::vector<std::string>& args);

} // namespace zncip::collector::test
