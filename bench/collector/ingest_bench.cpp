// The collector's own work on a hit, apart from HTTP and the database, beside a floor in the same run:
//  - parsing and validating a hit body as it arrives, against copying the body (what the port cannot
//    avoid doing with it);
//  - encoding a writer's batch of 8 hits for the database, with the writer's memory of ids and presence
//    empty (new clients) and holding every one of them (known clients).
//
// usage: zncip-collector-ingest-bench [benchmark options]

#include "ingest/hit_parser.h"
#include "store/postgres/append_batch.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{
using namespace zncip::collector;

constexpr int64_t kReceivedUs = 1'780'000'000'000'000;
constexpr size_t kBatch = 8;

// The body the processor bench sends: an event with a label, a value and the usual parameters.
std::string hitBody(unsigned n)
{
    return "v=1&tid=UA-582047-16&cid=cpu-client-" + std::to_string(n) +
           "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP" +
           std::to_string(n % 40) + ")&ev=" + std::to_string(n + 1) + "&r=1";
}

const std::string kAgent = "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)";

void copyBody(benchmark::State& state)
{
    const std::string body = hitBody(7);
    for (auto _ : state)
    {
        std::string copy = body;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(copyBody);

void parse(benchmark::State& state)
{
    const std::string body = hitBody(7);
    for (auto _ : state)
    {
        HitRecord hit = parseHit(body, "/collect", kAgent, kReceivedUs);
        benchmark::DoNotOptimize(hit.accepted);
    }
}
BENCHMARK(parse);

std::vector<HitRecord> batchOf(unsigned first)
{
    std::vector<HitRecord> hits;
    for (unsigned n = first; n < first + kBatch; ++n)
        hits.push_back(parseHit(hitBody(n), "/collect", kAgent, kReceivedUs));
    return hits;
}

void encodeNew(benchmark::State& state)
{
    const std::vector<HitRecord> hits = batchOf(0);
    const postgres::PresenceCache cache;
    const postgres::KnownIds ids;
    for (auto _ : state)
    {
        postgres::AppendBatch batch = postgres::encodeAppend(hits, 0, cache, ids);
        benchmark::DoNotOptimize(batch.params.values.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}
BENCHMARK(encodeNew);

void encodeKnown(benchmark::State& state)
{
    const std::vector<HitRecord> hits = batchOf(0);
    postgres::PresenceCache cache;
    postgres::KnownIds ids;
    // What the writer would have learnt from storing these hits once: every presence, every id.
    postgres::AppendBatch first = postgres::encodeAppend(hits, 0, cache, ids);
    cache.stored(1, std::move(first.presence));
    ids.holdUnder(1);
    int64_t next = 1;
    for (const postgres::AppendBatch::Texts& t : first.unknown)
    {
        for (const std::string& text : t.text)
            if (!text.empty())
                ids.remember(static_cast<postgres::KnownIds::Text>(&text - t.text), text, next++);
        ids.remember(t.keyFields, {next, next + 1, next + 2, next + 3});
        next += 4;
    }
    for (auto _ : state)
    {
        postgres::AppendBatch batch = postgres::encodeAppend(hits, 0, cache, ids);
        benchmark::DoNotOptimize(batch.params.values.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}
BENCHMARK(encodeKnown);

} // namespace

BENCHMARK_MAIN();
