// Drawing a "Full Scan" trace at the largest FFT size (32768 points: 16384 bins) into a
// 1000 x 600 image: a row as the Show Spectrum page draws it (frame, grid and labels copied
// from the plot's cached background, then the trace), the whole plot drawn afresh (what a
// change of scale, span or size costs once), the trace alone, and the passband read from the
// row. Next to them, in the same run, the bare FFT of the same size, which every one of those
// rows cost the capture side. A row must draw in at most 1.5 ms: the window thread draws up
// to one row per screen frame (60 a second), and at that rate the page should cost no more
// than a tenth of a core.

#include "spectrum/FftPlan.h"
#include "spectrum/Passband.h"
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

void BM_RowCached16384(benchmark::State &state)
{
    QImage image(1000, 600, QImage::Format_RGB32);
    quillon::SpectrumPlot plot;
    const quillon::SpectrumLayout layout(kPlotRect, {}, kSize, 48000);
    const auto &row = noiseRow();
    const QFont font;
    plot.render(image, layout, Qt::lightGray, Qt::black, font, row.data(), kBins);
    for (auto _ : state) {
        plot.render(image, layout, Qt::lightGray, Qt::black, font, row.data(), kBins);
        benchmark::DoNotOptimize(image.constBits());
    }
    if (plot.backgroundDraws() != 1)
        state.SkipWithError("the background was drawn again");
}

void BM_PassbandOfRow16384(benchmark::State &state)
{
    quillon::PassbandAnalyzer analyzer;
    const auto &row = noiseRow();
    for (auto _ : state)
        benchmark::DoNotOptimize(analyzer.analyze(row.data(), kBins, 48000.0 / kSize));
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

BENCHMARK(BM_RowCached16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlotFullScan16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TraceOnly16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassbandOfRow16384)->Unit(benchmark::kMicrosecond);
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
