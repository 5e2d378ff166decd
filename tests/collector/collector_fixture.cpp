#include "collector_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace zncip::collector::test
{

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zncip-collector-test.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel, const std::string& cid)
{
    std::string body = "v=1&tid=UA-582047-16&cid=" + cid +
                       "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=" + category + "&ea=" + action;
    if (!encodedLabel.empty())
        body += "&el=" + encodedLabel;
    return body + "&ev=1";
}

std::vector<StoredHit> readHits(const std::string& dbPath)
{
    SqliteOptions options;
    options.readOnly = true;
    std::vector<StoredHit> hits;
    openSqliteStore(dbPath, options)->forEach([&](const StoredHit& h) { hits.push_back(h); });
    return hits;
}

RunningServer::RunningServer(ServerConfig base) : config(std::move(base))
{
    config.port = 0;
    if (config.dbPath == ServerConfig().dbPath)
        config.dbPath = dir.file("hits.db");
    server = std::make_unique<Server>(config);
    server->start();
}

std::string collectorProgram()
{
    return std::string(ZNCIP_BIN_DIR) + "/zncip-collector";
}

ChildProcess ChildProcess::spawn(const std::vector<std::string>& args)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    ChildProcess child;
    child.pid = fork();
    if (child.pid == 0)
    {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        std::vector<std::string> all = args;
        all.insert(all.begin(), collectorProgram());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    child.outFd = out[0];
    child.errFd = err[0];
    return child;
}

ChildProcess::~ChildProcess()
{
    if (pid > 0)
    {
        kill(pid, SIGKILL);
        wait();
    }
    if (outFd >= 0)
        close(outFd);
    if (errFd >= 0)
        close(errFd);
}

std::string ChildProcess::readLine()
{
    std::string line;
    char c;
    while (::read(outFd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

namespace
{

std::string readToEnd(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

} // namespace

std::string ChildProcess::readAllOut()
{
    return readToEnd(outFd);
}

std::string ChildProcess::readAllErr()
{
    return readToEnd(errFd);
}

int ChildProcess::wait()
{
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace zncip::collector::test
