// How long each view of the product team's pages takes to show its data: a headless browser, driven
// over its DevTools pipe, opens each view in a new tab from the admin listener over a database, and
// reads what the page says once every chart is drawn (data-load-ms: from the start of navigation).
//   usage: zncip-dashboard-bench --db PATH [--runs N] [--chromium PATH]
// Prints the median and the worst of N loads of each view beside the target, and how long the report
// request took within it; exits 1 when a median misses the target.

#include "admin/admin_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr double kTargetMs = 1500;

// The text of a string field of a DevTools message, or empty.
std::string field(const std::string& message, const std::string& name)
{
    const std::string key = "\"" + name + "\":\"";
    const size_t at = message.find(key);
    if (at == std::string::npos)
        return {};
    const size_t from = at + key.size();
    return message.substr(from, message.find('"', from) - from);
}

// A headless browser that takes DevTools commands on file descriptor 3 and answers on 4, each message
// ended by a NUL byte.
class Browser
{
public:
    Browser(const std::string& chromium, const std::string& profile)
    {
        int commands[2], answers[2];
        if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe for the browser");
        pid_ = fork();
        if (pid_ == 0)
        {
            dup2(commands[0], 3), dup2(answers[1], 4); // dup2 clears close-on-exec on the copies
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1), dup2(null, 2);
            const std::string dir = "--user-data-dir=" + profile;
            execl(chromium.c_str(), chromium.c_str(), "--headless", "--no-sandbox", "--disable-gpu",
                  "--hide-scrollbars", "--remote-debugging-pipe", "--window-size=1280,1600", dir.c_str(),
                  "about:blank", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(commands[0]), close(answers[1]);
        to_ = commands[1], from_ = answers[0];
    }
    ~Browser()
    {
        close(to_), close(from_);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    // Sends a command and waits (at most 30 s) for its answer; events that arrive meanwhile are dropped.
    std::string call(const std::string& method, const std::string& params, const std::string& session = "")
    {
        const int id = next_++;
        std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method +
                              "\",\"params\":" + params +
                              (session.empty() ? "" : ",\"sessionId\":\"" + session + "\"") + "}";
        message.push_back('\0');
        if (write(to_, message.data(), message.size()) != static_cast<ssize_t>(message.size()))
            throw std::runtime_error("the browser is gone");
        const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        for (;;)
        {
            for (size_t end; (end = buffer_.find('\0')) != std::string::npos;)
            {
                std::string answer = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (answer.rfind(prefix, 0) == 0)
                {
                    if (answer.find("\"error\":") != std::string::npos)
                        throw std::runtime_error(method + ": " + answer);
                    return answer;
                }
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            pollfd p{from_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                throw std::runtime_error(method + ": no answer from the browser within 30 s");
            char chunk[65536];
            const ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0)
                throw std::runtime_error("the browser is gone");
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Opens the address in a new tab and waits (at most 30 s) until the page says it is ready; returns
    // what the page measured and how long its report request took, in milliseconds.
    std::pair<double, double> load(const std::string& url)
    {
        const std::string target =
            field(call("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId");
        const std::string session = field(
            call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}"), "sessionId");
        const std::string expression =
            "(() => { const b = document.body; if (!b) return ''; if (b.dataset.error) return 'error: ' + "
            "b.dataset.error; if (b.dataset.ready !== '1') return ''; const r = performance.getEntriesByType("
            "'resource').find((e) => e.name.includes('/api/report')); return b.dataset.loadMs + ' ' + "
            "(r ? Math.round(r.duration) : -1); })()";
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        std::string value;
        while (value.empty())
        {
            if (Clock::now() > deadline)
                throw std::runtime_error(url + ": not ready within 30 s");
            usleep(20000);
            value = field(call("Runtime.evaluate",
                               "{\"expression\":\"" + expression + "\",\"returnByValue\":true}", session),
                          "value");
        }
        call("Target.closeTarget", "{\"targetId\":\"" + target + "\"}");
        if (value.rfind("error", 0) == 0)
            throw std::runtime_error(url + ": " + value);
        double loadMs = 0, reportMs = 0;
        std::sscanf(value.c_str(), "%lf %lf", &loadMs, &reportMs);
        return {loadMs, reportMs};
    }

private:
    pid_t pid_;
    int to_, from_;
    int next_ = 1;
    std::string buffer_;
};

int usage()
{
    std::fprintf(stderr, "usage: zncip-dashboard-bench --db PATH [--runs N] [--chromium PATH]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string db, chromium = "/usr/bin/chromium";
    int runs = 5;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (a == "--db")
            db = argv[++i];
        else if (a == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--chromium")
            chromium = argv[++i];
        else
            return usage();
    }
    if (db.empty())
        return usage();

    using namespace zncip::collector;
    AdminConfig config;
    config.listenAddress = "127.0.0.1";
    config.port = 0;
    config.dbPath = db; // the listener opens it read-only
    config.noToken = true; // loopback only, so the browser needs no sign-in
    AdminServer server(config);
    try
    {
        server.start();
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-dashboard-bench: %s\n", e.what());
        return 1;
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    char profile[] = "/tmp/zncip-dashboard-bench-XXXXXX";
    if (!mkdtemp(profile))
        return std::perror("mkdtemp"), 1;
    int status = 0;
    try
    {
        Browser browser(chromium, profile);
        std::printf("dashboard load, %d runs per view, %s\n%-10s %10s %10s %12s %10s\n", runs, db.c_str(),
                    "view", "median ms", "worst ms", "report ms", "target ms");
        for (const char* path : {"/", "/commands", "/machines", "/versions", "/rejected"})
        {
            browser.load(base + path); // the first load of a view warms the database's pages
            std::vector<std::pair<double, double>> times;
            for (int r = 0; r < runs; ++r)
                times.push_back(browser.load(base + path));
            std::sort(times.begin(), times.end());
            const auto& median = times[times.size() / 2];
            std::printf("%-10s %10.0f %10.0f %12.0f %10.0f %s\n", path, median.first, times.back().first,
                        median.second, kTargetMs, median.first <= kTargetMs ? "ok" : "MISSED");
            status |= median.first > kTargetMs;
        }
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-dashboard-bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile, ignored);
    return status;
}
