// The fleet generator: machines, command mixes and runs drawn from a seed, then written day by day through
// the collector's store. One file past 400 lines, since its tables of machines and commands are data that
// only generateFleet reads.

#include "hit_generator.h"

#include "ingest/hit_facts.h"
#include "ingest/validation.h"
#include "store/hit_store.h"
#include "text/days.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

namespace zncip::bench
{
namespace
{

using namespace zncip::collector;

constexpr int64_t kUsPerSecond = 1000000;
constexpr int64_t kUsPerDay = 86400 * kUsPerSecond;

// splitmix64: small, fast and good enough to make a fleet reproducible from one seed.
class Random
{
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(double p) { return uniform() < p; }
    double normal()
    {
        const double u = std::max(uniform(), 1e-300);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
    }
    double exponential(double mean) { return -mean * std::log(std::max(1.0 - uniform(), 1e-300)); }

    // An index into cumulative weights, the last of which is their sum.
    size_t pick(const std::vector<double>& cumulative)
    {
        const double x = uniform() * cumulative.back();
        return static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), x) -
                                   cumulative.begin());
    }

private:
    uint64_t state_;
};

template <typename T> struct Weighted
{
    T value;
    double weight;
};

template <typename T, size_t N> const T& pickWeighted(Random& random, const Weighted<T> (&table)[N])
{
    double total = 0;
    for (const auto& w : table)
        total += w.weight;
    double x = random.uniform() * total;
    for (const auto& w : table)
        if ((x -= w.weight) < 0)
            return w.value;
    return table[N - 1].value;
}

