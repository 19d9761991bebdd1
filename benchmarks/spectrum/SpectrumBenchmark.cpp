// One spectrum block at the largest FFT size (32768 frames of 48 kHz mono 16-bit audio):
// window, optional high-pass, transform, dB and the mean of 32 history rows, next to the
// bare transform of the same size in the same run. The counter
// x_realtime is seconds of audio turned into rows per second of CPU: the delivery thread
// must stay far ahead of real time (one block every 0.68 s), and a block must take at most
// 1 ms so that the smallest blocks (1024 frames at 96 kHz, 94 a second) leave the machine
// idle.

#include "capture/HighPass.h"
#include "spectrum/FftPlan.h"
#include "spectrum/SpectrumAnalyzer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int kSize = quillon::kMaxFftSize;
constexpr std::uint32_t kRate = 48000;
constexpr double kBlockSeconds = double(kSize) / kRate;

quillon::CaptureFormat monoFormat()
{
    return {1, 1, kRate, 2 * kRate, 2, 16};
}

// Receiver noise at about -20 dBFS.
const std::vector<std::uint8_t> &noiseBlock()
{
    static const std::vector<std::uint8_t> block = [] {
        std::vector<std::uint8_t> b(2 * kSize);
        std::mt19937 gen(11);
        std::normal_distribution<double> noise(0.0, 3277.0);
        for (int i = 0; i < kSize; ++i) {
            const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(noise(gen)));
            b[2 * i] = static_cast<std::uint8_t>(v);
            b[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        return b;
    }();
    return block;
}

void spectrumBlock(benchmark::State &state, bool filterOn)
{
    const auto &block = noiseBlock();
    const auto format = monoFormat();
    const auto bytes = static_cast<std::uint32_t>(block.size());
    quillon::HighPass1kHz filter;
    filter.selectHighPass(kRate);
    quillon::HighPass1kHz *active = filterOn ? &filter : nullptr;
    quillon::SpectrumAnalyzer analyzer;
    analyzer.activate(kSize, quillon::kSpectrumHistoryRows);
    analyzer.setAveraging(true);
    // Fill the history, so that every timed block averages all 32 rows.
    for (int i = 0; i < quillon::kSpectrumHistoryRows; ++i)
        analyzer.processBlock(block.data(), bytes, format, active);
    for (auto _ : state) {
        analyzer.processBlock(block.data(), bytes, format, active);
        benchmark::DoNotOptimize(analyzer.shownRow()[1000]);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kBlockSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SpectrumBlockAverage32(benchmark::State &state)
{
    spectrumBlock(state, false);
}
void BM_SpectrumBlockAverage32HighPass(benchmark::State &state)
{
    spectrumBlock(state, true);
}

void BM_BareFftRealToComplex(benchmark::State &state)
{
    quillon::FftPlan plan(kSize);
    std::mt19937 gen(13);
    std::normal_distribution<double> noise(0.0, 0.1);
    for (int i = 0; i < kSize; ++i)
        plan.input()[i] = noise(gen);
    for (auto _ : state) {
        plan.execute();
        benchmark::DoNotOptimize(plan.output()[1]);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kBlockSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_SpectrumBlockAverage32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumBlockAverage32HighPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareFftRealToComplex)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
