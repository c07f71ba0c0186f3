// The cost of turning an active_requests reply into a completed sample: the
// line byte rules over the reply as the socket hands it over, the parser, and
// completeSample. Pages of 1 000 to 100 000 requests over N/20 clients; the
// rates are per byte of reply text and per request, so a flat MB/s across
// the sizes means a cost linear in the page size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/records.h"
#include "cachemgr/sample_statistics.h"
#include "page_generator.h"
#include "sample_from_reply.h"

namespace {

using reqwatch::SampleState;
using reqwatch::pagegen::fetchFromReply;
using reqwatch::pagegen::forEachLine;

constexpr std::int64_t secondsBetweenSamples = 5;

struct Pages {
    std::size_t requests = 0;
    std::string first;   // the whole reply of the first fetch
    std::string second;  // the reply of the next fetch, a few seconds on
    std::time_t firstTime = 0;
    std::time_t secondTime = 0;
};

const Pages& pagesFor(std::size_t requests) {
    static std::map<std::size_t, Pages> cache;
    auto found = cache.find(requests);
    if (found != cache.end()) {
        return found->second;
    }
    reqwatch::pagegen::PageShape shape;
    shape.requests = requests;
    shape.clients = std::max<std::size_t>(1, requests / 20);
    shape.seed = 20240611 + requests;
    shape.managerRequest = true;
    reqwatch::pagegen::PageGenerator generator(shape);
    Pages pages;
    pages.requests = requests;
    pages.first = generator.reply();
    pages.firstTime = static_cast<std::time_t>(generator.sample().nowMicros / 1000000);
    generator.advance(secondsBetweenSamples);
    pages.second = generator.reply();
    pages.secondTime = static_cast<std::time_t>(generator.sample().nowMicros / 1000000);
    return cache.emplace(requests, std::move(pages)).first->second;
}

void setRates(benchmark::State& run, const std::string& reply, std::size_t requests) {
    run.SetBytesProcessed(static_cast<std::int64_t>(run.iterations()) *
                          static_cast<std::int64_t>(reply.size()));
    run.SetItemsProcessed(static_cast<std::int64_t>(run.iterations()) *
                          static_cast<std::int64_t>(requests));
    run.counters["page_MB"] = static_cast<double>(reply.size()) / 1e6;
}

// The line byte rules alone, for comparison with the whole fetch.
void lineRules(benchmark::State& run) {
    const Pages& pages = pagesFor(static_cast<std::size_t>(run.range(0)));
    for (auto _ : run) {
        std::size_t kept = 0;
        forEachLine(pages.first, [&](std::string_view line) { kept += line.size(); });
        benchmark::DoNotOptimize(kept);
    }
    setRates(run, pages.first, pages.requests);
}

// A first fetch: no previous sample.
void firstSample(benchmark::State& run) {
    const Pages& pages = pagesFor(static_cast<std::size_t>(run.range(0)));
    {
        SampleState check;
        // Every generated request and the manager's own one must come out.
        if (!fetchFromReply(check, pages.first, pages.firstTime) ||
            reqwatch::pagegen::requestsIn(check) != pages.requests + 1) {
            run.SkipWithError("the generated page did not parse to its requests");
            return;
        }
    }
    SampleState state;
    for (auto _ : run) {
        run.PauseTiming();
        state = SampleState{};
        run.ResumeTiming();
        fetchFromReply(state, pages.first, pages.firstTime);
        benchmark::DoNotOptimize(state.totalAverageSpeed);
    }
    setRates(run, pages.first, pages.requests);
}

// The next fetch: every request id is looked up among the previous sample's,
// and current speeds come out.
void secondSample(benchmark::State& run) {
    const Pages& pages = pagesFor(static_cast<std::size_t>(run.range(0)));
    SampleState afterFirst;
    fetchFromReply(afterFirst, pages.first, pages.firstTime);
    {
        SampleState check = afterFirst;
        if (!fetchFromReply(check, pages.second, pages.secondTime) ||
            reqwatch::pagegen::requestsIn(check) != pages.requests + 1 ||
            check.totalCurrentSpeed <= 0) {
            run.SkipWithError("the second page did not parse to its requests and speeds");
            return;
        }
    }
    SampleState state;
    for (auto _ : run) {
        run.PauseTiming();
        state = afterFirst;
        run.ResumeTiming();
        fetchFromReply(state, pages.second, pages.secondTime);
        benchmark::DoNotOptimize(state.totalCurrentSpeed);
    }
    setRates(run, pages.second, pages.requests);
}

void pageSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(lineRules)->Apply(pageSizes);
BENCHMARK(firstSample)->Apply(pageSizes);
BENCHMARK(secondSample)->Apply(pageSizes);

BENCHMARK_MAIN();
