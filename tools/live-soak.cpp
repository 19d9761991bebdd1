// Soak run of the Live Noise Figure page: the virtual bench in real time, 44.1 kHz mono
// 16-bit, 100 ms blocks, the noise source switched continuously, a receiver calibration taken
// by the page's "Calibrate" first, for a set time (the first argument, s; a 10 s warm-up
// before). Every minute the bench's DUT is retuned (its NF between 1.0 and 2.0 dB), as a user
// tuning a preamplifier would. Reports the groups shown, the blocks discarded, the audio lost
// by the capture engine, resident memory after the warm-up, once the trend's five minutes are
// full, and at the end, and how late a 10 ms timer on the window thread ran at worst.
// Exit status 1 when audio was lost, the run ended by itself, the readout stopped following,
// memory grew by more than 4 MiB after the trend was full, the window thread was 50 ms late
// or more, or the noise source was left ON.
#include "SoakMeasures.h"
#include "ToolSupport.h"

#include "measure/QuillonEngine.h"
#include "ui/MainWindow.h"
#include "ui/pages/LiveNoiseFigurePage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillon::tools;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    constexpr int kWarmupSeconds = 10;
    constexpr int kTrendFullSeconds = 310; // the trend's five minutes, and a little

    const std::string loadBefore = loadAverage();
    quillon::tools::storeBenchSetup(1.0);
    auto app = quillon::tools::makeBenchApp();
    app->startUp();
    quillon::QuillonEngine &engine = app->engine();
    engine.settings().captureTimeMs = 100;
    auto &page = *app->page<quillon::LiveNoiseFigurePage>();
    app->sheet().setActivePage(&page);
    page.findChild<QAbstractButton *>(QStringLiteral("calibrate"))->click();
    if (!page.running()) {
        std::fprintf(stderr, "live-soak: the page did not start switching\n");
        return 1;
    }

    WindowLateness lateness;

    // The DUT retuned every minute between 1.0 and 2.0 dB; the readout must follow each step:
    // the mean of the last 10 s of the trend within 0.25 dB of the DUT (one update of 8
    // groups scatters by about 0.12 dB).
    int steps = 0, followed = 0;
    bool high = false;
    QTimer retune;
    QObject::connect(&retune, &QTimer::timeout, [&] {
        const auto &points = page.trend().points();
        double sum = 0.0;
        int n = 0;
        for (auto p = points.rbegin(); p != points.rend() && p->seconds >= points.back().seconds - 10.0; ++p)
            if (std::isfinite(p->nfDb)) {
                sum += p->nfDb;
                ++n;
            }
        if (steps > 0 && n > 0 && std::abs(sum / n - (high ? 2.0 : 1.0)) < 0.25)
            ++followed;
        high = !high;
        engine.bench().setLiveDut(high ? 2.0 : 1.0, 20.0);
        ++steps;
    });

    long rssAfterWarmup = 0, rssTrendFull = -1;
    int groupsAfterWarmup = 0;
    double cpuBefore = 0.0;
    QTimer::singleShot(kWarmupSeconds * 1000, [&] {
        rssAfterWarmup = residentKiB();
        groupsAfterWarmup = page.updatesShown();
        cpuBefore = cpuSeconds();
        lateness.start();
        retune.start(60000);
    });
    if (seconds > kTrendFullSeconds)
        QTimer::singleShot((kWarmupSeconds + kTrendFullSeconds) * 1000,
                           [&] { rssTrendFull = residentKiB(); });
    // Read before quit(), which closes the window (and so stops the page) first.
    bool stillRunning = false;
    QTimer::singleShot((kWarmupSeconds + seconds) * 1000, [&] {
        stillRunning = page.running();
        QApplication::quit();
    });
    application.exec();

    const double measured = lateness.seconds();
    const double cpu = cpuSeconds() - cpuBefore;
    const long rssEnd = residentKiB();
    const int groups = page.updatesShown() - groupsAfterWarmup;
    const quillon::LiveUpdate last = page.lastUpdate();
    const bool corrected = last.corrected;
    app->sheet().close();
    const auto lostFrames = engine.capture().lostFrames();
    const auto lostEvents = engine.capture().lostEvents();
    const bool noiseOn = engine.bench().noiseOn();
    app->shutDown();

    std::printf("live soak: %.1f s after a %d s warm-up, 44100 Hz mono 16-bit, 100 ms blocks\n",
                measured, kWarmupSeconds);
    std::printf("groups shown:    %d (one every %.3f s), %s\n", groups,
                groups > 0 ? measured / groups : 0.0,
                corrected ? "the DUT corrected" : "NOT corrected");
    std::printf("blocks:          %llu discarded after switches since Start\n",
                static_cast<unsigned long long>(last.discardedBlocks));
    std::printf("blocks lost:     %llu (%llu frames)\n",
                static_cast<unsigned long long>(lostEvents),
                static_cast<unsigned long long>(lostFrames));
    std::printf("DUT retuned:     %d times, the last 10 s of the readout within 0.25 dB of it a "
                "minute later %d of %d\n",
                steps, followed, std::max(0, steps - 1));
    if (rssTrendFull >= 0)
        std::printf("resident memory: %ld KiB after warm-up, %ld KiB with the trend full, %ld KiB "
                    "at the end (%+ld KiB since the trend was full)\n",
                    rssAfterWarmup, rssTrendFull, rssEnd, rssEnd - rssTrendFull);
    else
        std::printf("resident memory: %ld KiB after warm-up, %ld KiB at the end (%+ld KiB; the "
                    "trend fills for five minutes)\n",
                    rssAfterWarmup, rssEnd, rssEnd - rssAfterWarmup);
    lateness.print();
    std::printf("machine:         load average %s at the start, %s at the end; this process "
                "used %.1f s of CPU (%.0f %% of one core)\n",
                loadBefore.c_str(), loadAverage().c_str(), cpu,
                measured > 0 ? 100.0 * cpu / measured : 0.0);
    std::printf("after close:     noise source %s\n", noiseOn ? "ON" : "OFF");
    const long growth = rssTrendFull >= 0 ? rssEnd - rssTrendFull : 0;
    const bool ok = lostFrames == 0 && stillRunning && corrected && groups > 0 &&
                    followed + 1 >= steps && growth < 4096 && lateness.worstMs() < 50.0 && !noiseOn;
    if (!stillRunning)
        std::printf("the run had ended by itself\n");
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
