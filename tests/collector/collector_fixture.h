#pragma once

#include "hit_store.h"
#include "server.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace zncip::collector::test
{

// A folder under the system's temporary directory, removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An event hit exactly as the module encodes it.
std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel,
                        const std::string& cid = "35009a79-1a05-49d7-b876-2b884d0f825b");

std::vector<StoredHit> readHits(const std::string& dbPath);

// The server on its own threads in this process, with a fresh database in a temporary folder.
struct RunningServer
{
    TempDir dir;
    ServerConfig config;
    std::unique_ptr<Server> server;

    explicit RunningServer(ServerConfig base = {});
    uint16_t port() const { return server->port(); }
    std::string db() const { return config.dbPath; }
    std::vector<StoredHit> hits() const { return readHits(config.dbPath); }
};

// `zncip-collector` run as a separate process.
struct ChildProcess
{
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;

    static ChildProcess spawn(const std::vector<std::string>& args);
    ~ChildProcess();
    // Reads one line of standard output (without the newline); empty at end of file.
    std::string readLine();
    std::string readAllOut();
    std::string readAllErr();
    // Waits for the exit; returns the exit status, or 128 + signal.
    int wait();
};

std::string collectorProgram();

} // namespace zncip::collector::test
