// Takes a picture of each page of the window, running on the virtual bench, for the
// README. Run under a virtual X display (scripts/screenshots.sh).
#include "ToolSupport.h"

#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "rig/RigSettings.h"
#include "ui/MainWindow.h"
#include "ui/SpectrumView.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/LiveNoiseFigurePage.h"
#include "ui/pages/MeasureDevicePage.h"
#include "ui/pages/PropertyPage.h"
#include "ui/pages/SpectrumPage.h"
#include "ui/pages/SkyPage.h"
#include "ui/pages/SweepPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

// The calculator with the worked device example typed in, as a user would leave it.
void typeCalculatorExample(QWidget *page)
{
    if (auto *device = page->findChild<QAbstractButton *>(QStringLiteral("deviceMode")))
        device->click();
    const std::pair<const char *, const char *> typed[] = {{"reading1", "10"},
                                                           {"reading2", "0"},
                                                           {"reading3", "25"},
                                                           {"reading4", "10"},
                                                           {"bandwidthField", "2.4"}};
    for (const auto &[name, text] : typed)
        if (auto *field = page->findChild<QLineEdit *>(QLatin1String(name)))
            field->setText(QLatin1String(text));
}

// Show Spectrum as a user reads the receiver's passband: averaged over 32 blocks (set before
// the page is activated), the span fitted to the passband found (0 - 3 kHz), the pointer on
// the trace at a quarter of the span. Returns how
// long to let blocks arrive, ms: 32 blocks of 8192 frames at 44.1 kHz take 5.9 s.
int prepareSpectrum(quillon::SpectrumPage &page)
{
    page.findChild<QCheckBox *>(QStringLiteral("average"))->click();
    auto *span = page.findChild<QComboBox *>(QStringLiteral("span"));
    span->setCurrentIndex(span->findText(QStringLiteral("Passband")));
    page.findChild<QComboBox *>(QStringLiteral("topDb"))->setCurrentIndex(2);
    page.findChild<QComboBox *>(QStringLiteral("divisions"))->setCurrentIndex(4); // 8
    auto *view = page.findChild<quillon::SpectrumView *>(QStringLiteral("spectrumPlot"));
    const QRect plot = view->plotRect();
    const QPointF at(plot.left() + plot.width() / 4, plot.center().y());
    QTimer::singleShot(7000, view, [view, at] {
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
    });
    return 8000;
}