// A query value as the module's URL encoder writes it: blanks and brackets escaped, parentheses,
// colons and plus signs left as they are.
std::string encode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text)
    {
        if (std::isalnum(c) ||
            std::string_view("-._~!$'()*+,;:@/?").find(static_cast<char>(c)) != std::string_view::npos)
            out += static_cast<char>(c);
        else
        {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// What one installation tells about its machine at every start.
struct Machine
{
    std::string cid, locale, os, memory, dpi, threads;
    std::vector<std::string> resolutions;
    bool core = true;
    std::string renderer, glVersion;
    double adoptionDelayDays = 0; // after a release; infinite for those that never update
};

const Weighted<const char*> kLocales[] = {{"en-us", 40}, {"de-de", 14}, {"fr-fr", 9}, {"ja-jp", 8},
                                          {"zh-cn", 9},  {"it-it", 5},  {"es-es", 5}, {"ru-ru", 4},
                                          {"ko-kr", 3},  {"pl-pl", 3}};
const Weighted<const char*> kOperatingSystems[] = {{"Windows 10 [AMD64]", 78},
                                                   {"Windows 7 [AMD64]", 12},
                                                   {"Windows 8.1 [AMD64]", 5},
                                                   {"Windows NT-based [AMD64]", 4},
                                                   {"Unknown Windows Version [AMD64]", 1}};
const Weighted<const char*> kMemory[] = {{"8191", 22}, {"16303", 35}, {"32687", 25}, {"65413", 10},
                                         {"4095", 4},  {"131013", 2}, {"unknown", 2}};
const Weighted<const char*> kDpi[] = {{"100", 55}, {"125", 22}, {"150", 15}, {"175", 3}, {"200", 5}};
const Weighted<const char*> kThreads[] = {{"4", 18}, {"8", 34}, {"12", 18}, {"16", 20}, {"24", 5}, {"32", 5}};
const Weighted<const char*> kResolutions[] = {{"1920 x 1080", 48}, {"2560 x 1440", 18}, {"1920 x 1200", 10},
                                              {"3840 x 2160", 10}, {"1680 x 1050", 5},  {"1366 x 768", 5},
                                              {"3440 x 1440", 4}};
struct Gpu
{
    const char* renderer;
    const char* version; // vendor:version
};
const Weighted<Gpu> kGpus[] = {
    {{"NVIDIA Quadro P2000/PCIe/SSE2", "NVIDIA Corporation:4.6.0 NVIDIA 472.12"}, 20},
    {{"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", "NVIDIA Corporation:4.6.0 NVIDIA 516.94"}, 18},
    {{"NVIDIA GeForce RTX 3060/PCIe/SSE2", "NVIDIA Corporation:4.6.0 NVIDIA 531.41"}, 12},
    {{"Intel(R) UHD Graphics 630", "Intel:4.6.0 - Build 27.20.100.8681"}, 22},
    {{"Intel(R) HD Graphics 4000", "Intel:4.0.0 - Build 10.18.10.5161"}, 6},
    {{"AMD Radeon Pro WX 3200 Series", "ATI Technologies Inc.:4.6.14800 Compatibility Profile Context"}, 10},
    {{"Radeon RX 580 Series", "ATI Technologies Inc.:4.6.14761 Compatibility Profile Context"}, 7},
    {{"GDI Generic", "Microsoft Corporation:1.1.0"}, 5}};

// About two hundred commands as "NAME (GROUP)", in no particular order of use.
std::vector<std::string> commandLabels()
{
    static const char* const draw[] = {
        "LINE",  "CIRCLE", "ARC",   "PLINE",    "RECTANG", "POLYGON", "ELLIPSE",  "SPLINE", "HATCH", "POINT",
        "XLINE", "RAY",    "DONUT", "REVCLOUD", "WIPEOUT", "REGION",  "BOUNDARY", "TABLE",  "MTEXT", "TEXT"};
    static const char* const modify[] = {"MOVE",   "COPY",     "ROTATE", "SCALE",   "MIRROR",
                                         "OFFSET", "TRIM",     "EXTEND", "FILLET",  "CHAMFER",
                                         "ARRAY",  "STRETCH",  "ERASE",  "EXPLODE", "JOIN",
                                         "BREAK",  "LENGTHEN", "ALIGN",  "PEDIT",   "MATCHPROP"};
    static const char* const other[] = {
        "ZOOM",   "PAN",     "REGEN",   "LAYER", "PROPERTIES",  "OPEN",       "SAVE",      "QSAVE",
        "SAVEAS", "PLOT",    "UNDO",    "REDO",  "DIMLINEAR",   "DIMALIGNED", "DIMRADIUS", "DIMANGULAR",
        "LEADER", "BLOCK",   "INSERT",  "XREF",  "IMAGEATTACH", "PDFIMPORT",  "LAYOUT",    "VIEWPORTS",
        "ORBIT",  "EXTRUDE", "REVOLVE", "UNION", "SUBTRACT",    "INTERSECT"};
    static const char* const groups[] = {"DRAW",      "MODIFY", "VIEW",   "FILE",  "EDIT",
                                         "DIMENSION", "INSERT", "FORMAT", "TOOLS", "3D"};
    std::vector<std::string> labels;
    for (const char* n : draw)
        labels.push_back(std::string(n) + " (DRAW)");
    for (const char* n : modify)
        labels.push_back(std::string(n) + " (MODIFY)");
    for (size_t i = 0; i < std::size(other); ++i)
        labels.push_back(std::string(other[i]) + " (" + groups[2 + i % (std::size(groups) - 2)] + ")");
    // Command-line forms and editing companions of the same commands.
    const size_t base = labels.size();
    for (size_t i = 0; labels.size() < 200; ++i)
    {
        const std::string& label = labels[i % base];
        const size_t blank = label.find(' ');
        const std::string name = label.substr(0, blank), group = label.substr(blank);
        labels.push_back((i < base ? "-" + name : name + "EDIT") + group);
    }
    return labels;
}

const char* const kUnknownCommands[] = {"LNE",   "CIRLCE", "OFSET",  "TRMI",   "MOVEE",  "COPPY",
                                        "ZOMM",  "HTACH",  "DIMLIN", "PLIEN",  "EXTEDN", "STRECH",
                                        "ROTAE", "SCLAE",  "FILET",  "ARAY",   "LAYERR", "UNOD",
                                        "QSVAE", "PLTO",   "REGN",   "XPLODE", "JION",   "BREK"};

Machine makeMachine(uint64_t seed, int index)
{
    Random r(seed * 0x100000001b3ULL + static_cast<uint64_t>(index));
    Machine m;
    char cid[40];
    const uint64_t a = r.next(), b = r.next();
    std::snprintf(cid, sizeof cid, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xfff),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3fff)),
                  static_cast<unsigned long long>(b & 0xffffffffffffULL));
    m.cid = cid;
    m.locale = pickWeighted(r, kLocales);
    m.os = pickWeighted(r, kOperatingSystems);
    m.memory = pickWeighted(r, kMemory);
    m.dpi = pickWeighted(r, kDpi);
    m.threads = pickWeighted(r, kThreads);
    const int screens = r.chance(0.62) ? 1 : r.chance(0.9) ? 2 : 3;
    for (int s = 0; s < screens; ++s)
        m.resolutions.push_back(pickWeighted(r, kResolutions));
    const Gpu& gpu = pickWeighted(r, kGpus);
    m.renderer = gpu.renderer;
    m.glVersion = gpu.version;
    m.core = std::string(gpu.renderer) != "GDI Generic" && r.chance(0.93);
    m.adoptionDelayDays = r.chance(0.15) ? INFINITY : r.exponential(4.0);
    return m;
}

