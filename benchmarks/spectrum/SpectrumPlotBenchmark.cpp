// Drawing a "Full Scan" trace at the largest FFT size (32768 points: 16384 bins) into a
// 1000 x 600 image, as the Show Spectrum page does for every row it shows: the whole plot
// (background, frame, grid, labels, trace) and the trace alone. Next to it, in the same run,
// the bare FFT of the same size, which every one of those rows cost the capture side. A row
// must draw in at most 5 ms: at the smallest blocks (1024 points at 96 kHz) rows come 94 a
// second, and the window thread coalesces them, but a drawing that took longer than a block
// would make the trace lag behind at every size.

#include "spectrum/FftPlan.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "ui/SpectrumPlot.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kSize = quillon::kMaxFftSize;
constexpr int kBins = kSize / 2;

// Receiver noise as a row shows it: about -60 dB with the scatter of single bins.
const std::vector<double> &noiseRow()
{
    static const std::vector<double> row = [] {
        std::vector<double> r(kBins);
        std::mt19937 gen(17);
        std::exponential_distribution<double> power(1.0);
        for (double &v : r)
            v = -60.0 + 10.0 * std::log10(power(gen));
        return r;
    }();
    return row;
}

// The page's plot rectangle in a 1000 x 600 view.
const QRect kPlotRect(50, 10, 940, 540);

void BM_PlotFullScan16384(benchmark::State &state)
{
    QImage image(1000, 600, QImage::Format_RGB32);
    quillon::SpectrumPlot plot;
    const quillon::SpectrumLayout layout(kPlotRect, {}, kSize, 48000);
    const auto &row = noiseRow();
    for (auto _ : state) {
        image.fill(Qt::lightGray);
        QPainter painter(&image);
        plot.paint(painter, layout, Qt::black, row.data(), kBins);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_TraceOnly16384(benchmark::State &state)
{
    QImage image(1000, 600, QImage::Format_RGB32);
    image.fill(Qt::white);
    quillon::SpectrumPlot plot;
    const quillon::SpectrumLayout layout(kPlotRect, {}, kSize, 48000);
    const auto &row = noiseRow();
    for (auto _ : state) {
        QPainter painter(&image);
        plot.paintTrace(painter, layout, row.data(), kBins);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_BareFftRealToComplex32768(benchmark::State &state)
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
}

} // namespace

BENCHMARK(BM_PlotFullScan16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TraceOnly16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareFftRealToComplex32768)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    // Fonts for the labels need a GUI application; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
