// measureBlock on the largest block the program captures: 10 s of 96 kHz stereo 24-bit
// audio (5,760,000 bytes), with the 1 kHz high-pass off and on. The counter x_realtime is
// seconds of audio measured per second of CPU; the capture thread must stay far ahead of
// real time, since the page callback does more than measure. bytes_per_second compares the
// plain loop with the machine's memory bandwidth.

#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/WaveFormat.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 96000;
constexpr double kSeconds = 10.0;

quillon::CaptureFormat largestFormat()
{
    quillon::CaptureFormat f;
    f.channels = 2;
    f.bitsPerSample = 24;
    f.samplesPerSec = kRate;
    f.blockAlign = 6;
    f.avgBytesPerSec = 6 * kRate;
    return f;
}

// Receiver noise at about -20 dBFS with a little DC, as the meter sees it.
const std::vector<std::uint8_t> &largestBlock()
{
    static const std::vector<std::uint8_t> block = [] {
        const auto frames = static_cast<std::size_t>(kRate * kSeconds);
        std::vector<std::uint8_t> b(frames * 6);
        std::mt19937 gen(7);
        std::normal_distribution<double> noise(1200.0, 838861.0);
        for (std::size_t i = 0; i < frames * 2; ++i) {
            const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(noise(gen)));
            b[3 * i] = static_cast<std::uint8_t>(v);
            b[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            b[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
        }
        return b;
    }();
    return block;
}

void measureLargestBlock(benchmark::State &state, bool filterOn)
{
    const auto &block = largestBlock();
    const auto format = largestFormat();
    quillon::HighPass1kHz filter;
    filter.selectHighPass(kRate);
    for (auto _ : state) {
        const auto stats =
            quillon::measureBlock(block.data(), static_cast<std::uint32_t>(block.size()), format,
                                  filterOn ? &filter : nullptr);
        benchmark::DoNotOptimize(stats);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(block.size()) * state.iterations());
}

void BM_MeasureBlockFilterOff(benchmark::State &state)
{
    measureLargestBlock(state, false);
}
void BM_MeasureBlockFilterOn(benchmark::State &state)
{
    measureLargestBlock(state, true);
}

// The filter alone, stepped through its member history one value at a time, as the
// spectrum page uses it: the yardstick for the register-resident loop above.
void BM_HighPassStep(benchmark::State &state)
{
    std::vector<double> in(static_cast<std::size_t>(kRate * kSeconds));
    std::mt19937 gen(3);
    std::normal_distribution<double> noise(0.0, 838861.0);
    for (auto &x : in)
        x = noise(gen);
    quillon::HighPass1kHz filter;
    filter.selectHighPass(kRate);
    for (auto _ : state) {
        filter.presetHighPass(in[0]);
        double last = 0.0;
        for (double x : in)
            last = filter(x);
        benchmark::DoNotOptimize(last);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_MeasureBlockFilterOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeasureBlockFilterOn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HighPassStep)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
