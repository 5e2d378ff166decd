#include "collector_fixture.h"
#include "report/report.h"
#include "text/days.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <random>
#include <set>
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
    StoreOptions options;
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

HitRecord SentHit::record() const
{
    HitRecord h;
    h.receivedUs = (int64_t{day} * 86400 + 3600 + static_cast<int>(label.size())) * 1000000;
    h.path = "/collect";
    h.body = "v=1&tid=UA-1-1&cid=" + client + "&t=event&an=App&av=" + version +
             "&ec=Commands&ea=Execute&el=" + label + "&ev=2";
    h.accepted = accepted;
    h.reason = accepted ? "" : "bad";
    return h;
}

std::vector<SentHit> someHits()
{
    std::mt19937 random(7);
    std::vector<SentHit> hits;
    for (int i = 0; i < 600; ++i)
    {
        const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        const int client = pick(12);
        // Clients move to the later version; a few stay behind.
        const int32_t day = kFirstDay + pick(kDays);
        const char* version = client % 3 != 0 && day - kFirstDay > client % kDays ? "2.0" : "1.0";
        hits.push_back(
            {day, "c" + std::to_string(client), version, "L" + std::to_string(pick(5)), pick(10) != 0});
    }
    return hits;
}

namespace
{

// What the report over a period must say, counted from the hits one by one.
Report expected(const std::vector<SentHit>& hits, const Period& p)
{
    Report r;
    r.version = p.version;
    std::set<std::string> clients;
    std::map<std::string, std::set<std::string>> labelClients;
    std::map<std::pair<std::string, std::string>, std::set<std::string>> versionClients;
    std::map<int32_t, std::set<std::string>> dayClients;
    std::map<std::pair<int32_t, std::string>, std::set<std::string>> dayVersionClients;
    for (const SentHit& s : hits)
    {
        if (s.day < p.from || s.day > p.to)
            continue;
        if (!s.accepted)
        {
            ++r.rejected, ++r.rejectionReasons["bad"];
            r.from = std::min(r.from.value_or(s.day), s.day), r.to = std::max(r.to.value_or(s.day), s.day);
            continue;
        }
        if (p.version && s.version != *p.version)
            continue;
        r.from = std::min(r.from.value_or(s.day), s.day), r.to = std::max(r.to.value_or(s.day), s.day);
        ++r.accepted;
        ++r.commands.values[s.label].reports;
        ++r.applications[{"App", s.version}].hits;
        Report::Day& day = r.days[s.day];
        ++day.usage.hits;
        ++day.versions[s.version].usage.hits;
        if (s.client.empty())
            continue;
        clients.insert(s.client);
        labelClients[s.label].insert(s.client);
        versionClients[{"App", s.version}].insert(s.client);
        dayClients[s.day].insert(s.client);
        dayVersionClients[{s.day, s.version}].insert(s.client);
    }
    // Active clients of every span of the period and of the one before, from the days stored.
    Rollups stored;
    for (const SentHit& s : hits)
        stored.coverDays(s.day, s.day);
    r.compared = stored.comparedDaysOf(p);
    std::map<std::pair<Rollups::Span, int32_t>, std::set<std::string>> active;
    for (const SentHit& s : hits)
        if (r.compared && s.accepted && !s.client.empty() && (!p.version || s.version == *p.version) &&
            s.day >= r.compared->previousFrom && s.day <= r.compared->to)
        {
            const int32_t bound = s.day < r.compared->from ? r.compared->previousFrom : r.compared->from;
            active[{Rollups::Span::Day, s.day}].insert(s.client);
            active[{Rollups::Span::Week, std::max(bound, weekStart(s.day))}].insert(s.client);
            active[{Rollups::Span::Month, std::max(bound, monthStart(s.day))}].insert(s.client);
            active[{Rollups::Span::Whole, bound}].insert(s.client);
        }
    for (const auto& [span, set] : active)
        r.activeClients[span] = static_cast<int64_t>(set.size());
    r.clients = static_cast<int64_t>(clients.size());
    for (const auto& [label, set] : labelClients)
        r.commands.values[label].clients = static_cast<int64_t>(set.size());
    for (const auto& [app, set] : versionClients)
        r.applications[app].clients = static_cast<int64_t>(set.size());
    for (const auto& [day, set] : dayClients)
        r.days[day].usage.clients = static_cast<int64_t>(set.size());
    for (const auto& [key, set] : dayVersionClients)
        r.days[key.first].versions[key.second].usage.clients = static_cast<int64_t>(set.size());
    return r;
}

} // namespace

