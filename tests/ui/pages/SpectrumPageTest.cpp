// Show Spectrum on a real capture engine: controls and redraws without a capture, the start
// failure message, and the bench's receiver read live with the mouse readout and the stop.
#include "ui/pages/SpectrumPage.h"
#include "PageTestSupport.h"
#include "capture/WaveCapture.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "support/FakeDevices.h"
#include "support/PcmBlocks.h"
#include "ui/MainWindow.h"
#include "ui/SpectrumView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include <cmath>

namespace quillon {
namespace {

using test::mustReturn, test::waitFor;

// Device 0 opens (so the probe succeeds) but never starts; device 1 fills one block when the
// test asks: a tone of `amplitude` codes at 3 kHz, 44.1 kHz mono.
struct ManualDevices : test::NamedDevices
{
    ManualDevices()
        : NamedDevices({{"Opens but does not start", 0xFFFFF}, {"Blocks on demand", 0xFFFFF}})
    {
    }
    int open(int device, const CaptureFormat &, BlockQueue &q,
             std::unique_ptr<InputStream> &s) override
    {
        // FakeDevices' stream: it starts, or its start fails.
        s = std::make_unique<test::FaultyDevices::Stream>(*(queue = &q), device != 1);
        return kCaptureOk;
    }
    bool produce(double amplitude) // false while no buffer is free
    {
        return test::handOver16(*queue, [=](std::uint32_t i) {
            return static_cast<std::int16_t>(test::toneSample(amplitude, 3000.0, 44100, i));
        });
    }
    BlockQueue *queue = nullptr;
};

int countRed(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == qRgb(255, 0, 0);
    return n;
}

class SpectrumPageTest : public test::PageTest
{
protected:
    // Devices: 0 never opens, 1 opens but does not start, 2 blocks on demand, 3 the bench.
    void SetUp() override
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_closed, &m_manual};
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
    }
    Settings &settings() { return m_engine->settings(); }

    SpectrumPage &makePage()
    {
        m_sheet = std::make_unique<MainWindow>();
        m_page = new SpectrumPage(*m_engine, m_shared);
        m_sheet->addPage(m_page);
        m_sheet->show();
        QCoreApplication::processEvents(); // laid out: the view has its image
        m_sheet->setActivePage(m_page);    // drawn at once, before any event runs
        return *m_page;
    }
    SpectrumView *view() { return child<SpectrumView>(m_page, "spectrumPlot"); }
    QString text(const char *label) { return child<QLabel>(m_page, label)->text(); }
    SpectrumLayout layout(int fftSize, int rate)
    {
        return SpectrumLayout(view()->plotRect(), m_page->scale(), fftSize, rate);
    }

    test::NamedDevices m_closed{{{"Never opens", 0xFFFFF}}};
    ManualDevices m_manual;
    std::unique_ptr<QuillonEngine> m_engine;
    SharedValues m_shared;
    std::unique_ptr<MainWindow> m_sheet; // owns the page
    SpectrumPage *m_page = nullptr;
};

TEST_F(SpectrumPageTest, ControlsRedrawsWithoutCaptureAndTheStartFailure)
{
    settings().waveInDevice = 0;
    test::BoxCatcher boxes;
    SpectrumPage &page = makePage();
    EXPECT_FALSE(page.capturing()); // a failed probe shows nothing
    const auto items = [&](const char *name) {
        auto *list = child<QComboBox>(&page, name);
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->itemText(i);
        return texts.join(',') + " / " + list->currentText();
    };
    EXPECT_EQ(items("divisions"), "4,5,6,7,8,9,10,11,12 / 12");
    EXPECT_EQ(items("topDb"), "0,-10,-20,-30,-40,-50,-60,-70,-80 / 0");
    EXPECT_EQ(items("span"), "Full Scan,0 - 4 KHz,0 - 1 KHz,Passband / Full Scan");
    EXPECT_EQ(child<QGroupBox>(&page, "verticalGroup")->title() + "|" +
                  child<QGroupBox>(&page, "horizontalGroup")->title() + "|" +
                  child<QCheckBox>(&page, "average")->text(),
              "Vertical|Horizontal|Average");
    EXPECT_FALSE(child<QCheckBox>(&page, "average")->isChecked());

    // A choice redraws at once, without a capture: the grid of 4 divisions, the top at -30.
    const QImage before = view()->image().copy();
    child<QComboBox>(&page, "divisions")->setCurrentIndex(0);
    child<QComboBox>(&page, "topDb")->setCurrentIndex(3);
    EXPECT_EQ(page.scale().divisions, 4);
    EXPECT_EQ(page.scale().topDb, -30);
    const SpectrumLayout four = layout(8192, settings().sampleRate);
    EXPECT_NE(view()->image(), before);
    EXPECT_EQ(
        view()->image().pixel(four.left() + four.cellWidth() / 2, four.top() + four.cellHeight()),
        qRgb(192, 192, 192));

    // The probe succeeds, the start does not: one message, no capture.
    page.deactivatePage();
    settings().waveInDevice = 1;
    page.activate();
    EXPECT_FALSE(page.capturing());
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgCannotOpenWaveDevice)});
    EXPECT_EQ(page.scale().divisions, 4); // kept across activations

    // A stored size the spectrum cannot use gives the default; a larger one the largest.
    EXPECT_EQ(SpectrumPage::usableFftSize(0), 8192);
    EXPECT_EQ(SpectrumPage::usableFftSize(-1024), 8192);
    EXPECT_EQ(SpectrumPage::usableFftSize(1024), 1024);
    EXPECT_EQ(SpectrumPage::usableFftSize(65536), 32768);
}

