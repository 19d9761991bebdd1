// Soak run of the Show Spectrum page: the virtual bench in real time at 96 kHz, mono 16-bit,
// 1024-point blocks (94 a second; another size as the second argument), "Average" on, for a
// set time (the first argument, s). Reports the blocks the
// capture delivered, the rows computed from them, the audio lost by the capture engine, the
// rows the window drew, and how late a 10 ms timer on the window thread ran at worst.
// Exit status 1 when audio was lost, a delivered block was not computed, blocks are missing,
// or the window thread was 50 ms late or more.
#include "SoakMeasures.h"
#include "ToolSupport.h"

#include "ui/MainWindow.h"
#include "ui/pages/SpectrumPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillon::tools;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int fftSize = argc > 2 ? std::atoi(argv[2]) : 1024;
    constexpr int kRate = 96000;

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

    WindowLateness lateness;
    const double cpuBefore = cpuSeconds();
    lateness.start();
    QTimer::singleShot(seconds * 1000, [&] { QApplication::quit(); });
    application.exec();

    // Counted with the capture stopped, so that no block is between its two counters.
    const double measured = lateness.seconds();
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
    lateness.print();
    std::printf("machine:         load average %s at the start, %s at the end; this process "
                "used %.1f s of CPU (%.0f %% of one core)\n",
                loadBefore.c_str(), loadAverage().c_str(), cpu, 100.0 * cpu / measured);
    const bool ok = lostFrames == 0 && computed == delivered &&
                    static_cast<long long>(delivered) + 2 >= expected && lateness.worstMs() < 50.0;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
