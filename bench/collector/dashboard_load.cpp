// How long each view of the product team's pages takes to show its data: a headless browser, driven
// over its DevTools pipe, opens each view in a new tab from the admin listener over a database, and
// reads what the page says once every chart is drawn (data-load-ms: from the start of navigation).
//   usage: zncip-dashboard-bench --db PATH [--runs N] [--chromium PATH]
// Prints the median and the worst of N loads of each view beside the target, and how long the report
// request took within it; then four dashboards loading at once, each over another period, with the 99th
// percentile of their API requests; then the bytes a tab change costs once the scripts are kept. Exits 1
// when a figure misses its target.

#include "admin/admin_server.h"
#include "store/hit_store.h"
#include "text/days.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr double kTargetMs = 1000;
constexpr double kApiTargetMs = 100; // each API request while four dashboards load
constexpr double kTabChangeBytes = 20000;

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

    // Sends a command and waits (at most 30 s) for its answer; events that arrive meanwhile are dropped,
    // or kept in events() while keepEvents is set.
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
                if (keepEvents && answer.rfind("{\"method\":", 0) == 0)
                    events.push_back(answer);
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

    struct Tab
    {
        std::string target, session;
    };

    Tab openTab(const std::string& url)
    {
        Tab t;
        t.target = field(call("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId");
        t.session =
            field(call("Target.attachToTarget", "{\"targetId\":\"" + t.target + "\",\"flatten\":true}"),
                  "sessionId");
        return t;
    }

    // Empty while the page at path is not ready; else what it measured: its load, then the duration of
    // its report request and of each of its API requests, in milliseconds.
    std::string readyState(const Tab& t, const std::string& path = "")
    {
        const std::string expression =
            "(() => { const b = document.body; if (!b) return ''; if (b.dataset.error) return 'error: ' + "
            "b.dataset.error; if (b.dataset.ready !== '1' || (" +
            std::string(path.empty() ? "false" : "location.pathname !== '" + path + "'") +
            ")) return ''; const api = performance.getEntriesByType('resource').filter((e) => "
            "e.name.includes('/api/'));"
            " const r = api.find((e) => e.name.includes('/api/report')); return [b.dataset.loadMs, r ? "
            "Math.round(r.duration) : -1].concat(api.map((e) => e.duration.toFixed(1))).join(' '); })()";
        const std::string value =
            field(call("Runtime.evaluate", "{\"expression\":\"" + expression + "\",\"returnByValue\":true}",
                       t.session),
                  "value");
        if (value.rfind("error", 0) == 0)
            throw std::runtime_error(value);
        return value;
    }

    void closeTab(const Tab& t) { call("Target.closeTarget", "{\"targetId\":\"" + t.target + "\"}"); }

    // Opens each address in a tab of its own, all at once, and waits (at most 30 s) until every page says
    // it is ready; returns what each measured (see poll).
    std::vector<std::vector<double>> loadTogether(const std::vector<std::string>& urls)
    {
        std::vector<Tab> tabs;
        for (const std::string& url : urls)
            tabs.push_back(openTab(url));
        std::vector<std::vector<double>> measured(urls.size());
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        for (size_t done = 0; done < tabs.size();)
        {
            if (Clock::now() > deadline)
                throw std::runtime_error("the pages are not ready within 30 s");
            usleep(20000);
            done = 0;
            for (size_t i = 0; i < tabs.size(); ++i)
            {
                if (measured[i].empty())
                {
                    std::istringstream in(readyState(tabs[i]));
                    for (double ms; in >> ms;)
                        measured[i].push_back(ms);
                }
                done += !measured[i].empty();
            }
        }
        for (const Tab& t : tabs)
            closeTab(t);
        return measured;
    }

    // Opens the address in a new tab and waits until the page says it is ready; returns what the page
    // measured and how long its report request took, in milliseconds.
    std::pair<double, double> load(const std::string& url)
    {
        const auto m = loadTogether({url}).front();
        return {m.at(0), m.at(1)};
    }

    // The bytes of every answer a click on another view takes, once the scripts are kept: a tab that
    // has loaded from, then the click, as the DevTools network events count them (headers included).
    double tabChangeBytes(const std::string& from, const std::string& view)
    {
        const Tab t = openTab(from);
        call("Network.enable", "{}", t.session);
        while (readyState(t).empty())
            usleep(20000);
        events.clear();
        keepEvents = true;
        call("Runtime.evaluate",
             "{\"expression\":\"document.querySelector('#nav a[data-view=" + view + "]').click()\"}",
             t.session);
        for (const auto deadline = Clock::now() + std::chrono::seconds(30);
             readyState(t, "/" + view).empty();)
            if (usleep(20000), Clock::now() > deadline)
                throw std::runtime_error("the tab change is not done within 30 s");
        usleep(200000); // the last answers' events
        call("Runtime.evaluate", "{\"expression\":\"1\"}", t.session);
        keepEvents = false;
        double bytes = 0;
        const std::string key = "\"encodedDataLength\":";
        for (const std::string& e : events)
            if (e.find("Network.loadingFinished") != std::string::npos && e.find(key) != std::string::npos)
                bytes += std::atof(e.c_str() + e.find(key) + key.size());
        closeTab(t);
        return bytes;
    }

    bool keepEvents = false;
    std::vector<std::string> events;

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

        // Four people at once, each over a period of their own, shifted a day each run so that no report
        // is one the listener kept from before.
        StoreOptions readOnly;
        readOnly.readOnly = true;
        const auto store = openStore(db, readOnly);
        Period none;
        none.from = none.to = INT32_MAX;
        const Rollups bounds = store->rollups(none);
        const std::vector<std::string> versions = store->versions();
        const int32_t last = bounds.lastDay.value_or(0);
        const std::string version = versions.empty() ? "" : versions.back();
        std::vector<double> loads, api, reports;
        for (int r = 0; r < runs; ++r)
        {
            const std::string day = formatDay(last - r), week = formatDay(last - 6 - r);
            for (const auto& m : browser.loadTogether({base + "/?to=" + day,
                                                       base + "/commands?version=" + version + "&to=" + day,
                                                       base + "/machines?from=" + week + "&to=" + day,
                                                       base + "/versions?from=" + formatDay(last - 29 + r)}))
            {
                loads.push_back(m.at(0));
                reports.push_back(m.at(1));
                api.insert(api.end(), m.begin() + 2, m.end());
            }
        }
        const auto p99Of = [](std::vector<double>& ms)
        {
            std::sort(ms.begin(), ms.end());
            return ms.at(std::min(ms.size() - 1, ms.size() * 99 / 100));
        };
        p99Of(loads);
        const double p99 = p99Of(api), reportP99 = p99Of(reports);
        std::printf("four dashboards at once, %d runs: load median %.0f ms, worst %.0f ms (target %.0f) %s\n"
                    "  their %zu API requests: median %.1f ms, p99 %.1f ms (target %.0f) %s; of the reports "
                    "alone: median %.1f ms, p99 %.1f ms\n",
                    runs, loads[loads.size() / 2], loads.back(), kTargetMs,
                    loads[loads.size() / 2] <= kTargetMs ? "ok" : "MISSED", api.size(), api[api.size() / 2],
                    p99, kApiTargetMs, p99 <= kApiTargetMs ? "ok" : "MISSED", reports[reports.size() / 2],
                    reportP99);
        status |= loads[loads.size() / 2] > kTargetMs || p99 > kApiTargetMs;

        const double bytes = browser.tabChangeBytes(base + "/", "commands");
        std::printf("a tab change (overview to commands, scripts kept): %.0f bytes (target %.0f) %s\n", bytes,
                    kTabChangeBytes, bytes <= kTabChangeBytes ? "ok" : "MISSED");
        status |= bytes > kTabChangeBytes;
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
