// Series time: one automated Measure Device series (both automations, four readings, 100 ms
// blocks, one dummy read, no averaging) on the virtual bench in real time, from the press of
// "Measure" to the end of the series, against the 8 blocks = 0.8 s of audio it needs.
// Prints one line per run and the median.
#include "ToolSupport.h"

#include "ui/MainWindow.h"
#include "ui/pages/MeasureDevicePage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    quillon::tools::storeBenchSetup(1.0); // real time
    {
        quillon::SettingsStore store;
        store.write(quillon::keys::TraceAverageFlag, 0);
        store.write(quillon::keys::DummyReads, 1);
        store.write(quillon::keys::AutomateNoiseSwitchInMeasureFunction, 1);
        store.write(quillon::keys::AutomateDutSwitchInMeasureFunction, 1);
    }
    auto app = quillon::tools::makeBenchApp();
    app->startUp();
    app->engine().settings().captureTimeMs = 100;
    quillon::MeasureDevicePage *page = app->page<quillon::MeasureDevicePage>();
    app->sheet().setActivePage(page);
    auto *measure = page->findChild<QPushButton *>(QStringLiteral("measure0"));
    auto *clear = page->findChild<QPushButton *>(QStringLiteral("clearReadings"));

    constexpr double kAudioSeconds = 8 * 0.100; // 4 readings x (1 dummy + 1 counted) blocks
    std::vector<double> seconds;
    bool complete = true; // every series took its four readings
    QTimer::singleShot(0, [&] {
        for (int run = 0; run < runs; ++run) {
            clear->click();
            QElapsedTimer timer;
            timer.start();
            measure->click(); // returns when the series is over
            seconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
            for (int i = 0; i < 4; ++i)
                complete = complete && page->readings().present(i);
            std::printf("series %d: %.3f s (%+.1f %% against %.1f s of audio)\n", run + 1,
                        seconds.back(), 100.0 * (seconds.back() / kAudioSeconds - 1.0),
                        kAudioSeconds);
        }
        QApplication::quit();
    });
    application.exec();
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("median: %.3f s (%+.1f %%; target within 15 %%)\n", median,
                100.0 * (median / kAudioSeconds - 1.0));
    app->sheet().close();
    app->shutDown();
    if (!complete) {
        std::fprintf(stderr, "a series did not take all four readings\n");
        return 1;
    }
    return 0;
}
