// Start-up time: from the process's start (as the kernel recorded it) to the main window
// shown and painted once, on the virtual bench. Prints milliseconds.
#include "ToolSupport.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Milliseconds since this process started, from /proc/self/stat's start time.
double sinceProcessStartMs()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Field 22 (starttime, clock ticks since boot) counts from after the ")" of field 2.
    std::size_t pos = text.rfind(')');
    int field = 2;
    unsigned long long startTicks = 0;
    while (pos != std::string::npos && field < 22) {
        pos = text.find(' ', pos + 1);
        ++field;
        if (field == 22 && pos != std::string::npos)
            startTicks = std::stoull(text.substr(pos + 1));
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char *argv[])
{
    const bool portAudio = argc > 1 && std::string(argv[1]) == "--portaudio";
    QApplication application(argc, argv);
    quillon::tools::storeBenchSetup(1.0);
    quillon::EngineOptions options;
    options.portAudio = portAudio;
    quillon::QuillonApp app(std::move(options));
    app.setPortProbe([] { return std::vector<std::string>{"USB", "Virtual bench"}; });
    app.startUp();
    // Queued behind the first paint of the shown window.
    QTimer::singleShot(0, [&] {
        app.sheet().repaint();
        std::printf("%.0f\n", sinceProcessStartMs());
        QApplication::quit();
    });
    application.exec();
    app.sheet().close();
    return app.shutDown();
}