// One start of the application: everything it sends from start to exit.
struct Run
{
    int64_t startUs = 0;
    int64_t durationUs = 0;
    int32_t client = 0;
    uint8_t version = 0;
    uint8_t previousSession = 0; // 0 good, 1 bad with a crash report, 2 bad without
    uint8_t unknownCommands = 0;
    int32_t commands = 0;
};

int fixedHitsOf(const Run& run, const Machine& m)
{
    // DPI, threads, screen count, OS, memory, a resolution per screen, renderer, version; session start
    // and end; the finished session (good: Good and Global; bad: the crash-report label, Bad, Global).
    return 7 + static_cast<int>(m.resolutions.size()) + 2 + (run.previousSession ? 3 : 2) +
           run.unknownCommands;
}

class HitWriter
{
public:
    HitWriter(HitStore& store, int perAppend, const std::function<void(int64_t, double)>& progress)
        : store_(store), perAppend_(static_cast<size_t>(perAppend)), progress_(progress)
    {
        pending_.reserve(perAppend_);
    }

    void add(int64_t receivedUs, std::string body, const std::string& userAgent)
    {
        HitRecord hit;
        hit.receivedUs = receivedUs;
        hit.path = "/collect";
        const Verdict verdict = validateHit(body);
        hit.accepted = verdict.valid();
        hit.reason = verdict.reason();
        hit.body = std::move(body);
        hit.userAgent = userAgent;
        rejected_ += !hit.accepted;
        pending_.push_back(std::move(hit));
        if (pending_.size() >= perAppend_)
            flush();
    }

    void flush()
    {
        if (pending_.empty())
            return;
        store_.append(pending_);
        written_ += static_cast<int64_t>(pending_.size());
        pending_.clear();
        if (progress_)
            progress_(written_, std::chrono::duration<double>(Clock::now() - start_).count());
    }

    int64_t written() const { return written_; }
    int64_t rejected() const { return rejected_; }

private:
    using Clock = std::chrono::steady_clock;
    HitStore& store_;
    size_t perAppend_;
    const std::function<void(int64_t, double)>& progress_;
    std::vector<HitRecord> pending_;
    int64_t written_ = 0, rejected_ = 0;
    Clock::time_point start_ = Clock::now();
};

} // namespace

std::string fleetVersion(int n)
{
    return "1." + std::to_string(n);
}