// Rows that come within a screen frame of the last drawn one wait for the frame's end, and
// then only the newest is drawn: block 2 (silent) is skipped for block 3 (a tone), and
// block 3 asked for no repaint of its own, since block 2's request was still pending.
TEST_F(SpectrumPageTest, RowsWithinAFrameWaitAndOnlyTheNewestIsDrawn)
{
    settings().waveInDevice = 2;
    settings().fftBlockSize = 1024;
    SpectrumPage &page = makePage();
    ASSERT_TRUE(page.capturing());
    page.setFrameInterval(60000);
    const auto feed = [&](double amplitude, std::uint64_t computed) {
        return waitFor([&] { return m_manual.produce(amplitude); }) &&
               waitFor([&] { return page.blocksComputed() == computed; });
    };
    ASSERT_TRUE(feed(0.0, 1));
    ASSERT_TRUE(waitFor([&] { return page.rowsDrawn() == 1; }));
    EXPECT_EQ(text("passband"), "Passband: no power in the spectrum");
    ASSERT_TRUE(feed(0.0, 2) && feed(8000.0, 3));
    QCoreApplication::processEvents();
    EXPECT_EQ(page.rowsDrawn(), 1u);
    EXPECT_EQ(page.repaintRequests(), 2u);
    EXPECT_FALSE(text("passband").contains("Audio lost"));
    m_manual.queue->addLostFrames(1024); // the device found no free buffer for one block
    page.setFrameInterval(0);            // the frame ends
    ASSERT_TRUE(waitFor([&] { return page.rowsDrawn() == 2; }));
    EXPECT_TRUE(text("passband").startsWith("Passband (-3 dB): "))
        << text("passband").toStdString();
    EXPECT_TRUE(text("passband").endsWith("    Audio lost: 1 gap, 23.3 ms"))
        << text("passband").toStdString();
    EXPECT_EQ(page.repaintRequests(), 2u);
}

// "Average" takes its count from the Number on Measure Noise: with Number 1 it has nothing to
// average, and the text under the plot says so and where to change it; with Number 4 it asks
// for the tick, and once ticked the mean grows. A tone's "passband" (one bin wide, from
// single spectra) is far too coarse for a noise bandwidth: it is not offered to the
// Calculator, which keeps what it had.
TEST_F(SpectrumPageTest, AverageSaysWhereItsCountComesFromAndCoarseReadingsStayHere)
{
    settings().waveInDevice = 2;
    settings().fftBlockSize = 1024;
    m_shared.setAverageCount(1);
    m_shared.setMeasuredNoiseBandwidthHz(1234.0);
    SpectrumPage &page = makePage();
    ASSERT_TRUE(page.capturing());
    page.setFrameInterval(0);
    auto *average = child<QCheckBox>(&page, "average");
    const auto row = [&](std::uint64_t drawn) {
        return waitFor([&] { return m_manual.produce(8000.0); }) &&
               waitFor([&] { return page.rowsDrawn() == drawn; });
    };
    const auto line = [&](int i) { return text("passband").split('\n').value(i); };

    EXPECT_TRUE(average->toolTip().endsWith("Measure Noise (now 1)"));
    ASSERT_TRUE(row(1));
    EXPECT_TRUE(line(0).endsWith("(one spectrum: Average takes the Number on Measure Noise, now 1)"))
        << line(0).toStdString();
    EXPECT_TRUE(line(1).startsWith("Bins 43.1 Hz apart ("));
    EXPECT_TRUE(line(1).contains(" of the bandwidth); error about "));
    EXPECT_TRUE(line(1).endsWith(": not offered to the Calculator (5.0 % at most)"))
        << line(1).toStdString();
    EXPECT_GT(page.shownError().total, kOfferableBandwidthError);
    QTest::mouseClick(average, Qt::LeftButton);
    ASSERT_TRUE(page.averaging());
    ASSERT_TRUE(row(2));
    EXPECT_TRUE(line(0).endsWith("now 1)"));

    page.deactivatePage();
    m_shared.setAverageCount(4);
    page.activate();
    EXPECT_TRUE(average->toolTip().endsWith("(now 4)"));
    QTest::mouseClick(average, Qt::LeftButton);
    ASSERT_FALSE(page.averaging());
    ASSERT_TRUE(row(1));
    EXPECT_TRUE(line(0).endsWith("(one spectrum: tick Average for the mean of 4)"));
    QTest::mouseClick(average, Qt::LeftButton);
    ASSERT_TRUE(row(2));
    EXPECT_TRUE(line(0).endsWith("(mean of 2 spectra)")) << line(0).toStdString();
    EXPECT_EQ(m_shared.measuredNoiseBandwidthHz(), 1234.0);
}

