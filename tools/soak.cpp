// Soak run of the Measure Noise page: the virtual bench in real time, 100 ms blocks,
// logging every block, for a set time. Reports blocks logged against blocks expected,
// audio lost by the capture engine, and resident memory growth after a warm-up.
// Exit status 1 when any audio was lost or a block is missing.
#include "SoakMeasures.h"
#include "ToolSupport.h"

#include "ui/MainWindow.h"
#include "ui/pages/SetupPage.h"
#include "ui/pages/MeasureNoisePage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long countLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    long n = 0;
    while (!file.atEnd()) {
        file.readLine();
        ++n;
    }
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    constexpr int kWarmupSeconds = 5;
    QTemporaryDir dir;
    const QString logPath = dir.path() + "/soak.log";

    quillon::tools::storeBenchSetup(1.0);
    auto app = quillon::tools::makeBenchApp();
    app->startUp();
    quillon::Settings &s = app->engine().settings();
    s.captureTimeMs = 100;
    s.logResultsFile = logPath.toStdString();
    s.logMeasurements = true;
    // Re-enter the page so the capture restarts with 100 ms blocks.
    app->sheet().setActivePage(app->page<quillon::SetupPage>());
    app->sheet().setActivePage(app->page<quillon::MeasureNoisePage>());

    long rssAfterWarmup = 0;
    long linesAfterWarmup = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(kWarmupSeconds * 1000, [&] {
        rssAfterWarmup = quillon::tools::residentKiB();
        linesAfterWarmup = countLines(logPath);
        clock.restart();
    });
    QTimer::singleShot((kWarmupSeconds + seconds) * 1000, [&] { QApplication::quit(); });
    application.exec();

    const double measured = clock.elapsed() / 1000.0;
    const long lines = countLines(logPath) - linesAfterWarmup;
    const long rssEnd = quillon::tools::residentKiB();
    const auto lostFrames = app->engine().capture().lostFrames();
    const auto lostEvents = app->engine().capture().lostEvents();
    app->sheet().close();
    app->shutDown();

    const long expected = static_cast<long>(measured * 10.0);
    std::printf("soak: %.1f s after a %d s warm-up at 100 ms blocks\n", measured, kWarmupSeconds);
    std::printf("blocks logged:   %ld (expected about %ld)\n", lines, expected);
    std::printf("lost audio:      %llu frames in %llu gaps (lost blocks: %llu)\n",
                static_cast<unsigned long long>(lostFrames),
                static_cast<unsigned long long>(lostEvents),
                static_cast<unsigned long long>(lostEvents));
    std::printf("resident memory: %ld KiB after warm-up, %ld KiB at the end (%+ld KiB)\n",
                rssAfterWarmup, rssEnd, rssEnd - rssAfterWarmup);
    const bool ok = lostFrames == 0 && lines + 2 >= expected;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