FleetResult generateFleet(const std::string& path, const FleetOptions& o,
                          const std::function<void(int64_t, double)>& progress)
{
    const bool postgres = path.rfind("postgresql://", 0) == 0 || path.rfind("postgres://", 0) == 0;
    struct stat existing;
    if (!o.append && !postgres && stat(path.c_str(), &existing) == 0)
        throw StoreError(path + " exists already: the generator writes only new databases");
    if (o.hits <= 0 || o.days <= 0 || o.versions <= 0 || o.versions > 200 || o.clients <= 0)
        throw StoreError("hits, days, versions (at most 200) and clients must be positive");
    const auto started = std::chrono::steady_clock::now();
    Random random(o.seed);

    FleetResult result;
    result.lastDay = o.lastDay ? o.lastDay
                               : dayOf(std::chrono::duration_cast<std::chrono::microseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count());
    result.firstDay = result.lastDay - o.days + 1;

    std::vector<Machine> machines;
    machines.reserve(static_cast<size_t>(o.clients));
    for (int c = 0; c < o.clients; ++c)
        machines.push_back(makeMachine(o.seed, c));
    // A few installations are used all day, most now and then: log-normal weights.
    std::vector<double> clientWeights(static_cast<size_t>(o.clients));
    double sum = 0;
    for (double& w : clientWeights)
        w = sum += std::exp(1.3 * random.normal());
    // A state drawn from the seed, not the seed itself: splitmix64 from state s is the stream from s + 1
    // shifted by one draw, so days seeded 1, 2, 3... would pick the same clients.
    if (o.runSeed)
        random = Random(Random(o.runSeed ^ (o.seed << 32)).next());

    const std::vector<std::string> labels = commandLabels();
    std::vector<double> commandWeights(labels.size());
    sum = 0;
    for (size_t i = 0; i < labels.size(); ++i)
        commandWeights[i] = sum += 1.0 / std::pow(static_cast<double>(i + 1), 1.1);

    // Version n is released on day n * releaseDays / versions; each installation updates after its own
    // delay.
    const int releaseDays = o.releaseDays > 0 ? o.releaseDays : o.days;
    auto versionOn = [&](const Machine& m, int dayIndex)
    {
        int v = 0;
        for (int n = 1; n < o.versions; ++n)
            if (n * releaseDays / o.versions + m.adoptionDelayDays <= o.dayOffset + dayIndex)
                v = n;
        return v;
    };

    // As many runs as hits allow at about forty commands a run; weekends are quiet.
    constexpr double kCommandsPerRun = 40, kFixedPerRun = 14;
    const int64_t runCount =
        std::max<int64_t>(1, static_cast<int64_t>(o.hits / (kCommandsPerRun + kFixedPerRun)));
    std::vector<double> dayWeights(static_cast<size_t>(o.days));
    sum = 0;
    for (int d = 0; d < o.days; ++d)
    {
        const int weekday = ((result.firstDay + d) % 7 + 7 + 3) % 7; // 1970-01-01 was a Thursday; 0 = Monday
        dayWeights[static_cast<size_t>(d)] = sum += weekday >= 5 ? 0.3 : 1.0;
    }
    std::vector<Run> runs(static_cast<size_t>(runCount));
    int64_t fixedHits = 0;
    for (Run& run : runs)
    {
        const int dayIndex = static_cast<int>(random.pick(dayWeights));
        run.client = static_cast<int32_t>(random.pick(clientWeights));
        const Machine& m = machines[static_cast<size_t>(run.client)];
        // Started during the working day, between 06:00 and 18:00 UTC, for half an hour to four hours.
        run.startUs = (result.firstDay + dayIndex) * kUsPerDay + 6 * 3600 * kUsPerSecond +
                      static_cast<int64_t>(random.uniform() * 12 * 3600 * kUsPerSecond);
        run.durationUs = static_cast<int64_t>((0.5 + random.uniform() * 3.5) * 3600 * kUsPerSecond);
        run.version = static_cast<uint8_t>(versionOn(m, dayIndex));
        run.previousSession = random.chance(0.95) ? 0 : random.chance(0.6) ? 1 : 2;
        run.unknownCommands = static_cast<uint8_t>(random.chance(0.12) ? 1 + random.below(3) : 0);
        fixedHits += fixedHitsOf(run, m);
    }
    // The commands share what the fixed hits leave, each run by a random weight, so the total is exact.
    if (fixedHits > o.hits)
        throw StoreError("too few hits for the runs: ask for at least " + std::to_string(fixedHits));
    std::vector<double> share(runs.size());
    for (double& s : share)
        s = random.exponential(1.0);
    const double shareSum = std::accumulate(share.begin(), share.end(), 0.0);
    int64_t left = o.hits - fixedHits;
    for (size_t i = 0; i < runs.size(); ++i)
    {
        runs[i].commands =
            static_cast<int32_t>(static_cast<double>(o.hits - fixedHits) * share[i] / shareSum);
        left -= runs[i].commands;
    }
    for (size_t i = 0; left > 0; i = (i + 1) % runs.size(), --left)
        ++runs[i].commands;
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.startUs < b.startUs; });

    // Commits are not waited for on disk: the bytes written are the same, the generation is faster.
    StoreOptions options;
    options.syncFull = false;
    const auto store = openStore(path, options);
    if (postgres && !o.append && store->storedHits() > 0)
        throw StoreError("the database holds hits already: the generator writes only new databases");
    // On PostgreSQL the past days get their partitions first, as a collector running then would have made.
    store->prepareDays(result.firstDay, result.lastDay);
    HitWriter writer(*store, o.hitsPerAppend, progress);
    for (const Run& run : runs)
    {
        const Machine& m = machines[static_cast<size_t>(run.client)];
        const std::string version = fleetVersion(run.version);
        const std::string head = "v=1&tid=UA-582047-16&cid=" + m.cid + "&t=event&ul=" + m.locale + "&qt=";
        const std::string app = "&an=App%20SP2%20x64&av=" + encode(version);
        std::string agentLocale = m.locale;
        agentLocale[2] = '_';
        std::transform(agentLocale.begin() + 3, agentLocale.end(), agentLocale.begin() + 3, ::toupper);
        const std::string agent =
            "App SP2 x64/" + version + " (WIN; " + agentLocale + ") Ostrevan/1.0 (Qt/5.12.3)";

        // The hits of a run spread evenly over it; each waited in the client's queue a little.
        const int total = fixedHitsOf(run, m) + run.commands;
        int sent = 0;
        Random r(run.startUs ^ static_cast<uint64_t>(run.client));
        auto queueTime = [&]
        {
            const double u = r.uniform();
            return std::to_string(u < 0.7    ? r.below(500)
                                  : u < 0.95 ? 500 + r.below(29500)
                                             : 30000 + r.below(3570000));
        };
        auto event = [&](const std::string& category, const std::string& action, const std::string& label)
        {
            const int64_t at = run.startUs + run.durationUs * sent++ / total;
            writer.add(at,
                       head + queueTime() + app + "&ec=" + encode(category) + "&ea=" + encode(action) +
                           "&el=" + encode(label) + "&ev=1",
                       agent);
        };
        auto session = [&](const char* action, const char* sc)
        {
            const int64_t at = run.startUs + run.durationUs * sent++ / total;
            writer.add(at, head + queueTime() + app + "&ec=Session&ea=" + action + "&sc=" + sc, agent);
        };

        event("System", "DPI", m.dpi);
        event("System", "Thread Count", m.threads);
        event("System", "Screen Count", std::to_string(m.resolutions.size()));
        event("System", "OS", m.os);
        event("System", "Memory", m.memory);
        for (const std::string& resolution : m.resolutions)
            event("Screen", "Resolution", resolution);
        event("OpenGL", m.core ? "Renderer CORE" : "Renderer COMPATIBILITY", m.renderer);
        event("OpenGL", m.core ? "Version CORE" : "Version COMPATIBILITY", m.glVersion);
        session("Start", "start");
        if (run.previousSession == 0)
            event("Session", "Good", "Good");
        else
        {
            event("Session", "Bad", run.previousSession == 1 ? "With_Crash_Report" : "Without_Crash_Report");
            event("Session", "Bad", "Bad");
        }
        event("Session", "Global", "Global");
        // Unknown commands come among the others, once the user has typed a few.
        const int unknownAfter = run.commands ? r.below(run.commands) : 0;
        for (int c = 0; c < run.commands; ++c)
        {
            if (c == unknownAfter)
                for (int u = 0; u < run.unknownCommands; ++u)
                    event("Unknown Commands", "Execute",
                          kUnknownCommands[r.below(static_cast<int>(std::size(kUnknownCommands)))]);
            event("Commands", "Execute", labels[r.pick(commandWeights)]);
        }
        if (run.commands == 0)
            for (int u = 0; u < run.unknownCommands; ++u)
                event("Unknown Commands", "Execute", kUnknownCommands[u]);
        session("End", "end");
    }
    writer.flush();
    if (writer.rejected())
        std::fprintf(stderr, "zncip-collector-gen: %lld generated hits were rejected\n",
                     static_cast<long long>(writer.rejected()));
    result.hits = writer.written();
    result.runs = static_cast<int64_t>(runs.size());
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

} // namespace zncip::bench
