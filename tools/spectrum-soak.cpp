// Soak run of the Show Spectrum page: the virtual bench in real time at 96 kHz, mono 16-bit,
// 1024-point blocks (94 a second; another size as the second argument), "Average" on, for a
// set time (the first argument, s). Reports the blocks the
// capture delivered, the rows computed from them, the audio lost by the capture engine, the
// rows the window drew, and how late a 10 ms timer on the window thread ran at worst.
// Exit status 1 when audio was lost, a delivered block was not computed, blocks are missing,
// or the window thread was 50 ms late or more.
#include "ToolSupport.h"

#include "ui/MainWindow.h"
#include "ui/pages/SpectrumPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The machine's 1-minute load average: other processes compete with the capture threads.
std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string first;
    file >> first;
    return first.empty() ? std::string("?") : first;
}

// CPU time this process has used (all threads), s.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int fftSize = argc > 2 ? std::atoi(argv[2]) : 1024;
    constexpr int kRate = 96000;
    constexpr int kTimerMs = 10;

    const std::string loadBefore = loadAverage();
    quillon::tools::storeBenchSetup(1.0);
    {
        quillon::SettingsStore store;
        store.write(quillon::keys::WaveInFormat, 16); // "96 KHz, mono, 16 bit"
        store.write(quillon::keys::FFTBlockSize, fftSize);
    }
    auto app = quillon::tools::makeBenchApp();
    app->startUp();
    quillon::SpectrumPage &page = *app->page<quillon::SpectrumPage>();
    app->sheet().setActivePage(&page);
    page.findChild<QCheckBox *>(QStringLiteral("average"))->click();
    if (!page.capturing()) {
        std::fprintf(stderr, "spectrum-soak: the page did not start capturing\n");
        return 1;
    }

    // The window thread's lateness: how much later than 10 ms after the previous tick each
    // tick of a precise 10 ms timer runs.
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    qint64 lastTick = 0, worstLateUs = 0, lateTicks = 0, ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        if (ticks > 0) {
            const qint64 late = now - lastTick - kTimerMs * 1000;
            worstLateUs = std::max(worstLateUs, late);
            lateTicks += late > 5000;
        }
        lastTick = now;
        ++ticks;
    });
    tick.start(kTimerMs);
    QTimer::singleShot(seconds * 1000, [&] { QApplication::quit(); });
    application.exec();

    // Counted with the capture stopped, so that no block is between its two counters.
    const double measured = clock.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    app->sheet().close();
    const auto delivered = page.blocksDelivered();
    const auto computed = page.blocksComputed();
    const auto drawn = page.rowsDrawn();
    const auto requests = page.repaintRequests();
    const auto lostFrames = app->engine().capture().lostFrames();
    const auto lostEvents = app->engine().capture().lostEvents();
    app->shutDown();

    const auto expected = static_cast<long long>(measured * kRate / fftSize);
    std::printf("spectrum soak: %.1f s, %d Hz mono 16-bit, %d-point blocks, Average on\n", measured,
                kRate, fftSize);
    std::printf("blocks captured: %llu (expected about %lld)\n",
                static_cast<unsigned long long>(delivered), expected);
    std::printf("blocks computed: %llu\n", static_cast<unsigned long long>(computed));
    std::printf("blocks lost:     %llu (%llu frames)\n",
                static_cast<unsigned long long>(lostEvents),
                static_cast<unsigned long long>(lostFrames));
    std::printf("rows drawn:      %llu (repaint requests %llu)\n",
                static_cast<unsigned long long>(drawn), static_cast<unsigned long long>(requests));
    std::printf("window thread:   worst lateness of a %d ms timer %.1f ms over %lld ticks "
                "(%lld ticks more than 5 ms late)\n",
                kTimerMs, worstLateUs / 1000.0, ticks, lateTicks);
    std::printf("machine:         load average %s at the start, %s at the end; this process "
                "used %.1f s of CPU (%.0f %% of one core)\n",
                loadBefore.c_str(), loadAverage().c_str(), cpu, 100.0 * cpu / measured);
    const bool ok = lostFrames == 0 && computed == delivered &&
                    static_cast<long long>(delivered) + 2 >= expected && worstLateUs < 50000;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
