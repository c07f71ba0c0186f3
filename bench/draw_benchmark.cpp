// The drawing pass of the interactive screen on an in-memory surface of
// 200 x 60 cells, for a sample of 100 000 requests over 5 000 clients: after
// a new sample arrives, and after a key that only moves the selection.
#include <benchmark/benchmark.h>

#include <ctime>
#include <map>
#include <mutex>

#include "page_generator.h"
#include "sample_from_reply.h"
#include "screen/grid_surface.h"
#include "screen/screen.h"

namespace {

using reqwatch::ConnectionList;

const ConnectionList& sampleOf(std::size_t requests) {
    static std::map<std::size_t, ConnectionList> cache;
    auto found = cache.find(requests);
    if (found == cache.end()) {
        reqwatch::pagegen::PageShape shape;
        shape.requests = requests;
        shape.clients = requests / 20;
        shape.managerRequest = true;
        reqwatch::pagegen::PageGenerator generator(shape);
        reqwatch::SampleState state;
        reqwatch::pagegen::fetchFromReply(
            state, generator.reply(),
            static_cast<std::time_t>(generator.sample().nowMicros / 1000000));
        found = cache.emplace(requests, state.current).first;
    }
    return found->second;
}

struct Display {
    Display() : grid(200, 60), screen(options, grid) {}
    reqwatch::Options options;
    reqwatch::GridSurface grid;
    reqwatch::Screen screen;
};

// A new sample: the hand-over, then the pass that filters, merges, sorts and
// builds every row.
void drawAfterNewSample(benchmark::State& run) {
    const ConnectionList& sample = sampleOf(static_cast<std::size_t>(run.range(0)));
    Display display;
    std::lock_guard<reqwatch::ErrorCheckingMutex> guard(display.screen.lock);
    for (auto _ : run) {
        run.PauseTiming();
        ConnectionList copy = sample;
        run.ResumeTiming();
        display.screen.setConnections(std::move(copy));
        display.screen.draw();
    }
    run.SetItemsProcessed(static_cast<std::int64_t>(run.iterations()) * run.range(0));
}

// DOWN and UP in turn on the same sample.
void drawAfterCursorKey(benchmark::State& run) {
    Display display;
    std::lock_guard<reqwatch::ErrorCheckingMutex> guard(display.screen.lock);
    display.screen.setConnections(sampleOf(static_cast<std::size_t>(run.range(0))));
    display.screen.draw();
    bool down = true;
    for (auto _ : run) {
        if (down) {
            ++display.screen.cursor;
            display.screen.lastMove = 1;
        } else {
            --display.screen.cursor;
            display.screen.lastMove = -1;
        }
        down = !down;
        display.screen.draw();
    }
}

}  // namespace

BENCHMARK(drawAfterNewSample)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(drawAfterCursorKey)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