// A bench sweep from 100 to 190 MHz, the ENR from the bench's calibration file, the
// bench as fast as it can generate; returns once the sweep has ended.
void runSweep(quillon::SweepPage *page)
{
    page->findChild<QAbstractButton *>(QStringLiteral("startButton"))->click();
    for (QDeadlineTimer deadline(120000); page->sweeping() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The Sweep page comparing two units against limits: "unit 2" (a DUT 0.4 dB noisier, with
// 0.4 dB less gain) swept first and exported as the reference trace, then the DUT itself
// against NF max 1.3 dB and gain min 19.5 dB.
void sweepTheBench(quillon::QuillonEngine &engine, quillon::SweepPage *page)
{
    quillon::BenchParameters bench = engine.bench().parameters();
    bench.dutSwitchSelects = quillon::DutSwitchSelects::Dut;
    bench.speed = 0.0;
    if (quillon::parseEnrFile(QUILLON_SOURCE_DIR "/resources/bench-enr.txt", engine.enrTable()) == 0)
        engine.settings().useEnrFile = true;
    const std::pair<const char *, const char *> typed[] = {
        {"startField", "100"}, {"stopField", "190"}, {"stepField", "5"},
        {"nfMax", "1.3"},      {"gainMin", "19.5"}, {"dutName", "2 m LNA unit 3"}};
    for (const auto &[name, text] : typed)
        page->findChild<QLineEdit *>(QLatin1String(name))->setText(QLatin1String(text));
    auto *control = page->findChild<QComboBox *>(QStringLiteral("controlList"));
    control->setCurrentIndex(control->findData(static_cast<int>(quillon::RigKind::VirtualBench)));

    const QString reference = QDir::temp().filePath(QStringLiteral("unit-2.csv"));
    quillon::BenchParameters noisier = bench;
    noisier.dutNfDb += 0.4;
    noisier.dutGainDb -= 0.4;
    engine.bench().setParameters(noisier);
    runSweep(page);
    page->setFileDialog([reference] { return reference; });
    page->findChild<QAbstractButton *>(QStringLiteral("exportButton"))->click();
    page->setReferenceDialog([reference] { return reference; });
    page->findChild<QAbstractButton *>(QStringLiteral("addReference"))->click();
    QFile::remove(reference);

    engine.bench().setParameters(bench);
    runSweep(page);
}

// Live Noise Figure as a user tuning a preamplifier sees it: a receiver calibration taken
// with "Calibrate" (which starts the switching), the DUT at 1.0 dB, then retuned to 1.5 dB
// and 19 dB gain after 30 s and back to 1.2 dB after 50 s. Returns how long to watch, ms.
int watchLive(quillon::QuillonEngine &engine, quillon::LiveNoiseFigurePage &page)
{
    engine.settings().captureTimeMs = 100;
    page.findChild<QAbstractButton *>(QStringLiteral("calibrate"))->click();
    QTimer::singleShot(30000, &page, [&engine] { engine.bench().setLiveDut(1.5, 19.0); });
    QTimer::singleShot(50000, &page, [&engine] { engine.bench().setLiveDut(1.2, 20.0); });
    return 70000;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outDir);

    quillon::tools::storeBenchSetup(1.0);
    auto app = quillon::tools::makeBenchApp();
    app->startUp();
    quillon::MainWindow &sheet = app->sheet();
    sheet.move(0, 0);

    // The modal pages show the results of one automated series each (100 ms blocks; the
    // bench's DUT output selects the unknown source while the noise source is calibrated).
    const auto press = [](QWidget *page, std::initializer_list<const char *> names) {
        for (const char *name : names)
            page->findChild<QAbstractButton *>(QLatin1String(name))->click();
    };
    const auto measureSeries = [&](quillon::PropertyPage *page) {
        app->engine().settings().captureTimeMs = 100;
        quillon::BenchParameters bench = app->engine().bench().parameters();
        if (page == app->page<quillon::MeasureDevicePage>()) {
            // A tone in the passband as strong as the quietest reading's noise, so that the
            // picture shows a warning below the results and their uncertainties; the ENR
            // stated to 0.15 dB.
            bench.dutSwitchSelects = quillon::DutSwitchSelects::Dut;
            bench.faults.toneOn = true;
            bench.faults.toneDbfs = -57.0;
            app->engine().bench().setParameters(bench);
            if (auto *enr = page->findChild<QLineEdit *>(QStringLiteral("enrUncertainty")))
                enr->setText(QStringLiteral("0.15"));
            press(page, {"noiseGen", "dutSwitch", "measure0"});
            bench.faults = {};
            app->engine().bench().setParameters(bench);
        } else if (page == app->page<quillon::CalibrateNoiseSourcePage>()) {
            bench.dutSwitchSelects = quillon::DutSwitchSelects::UnknownSource;
            app->engine().bench().setParameters(bench);
            press(page, {"noiseGen", "measure0", "measure2"});
        } else if (page == app->page<quillon::SkyPage>()) {
            // The bench's sky mode at a fixed time: the Sun of 65 sfu at 144 MHz, 10% stated,
            // a 10 deg beam and 7 dBi; the ground and sky at the bench's 420 K and 20 K. Each
            // measurement's source "Measure" takes its pair.
            static_cast<quillon::SkyPage *>(page)->setClock([] { return 1781956800.0; });
            const auto set = [page](const char *name, const char *text) {
                page->findChild<QLineEdit *>(QLatin1String(name))->setText(QLatin1String(text));
            };
            set("locator", "JO01");
            set("beamwidth", "10");
            set("flux", "65");
            set("gain", "7");
            set("tsys", "1560");
            set("groundTemperature", "420");
            set("skyTemperature", "20");
            press(page, {"sunMeasureSource", "moonMeasureSource", "groundMeasureSource"});
        }
    };

    // Let a few blocks arrive so the meter shows live readings, then photograph every tab.
    int index = 0;
    const auto shootNext = [&](auto &&self) -> void {
        QTabWidget *tabs = sheet.tabs();
        if (index >= tabs->count()) {
            sheet.close();
            QApplication::quit();
            return;
        }
        if (qobject_cast<quillon::SpectrumPage *>(tabs->widget(index)))
            app->shared().setAverageCount(32);
        tabs->setCurrentIndex(index);
        auto *shown = qobject_cast<quillon::PropertyPage *>(tabs->widget(index));
        measureSeries(shown);
        if (shown->helpTopic() == QLatin1String("calculator"))
            typeCalculatorExample(shown);
        int wait = index == 0 ? 6000 : 800;
        if (auto *spectrum = qobject_cast<quillon::SpectrumPage *>(shown))
            wait = prepareSpectrum(*spectrum);
        if (auto *sweep = qobject_cast<quillon::SweepPage *>(shown))
            sweepTheBench(app->engine(), sweep);
        if (auto *live = qobject_cast<quillon::LiveNoiseFigurePage *>(shown))
            wait = watchLive(app->engine(), *live);
        QTimer::singleShot(wait, [&, self] {
            auto *page = qobject_cast<quillon::PropertyPage *>(sheet.tabs()->widget(index));
            QString name = page->helpTopic();
            const QString path = outDir + "/" + name + ".png";
            if (!sheet.grab().save(path))
                std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            else
                std::printf("%s\n", qPrintable(path));
            ++index;
            self(self);
        });
    };
    QTimer::singleShot(0, [&] { shootNext(shootNext); });
    application.exec();
    return app->shutDown();
}