void expectRollupsMatch(const HitStore& store, const std::vector<SentHit>& hits, const std::string& when,
                        bool everyPeriod)
{
    std::vector<Period> periods = {{},
                                   {kFirstDay + 1, kFirstDay + 1, {}},
                                   {kFirstDay + 2, kFirstDay + 4, {}},
                                   {kFirstDay + 4, kFirstDay + 6, {}},
                                   {kFirstDay, kFirstDay + 100, "1.0"},
                                   {kFirstDay + 2, kFirstDay + 5, "2.0"},
                                   {kFirstDay + 7, kFirstDay + 9, {}}};
    if (everyPeriod)
        for (int32_t from = kFirstDay; from < kFirstDay + kDays; ++from)
            for (int32_t to = from; to < kFirstDay + kDays; ++to)
                for (const std::optional<std::string>& version :
                     {std::optional<std::string>(), {"1.0"}, {"2.0"}})
                    periods.push_back({from, to, version});
    for (const Period& p : periods)
        ASSERT_EQ(reportJson(buildReport(store.rollups(p), p)), reportJson(expected(hits, p)))
            << when << ": days " << p.from - kFirstDay << " to " << p.to - kFirstDay << " version "
            << p.version.value_or("(all)");

    // The rejected hits still stored, latest day first and the later arrival first within a day.
    std::vector<const SentHit*> rejected;
    for (auto it = hits.rbegin(); it != hits.rend(); ++it)
        if (!it->accepted && it->raw)
            rejected.push_back(&*it);
    std::stable_sort(rejected.begin(), rejected.end(), [](auto a, auto b) { return a->day > b->day; });
    std::vector<std::string> expectedBodies, samples;
    for (size_t i = 0; i < std::min<size_t>(rejected.size(), 10); ++i)
        expectedBodies.push_back(rejected[i]->record().body);
    for (const StoredHit& h : store.rejectedSamples({}, 10))
        samples.push_back(h.body);
    EXPECT_EQ(samples, expectedBodies) << when;
    EXPECT_EQ(store.versions(), (std::vector<std::string>{"1.0", "2.0"})) << when;
}