// The bench's receiver (-3 dB at 296.5 and 2731.4 Hz, noise bandwidth 2686.4 Hz) at 48 kHz,
// 32768 points, 32 blocks averaged. The tolerances hold the timing-dependent scatter (+-8 Hz,
// +-25 Hz, 1 %) and smoothing bias (+10 Hz, +35 Hz, +1 %) yet catch a wrong bin spacing or
// sample rate (5 % and more).
TEST_F(SpectrumPageTest, BenchPassbandReadoutAndStop)
{
    settings().waveInDevice = m_engine->benchDevice();
    applyFormatRow(settings(), 12); // 48 kHz mono 16-bit
    settings().fftBlockSize = 32768;
    m_engine->bench().setParameters({.seed = 20260613, .speed = 0.0});
    m_shared.setAverageCount(40); // limited to 32
    m_shared.setMeasuredNoiseBandwidthHz(0.0);
    QElapsedTimer active;
    active.start();
    SpectrumPage &page = makePage();
    EXPECT_EQ(countRed(view()->image()), 0); // no trace before the first row
    ASSERT_TRUE(page.capturing());
    EXPECT_EQ(m_engine->capture().blockLength(), 32768u * 2);
    child<QCheckBox>(&page, "average")->click();
    ASSERT_TRUE(waitFor([&] { return text("passband").contains("mean of 32 spectra"); }))
        << text("passband").toStdString();

    const Passband p = page.passband();
    EXPECT_NEAR(p.lowEdgeHz, 296.5, 30.0);
    EXPECT_NEAR(p.highEdgeHz, 2731.4, 100.0);
    EXPECT_NEAR(p.noiseBandwidthHz, 2686.4, 0.05 * 2686.4);
    EXPECT_EQ(m_shared.measuredNoiseBandwidthHz(), p.noiseBandwidthHz);
    EXPECT_LE(page.shownError().total, kOfferableBandwidthError);
    EXPECT_TRUE(text("passband").endsWith(": offered to the Calculator"))
        << text("passband").toStdString();
    EXPECT_GT(countRed(view()->image()), 500);


    // The pointer over 1000 Hz: that bin's frequency and level; off the plot: nothing.
    const SpectrumLayout full = layout(32768, 48000);
    const int x = full.left() + full.width() / 24, y = full.top() + 5;
    QMouseEvent move(QEvent::MouseMove, QPointF(x, y), QPointF(x, y), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(view(), &move);
    const QString readout = text("cursorReadout");
    const int bin = full.binAt(x, 16384);
    EXPECT_NEAR(bin * full.binHz(), 1000.0, 24000.0 / full.width());
    EXPECT_TRUE(readout.startsWith(QString::asprintf("%.1f Hz, -", bin * full.binHz())))
        << readout.toStdString();
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view(), &leave);
    EXPECT_EQ(text("cursorReadout"), "");

    // "Passband", chosen from the keyboard: 0 - 3 kHz, so the middle of the plot (1.5 kHz)
    // shows the passband's level, where "Full Scan" shows 12 kHz, far down the skirt.
    const auto topRedAtMiddle = [&] {
        const SpectrumLayout l = layout(32768, 48000);
        const int x = l.left() + l.width() / 2;
        for (int y = l.top(); y <= l.bottom(); ++y)
            if (view()->image().pixel(x, y) == qRgb(255, 0, 0))
                return y;
        return l.bottom() + 1;
    };
    const int passbandLevelY = layout(32768, 48000).levelY(p.peakDb - 10.0);
    EXPECT_GT(topRedAtMiddle(), passbandLevelY);
    auto *span = child<QComboBox>(&page, "span");
    span->setFocus();
    QTest::keyClick(span, Qt::Key_End);
    EXPECT_EQ(span->currentText(), "Passband");
    EXPECT_EQ(page.scale().passbandSpanHz, 3000);
    EXPECT_LT(topRedAtMiddle(), passbandLevelY);

    // Leaving stops the capture at once; no block was left without its row, each drawn row
    // answered one repaint request, and no more rows were drawn than screen frames passed.
    mustReturn([&] { page.deactivatePage(); });
    const qint64 elapsedMs = active.elapsed();
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_EQ(page.blocksComputed(), page.blocksDelivered());
    EXPECT_GE(page.blocksComputed(), 32u);
    EXPECT_LE(page.rowsDrawn(), page.repaintRequests());
    EXPECT_LE(page.repaintRequests(), page.blocksComputed());
    EXPECT_LE(page.rowsDrawn(), elapsedMs / SpectrumPage::kDefaultFrameMs + 1);

    // Back on the page the trace waits for this activation's first block; then the window
    // closes while blocks pour in.
    page.activate();
    EXPECT_EQ(countRed(view()->image()), 0);
    EXPECT_EQ(text("passband"), "Passband: waiting for a spectrum");
    ASSERT_TRUE(waitFor([&] { return page.rowsDrawn() >= 3; }));
    mustReturn([&] { m_sheet->close(); });
    EXPECT_FALSE(m_engine->capture().running());
}

} // namespace
} // namespace quillon
