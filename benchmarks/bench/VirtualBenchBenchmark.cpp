// Cost of the virtual bench's noise. Reported as seconds of audio generated per CPU second
// ("x_realtime"), and against the bare memory traffic of writing the same block.

#include "bench/NoiseGenerator.h"
#include "bench/VirtualBench.h"
#include "bench/VirtualBenchBackend.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace quillon {
namespace {

GeneratorSetup defaultSetup(std::uint32_t rate, int channels, int bits)
{
    VirtualBench bench;
    CaptureFormat f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = rate;
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = f.blockAlign * rate;
    GeneratorSetup g = bench.nextGeneratorSetup(f);
    g.seed = 1;
    return g;
}

// The largest block the program captures: 10 s of 96 kHz stereo 24-bit audio.
void BM_Generate10s96kStereo24(benchmark::State &state)
{
    BenchGenerator gen(defaultSetup(96000, 2, 24));
    std::vector<std::uint8_t> buf(960000 * 6);
    std::atomic<int> sw{3};
    for (auto _ : state) {
        gen.generate(buf.data(), 960000, sw);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(10.0 * state.iterations(), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * buf.size());
}
BENCHMARK(BM_Generate10s96kStereo24)->Unit(benchmark::kMillisecond);

// The commonest format: 1 s of 44.1 kHz mono 16-bit.
void BM_Generate1s44kMono16(benchmark::State &state)
{
    BenchGenerator gen(defaultSetup(44100, 1, 16));
    std::vector<std::uint8_t> buf(44100 * 2);
    std::atomic<int> sw{0};
    for (auto _ : state) {
        gen.generate(buf.data(), 44100, sw);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(1.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Generate1s44kMono16)->Unit(benchmark::kMillisecond);

// The Gaussian deviates alone (per deviate).
void BM_StandardNormal(benchmark::State &state)
{
    Xoshiro256pp rng(1);
    double acc = 0.0;
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i)
            acc += standardNormal(rng);
    }
    benchmark::DoNotOptimize(acc);
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_StandardNormal);

// The machine's limit for the same block: writing 5.76 MB.
void BM_MemsetSameBlock(benchmark::State &state)
{
    std::vector<std::uint8_t> buf(960000 * 6);
    int v = 0;
    for (auto _ : state) {
        std::memset(buf.data(), ++v, buf.size());
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(10.0 * state.iterations(), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * buf.size());
}
BENCHMARK(BM_MemsetSameBlock)->Unit(benchmark::kMillisecond);

// Through the device at speed 0: generator thread, queue hand-over and a consumer that
// re-queues at once; 1 s blocks of 96 kHz stereo 24-bit. Real time, as two threads work.
void BM_StreamSpeedZero(benchmark::State &state)
{
    BenchParameters p;
    p.speed = 0.0;
    p.seed = 1;
    VirtualBench bench(p);
    VirtualBenchBackend backend(bench);
    CaptureFormat f;
    f.channels = 2;
    f.samplesPerSec = 96000;
    f.bitsPerSample = 24;
    f.blockAlign = 6;
    f.avgBytesPerSec = 576000;
    std::vector<std::uint8_t> buffers[2];
    CaptureHeader headers[2];
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    if (backend.open(0, f, queue, stream) != kCaptureOk) {
        state.SkipWithError("open failed");
        return;
    }
    for (int i = 0; i < 2; ++i) {
        buffers[i].resize(576000);
        headers[i].data = buffers[i].data();
        headers[i].bufferLength = 576000;
        headers[i].index = i;
        stream->prepare(headers[i]);
        stream->addBuffer(headers[i]);
    }
    stream->start();
    for (auto _ : state) {
        CaptureHeader *h = queue.waitPopFull();
        benchmark::DoNotOptimize(h->data);
        stream->addBuffer(*h);
    }
    queue.shutdown();
    stream->reset();
    stream->close();
    state.counters["x_realtime"] =
        benchmark::Counter(1.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StreamSpeedZero)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quillon

BENCHMARK_MAIN();