void expectRollupsThroughTheirLife(const std::function<std::unique_ptr<HitStore>()>& open, bool everyPeriod)
{
    std::unique_ptr<HitStore> store = open();
    // Batches in shuffled order: a client's later day often arrives before an earlier one, and a batch
    // often brings several new days of one client and key.
    std::vector<SentHit> hits = someHits();
    std::shuffle(hits.begin(), hits.end(), std::mt19937(11));
    const auto append = [&](size_t from)
    {
        for (size_t i = from; i < hits.size(); i += 7)
        {
            std::vector<HitRecord> batch;
            for (size_t j = i; j < std::min(i + 7, hits.size()); ++j)
                batch.push_back(hits[j].record());
            store->append(batch);
        }
    };
    append(0);
    expectRollupsMatch(*store, hits, "as received", everyPeriod);
    EXPECT_EQ(buildReport(store->rollups({}), {}).clients, 12);

    const auto ofClient = [&](const std::string& c)
    { return std::count_if(hits.begin(), hits.end(), [&](const SentHit& s) { return s.client == c; }); };
    // Forgotten through another connection, as by another collector: what this one remembers of the
    // client's days must not count any more.
    const int64_t c3 = ofClient("c3");
    const Forgotten gone = open()->forget("c3");
    EXPECT_EQ(gone.hits, c3);
    EXPECT_GT(gone.daysPresent, 0);
    hits.erase(std::remove_if(hits.begin(), hits.end(), [](const SentHit& s) { return s.client == "c3"; }),
               hits.end());
    expectRollupsMatch(*store, hits, "c3 forgotten", everyPeriod);
    EXPECT_EQ(store->forget("c3").hits, 0) << "forgetting twice removes nothing more";
    const size_t back = hits.size();
    for (int32_t day : {kFirstDay + 1, kFirstDay + 5, kFirstDay + 1})
        hits.push_back({day, "c3", "1.0", "L1"});
    append(back);
    expectRollupsMatch(*store, hits, "c3 back", everyPeriod);

    // Pruned raw hits stay in the counts; a client forgotten afterwards still leaves every client count.
    const int32_t keepFrom = kFirstDay + 4;
    EXPECT_EQ(store->pruneRawBefore(keepFrom),
              std::count_if(hits.begin(), hits.end(), [&](const SentHit& s) { return s.day < keepFrom; }));
    for (SentHit& s : hits)
        s.raw = s.day >= keepFrom;
    EXPECT_EQ(store->storedHits(),
              std::count_if(hits.begin(), hits.end(), [](const SentHit& s) { return s.raw; }));
    expectRollupsMatch(*store, hits, "pruned", everyPeriod);
    store->forget("c5");
    for (auto it = hits.begin(); it != hits.end();)
        if (it->client != "c5")
            ++it;
        else if (!it->raw)
            (it++)->client.clear();
        else
            it = hits.erase(it);
    expectRollupsMatch(*store, hits, "pruned, then c5 forgotten", everyPeriod);

    store.reset();
    expectRollupsMatch(*open(), hits, "reopened", everyPeriod);
}

namespace
{

std::vector<HitRecord> victimHits()
{
    const auto hit = [&](int day, std::string body, bool accepted, std::string reason)
    {
        HitRecord h;
        h.receivedUs = (int64_t{kFirstDay + day} * 86400 + 7200) * 1000000;
        h.path = "/collect";
        h.body = std::move(body);
        h.accepted = accepted;
        h.reason = std::move(reason);
        h.userAgent = "VictimAgent/1.0 (victim)";
        return h;
    };
    const std::string own = "v=1&tid=UA-1-1&cid=victim-cid&t=event&an=App&av=9.9victim&ec=Commands&ea=Execute"
                            "&el=victimlabel&ev=2";
    // A later day first, then an earlier one: the counts of first visits then hold a row at zero.
    return {hit(3, own, true, ""), hit(1, own, true, ""),
            hit(2,
                "v=1&tid=UA-1-1&cid=victim-cid&uid=victim-uid&t=event&an=App&av=1.0&ec=Commands&ea=Execute"
                "&el=L1&ev=2",
                true, ""),
            hit(2, "v=1&cid=victim-cid&victimparam=1", false, "victimparam: the parameter is unknown")};
}

} // namespace

std::vector<HitRecord> everyKindOfHit()
{
    std::vector<HitRecord> hits;
    for (const SentHit& s : someHits())
        hits.push_back(s.record());
    for (const HitRecord& h : victimHits())
        hits.push_back(h);
    for (size_t i = 0; i < hits.size(); ++i)
        hits[i].userAgent = "agent " + std::to_string(i % 3);
    return hits;
}

std::string storedLine(const HitRecord& h)
{
    return h.path + " " + h.body + " " + (h.accepted ? "ok " : "no ") + h.reason + " " + h.userAgent;
}

std::vector<std::string> storedLines(const HitReader& store)
{
    std::vector<std::string> lines;
    store.forEach([&](const StoredHit& h) { lines.push_back(storedLine(h)); });
    return lines;
}

void expectForgettingLeavesNothing(const std::function<FreshStore()>& fresh)
{
    const std::vector<HitRecord> victim = victimHits();
    const std::vector<SentHit> others = someHits();
    const struct
    {
        const char* forgetBy;
        bool otherConnection; // as another collector does, whose forgetting this one must notice
    } rows[] = {{"victim-uid", true}, {"victim-cid", false}};
    for (const auto& row : rows)
    {
        const FreshStore db = fresh();
        std::unique_ptr<HitStore> store = db.open();
        std::vector<HitRecord> all;
        for (const SentHit& s : others)
            all.push_back(s.record());
        all.insert(all.begin() + 100, victim.begin(), victim.end());
        for (size_t i = 0; i < all.size(); i += 9)
            store->append(std::vector<HitRecord>(all.begin() + i, all.begin() + std::min(i + 9, all.size())));
        const std::vector<std::string> lines = storedLines(*store);
        ASSERT_EQ(lines.size(), all.size());
        EXPECT_EQ(lines[101], storedLine(victim[1])) << "read back";
        EXPECT_EQ(lines[103], storedLine(victim[3]));
        std::vector<std::string> samples;
        for (const StoredHit& h : store->rejectedSamples({kFirstDay + 2, kFirstDay + 2, {}}, 1000))
            if (h.body == victim[3].body)
                samples.push_back(h.reason + " " + h.userAgent);
        EXPECT_EQ(samples, std::vector<std::string>{victim[3].reason + " " + victim[3].userAgent});
        const std::string before = db.texts();
        for (const char* sent :
             {"victim-cid", "victim-uid", "victimlabel", "9.9victim", "VictimAgent", "victimparam"})
            ASSERT_NE(before.find(sent), std::string::npos)
                << sent << " is not stored, so its absence tells nothing";
        ASSERT_EQ(store->versions(), (std::vector<std::string>{"1.0", "2.0", "9.9victim"}));

        const Forgotten gone =
            row.otherConnection ? db.open()->forget(row.forgetBy) : store->forget(row.forgetBy);
        EXPECT_EQ(gone.hits, static_cast<int64_t>(victim.size())) << row.forgetBy;
        const std::string after = db.texts();
        const size_t left = after.find("victim");
        EXPECT_EQ(left, std::string::npos)
            << row.forgetBy
            << " forgotten, still stored: " << after.substr(left - std::min<size_t>(left, 40), 80);
        expectRollupsMatch(*store, others, std::string("forgotten by ") + row.forgetBy, false);

        // The writer that stored the victim's agent knows its id no more: the same agent from a new client
        // is stored again and read back.
        HitRecord back = victim[0];
        back.body.replace(back.body.find("victim-cid"), 10, "someone-else");
        store->append({back});
        EXPECT_EQ(storedLines(*store).back(), storedLine(back)) << row.forgetBy;
    }
}

void FaultStore::append(const std::vector<HitRecord>& hits)
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    released_.wait(lock, [this] { return passes_ != 0; });
    passes_ -= passes_ > 0;
    if (failures_-- > 0)
        throw StoreError("the store was made to fail", true);
    for (const HitRecord& h : hits)
        if (!refused_.empty() && h.body.find(refused_) != std::string::npos)
            throw StoreError("the store was made to refuse " + refused_);
    lock.unlock();
    real_->append(hits);
}

RunningServer::RunningServer(CollectConfig base, bool commitsInServer) : config(std::move(base))
{
    config.port = 0;
    config.dbPath = dir.file("hits.db");
    auto owned = std::make_unique<FaultStore>(openSqliteStore(config.dbPath, config.storeOptions));
    owned->inServer = commitsInServer;
    store = owned.get();
    server = std::make_unique<CollectServer>(config, std::move(owned));
    server->start();
}

Program::Program(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    if (!args.empty() && args[0] == "serve" && !list.contains("--admin-listen") &&
        !list.contains("--no-admin"))
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
