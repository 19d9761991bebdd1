#include "ui/pages/SpectrumPage.h"

#include "capture/WaveCapture.h"
#include "core/Messages.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "ui/LostAudioNote.h"
#include "ui/MessageBox.h"
#include "ui/PostToWindow.h"
#include "ui/SpectrumView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace quillon {

namespace {

// The FFT size Setup offers by default ("FFTBlockSize").
constexpr int kDefaultFftSize = 8192;

// A frequency for the texts under the plot, locale-free.
QString hzText(double hz)
{
    return QString::asprintf("%.1f Hz", hz);
}

// A fraction as a percentage, locale-free: 0.043 -> "4.3 %", 0.6 -> "60 %".
QString percentText(double fraction)
{
    const double percent = 100.0 * fraction;
    if (!std::isfinite(percent))
        return QStringLiteral("unknown");
    return percent < 10.0 ? QString::asprintf("%.1f %%", percent)
                          : QString::asprintf("%.0f %%", percent);
}

} // namespace

SpectrumPage::SpectrumPage(QuillonEngine &engine, SharedValues &shared, QWidget *parent)
    : PropertyPage(QStringLiteral("Show Spectrum"), QStringLiteral("show-spectrum"), parent),
      m_engine(engine), m_shared(shared)
{
    setObjectName(QStringLiteral("spectrumPage"));
    m_fftSize = usableFftSize(engine.settings().fftBlockSize);
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &SpectrumPage::drawLatestRow);
    buildControls();
}

SpectrumPage::~SpectrumPage()
{
    // The callback uses this object: no block may be in progress once it is gone.
    if (m_capturing)
        stopCapture();
    m_analyzer.deactivate();
}

int SpectrumPage::usableFftSize(int stored)
{
    return stored >= kMinFftSize ? std::min(stored, kMaxFftSize) : kDefaultFftSize;
}

void SpectrumPage::buildControls()
{
    m_view = new SpectrumView(this);

    m_passbandLabel = new QLabel(this);
    m_passbandLabel->setObjectName(QStringLiteral("passband"));
    m_passbandLabel->setTextInteractionFlags(Qt::TextSelectableByMouse); // to copy the figures
    m_readoutLabel = new QLabel(this);
    m_readoutLabel->setObjectName(QStringLiteral("cursorReadout"));
    m_readoutLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_readoutLabel->setMinimumWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("00000.0 Hz, -000.0 dB")) + 8);
    // Texts that change with every row must not widen the page (the window's size is fixed).
    // Two lines: the reading, then how far it can be trusted.
    m_passbandLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_passbandLabel->setMinimumHeight(2 * fontMetrics().lineSpacing());

    auto *vertical = new QGroupBox(tr("Vertical"), this);
    vertical->setObjectName(QStringLiteral("verticalGroup"));
    m_divisionsList = new QComboBox(vertical);
    m_divisionsList->setObjectName(QStringLiteral("divisions"));
    m_topList = new QComboBox(vertical);
    m_topList->setObjectName(QStringLiteral("topDb"));
    auto *divLabel = new QLabel(tr("Div"), vertical);
    divLabel->setBuddy(m_divisionsList);
    auto *topLabel = new QLabel(tr("dB Top"), vertical);
    topLabel->setBuddy(m_topList);
    auto *verticalRow = new QHBoxLayout(vertical);
    verticalRow->addWidget(divLabel);
    verticalRow->addWidget(m_divisionsList);
    verticalRow->addSpacing(12);
    verticalRow->addWidget(topLabel);
    verticalRow->addWidget(m_topList);

    m_averageBox = new QCheckBox(tr("Average"), this);
    m_averageBox->setObjectName(QStringLiteral("average"));

    auto *horizontal = new QGroupBox(tr("Horizontal"), this);
    horizontal->setObjectName(QStringLiteral("horizontalGroup"));
    m_spanList = new QComboBox(horizontal);
    m_spanList->setObjectName(QStringLiteral("span"));
    auto *horizontalRow = new QHBoxLayout(horizontal);
    horizontalRow->addWidget(m_spanList);

    auto *controls = new QHBoxLayout;
    controls->addWidget(vertical);
    controls->addSpacing(12);
    controls->addWidget(m_averageBox);
    controls->addSpacing(12);
    controls->addWidget(horizontal);
    controls->addStretch(1);
    controls->addWidget(m_readoutLabel, 0, Qt::AlignBottom);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 8);
    page->setSpacing(6);
    page->addWidget(m_view, 1);
    page->addWidget(m_passbandLabel);
    page->addLayout(controls);

    m_view->setResizeHandler([this] {
        m_plot.invalidateBackground();
        redraw();
    });
    m_view->setMouseHandler([this] { showReadout(); });
    connect(m_divisionsList, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            m_scale.divisions = index + 4;
            redraw();
        }
    });
    connect(m_topList, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            m_scale.topDb = -10 * index;
            redraw();
        }
    });
    connect(m_spanList, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            m_scale.span = static_cast<SpectrumSpan>(index);
            if (m_scale.span == SpectrumSpan::Passband)
                fitPassbandSpan(true);
            redraw();
        }
    });
    // No redraw: the next block is averaged (or not) from the history kept all along.
    connect(m_averageBox, &QCheckBox::clicked, this,
            [this](bool checked) { m_analyzer.setAveraging(checked); });
}

void SpectrumPage::initializePage()
{
    const QSignalBlocker blockDivisions(m_divisionsList), blockTop(m_topList),
        blockSpan(m_spanList);
    for (int d = 4; d <= 12; ++d)
        m_divisionsList->addItem(QString::number(d));
    m_divisionsList->setCurrentIndex(m_divisionsList->count() - 1);
    for (int top = 0; top >= -80; top -= 10)
        m_topList->addItem(QString::number(top));
    m_topList->setCurrentIndex(0);
    m_spanList->addItems({tr("Full Scan"), tr("0 - 4 KHz"), tr("0 - 1 KHz"), tr("Passband")});
    m_spanList->setCurrentIndex(0);
    m_scale = SpectrumScale{};
}

void SpectrumPage::activatePage()
{
    startCapture();
    redraw();
}

void SpectrumPage::deactivatePage()
{
    stopCapture();
    // Only now, with no block in progress, may the plan go.
    m_analyzer.deactivate();
}

void SpectrumPage::setFrameInterval(int ms)
{
    m_frameMs = ms;
    if (m_frameTimer.isActive())
        m_frameTimer.start(std::max(0, ms - static_cast<int>(m_lastFrame.elapsed())));
}

int SpectrumPage::sampleRate() const
{
    return m_engine.settings().sampleRate;
}

// ---- Capture start and stop (window thread) ----

void SpectrumPage::startCapture()
{
    // The plan, the window and a cleared history, then a hand-over with no row: the trace
    // reappears with the first block of this activation.
    m_fftSize = usableFftSize(m_engine.settings().fftBlockSize);
    const bool planned = m_analyzer.activate(m_fftSize, m_shared.averageCountLimited());
    m_analyzer.setAveraging(m_averageBox->isChecked());
    m_averageBox->setToolTip(
        tr("The mean of the last spectra: as many as the Number on Measure Noise (now %1)")
            .arg(m_analyzer.averageCount()));
    m_handover.reset();
    m_rowsDrawn = 0;
    m_delivered.store(0, std::memory_order_relaxed);
    m_computed.store(0, std::memory_order_relaxed);
    m_shownPassband = Passband{};
    m_shownError = PassbandError{};
    showPassband();

    WaveCapture &capture = m_engine.capture();
    capture.deriveFormat();
    if (!planned || !capture.probeDevice())
        return; // no trace and no message: frame, grid and labels only

    ++m_generation;
    const int generation = m_generation;
    const auto blockBytes = static_cast<std::uint32_t>(m_fftSize) * capture.format().blockAlign;
    const int rc = capture.startCaptureBytes(
        [this, generation](WaveCapture &c, CaptureHeader &h) { onBlock(c, h, generation); },
        blockBytes);
    if (rc != kCaptureOk) {
        showMessageBox(kMsgCannotOpenWaveDevice, this);
        return;
    }
    m_capturing = true;
}

void SpectrumPage::stopCapture()
{
    m_engine.capture().stopCapture();
    m_capturing = false;
    m_frameTimer.stop();
    m_lastFrame.invalidate();
    m_lastPassband.invalidate();
}

// ---- Block handling (delivery thread) ----

void SpectrumPage::onBlock(WaveCapture &capture, CaptureHeader &header, int generation)
{
    m_delivered.fetch_add(1, std::memory_order_relaxed);
    HighPass1kHz *filter = m_engine.settings().highPassFilter ? &m_engine.highPass() : nullptr;
    const bool ready =
        m_analyzer.processBlock(header.data, header.bytesRecorded, capture.format(), filter);
    // The samples are in the analyzer's own arrays now: the buffer can be filled again.
    capture.requeue(header);
    if (!ready)
        return;
    m_computed.fetch_add(1, std::memory_order_relaxed);
    // One queued repaint at a time: while one is waiting, it will pick this row up.
    if (m_handover.publish(m_analyzer.shownRow(), m_analyzer.shownInfo()))
        postToWindow(this, [this, generation] { onRowReady(generation); });
}

// ---- Window thread ----

void SpectrumPage::onRowReady(int generation)
{
    // A request of a capture that has been stopped (or replaced) finds nothing of its own.
    if (!m_capturing || generation != m_generation || m_frameTimer.isActive())
        return;
    if (m_lastFrame.isValid() && m_lastFrame.elapsed() < m_frameMs) {
        // Too soon for the screen. The request stays pending in the hand-over, so the
        // capture side posts no more until the timer has taken the newest row.
        m_frameTimer.start(m_frameMs - static_cast<int>(m_lastFrame.elapsed()));
        return;
    }
    drawLatestRow();
}

void SpectrumPage::drawLatestRow()
{
    if (!m_capturing || !m_handover.takeLatest())
        return; // an earlier repaint drew this row already
    m_lastFrame.start();
    ++m_rowsDrawn;
    const SpectrumRowInfo &info = m_handover.info();
    const bool passbandDue = !m_lastPassband.isValid() ||
                             m_lastPassband.elapsed() >= qint64{kFramesPerPassband} * m_frameMs;
    if (!passbandDue) {
        redraw();
        showReadout();
        return;
    }
    m_lastPassband.start();
    m_shownPassband = m_passbandAnalyzer.analyze(
        m_handover.row(), info.bins, static_cast<double>(info.sampleRate) / info.fftSize);
    m_shownError = passbandError(m_shownPassband, info.rowsAveraged);
    // Only a reading close enough for a noise-floor calculation reaches the Calculator; the
    // last such reading stays there.
    if (m_shownPassband.found && m_shownError.total <= kOfferableBandwidthError)
        m_shared.setMeasuredNoiseBandwidthHz(m_shownPassband.noiseBandwidthHz);
    fitPassbandSpan(false);
    showPassband();
    redraw();
    showReadout();
}

void SpectrumPage::redraw()
{
    QImage &image = m_view->image();
    if (image.isNull())
        return; // not laid out yet; the first resize draws
    const QColor background = m_view->palette().color(QPalette::Window);
    const QColor text = m_view->palette().color(QPalette::WindowText);
    const bool hasRow = m_handover.hasRow();
    const SpectrumRowInfo &info = m_handover.info();
    const SpectrumLayout layout(m_view->plotRect(), m_scale, hasRow ? info.fftSize : m_fftSize,
                                hasRow ? static_cast<int>(info.sampleRate) : sampleRate());
    // Frame, grid and labels come from the plot's cache unless the scale or size changed.
    const QRect changed = m_plot.render(image, layout, background, text, m_view->font(),
                                        hasRow ? m_handover.row() : nullptr,
                                        hasRow ? info.bins : 0);
    m_view->update(changed);
}

void SpectrumPage::fitPassbandSpan(bool fresh)
{
    const Passband &p = m_shownPassband;
    if (!p.found || !p.highEdgeFound) {
        if (fresh)
            m_scale.passbandSpanHz = 0; // the full scan until a passband is found
        return;
    }
    const int rate = m_handover.hasRow() ? static_cast<int>(m_handover.info().sampleRate)
                                         : sampleRate();
    const int fitted = passbandSpanHz(p.highEdgeHz, rate);
    // Once shown, the span follows the edge only when it leaves the plot or shrinks to less
    // than half of it: an edge near a whole kHz must not make the grid jump with every row.
    const int current = m_scale.passbandSpanHz;
    if (fresh || current == 0 || p.highEdgeHz > current || 2.0 * p.highEdgeHz < current) {
        if (fitted == current)
            return;
        m_scale.passbandSpanHz = fitted;
        if (!fresh && m_scale.span == SpectrumSpan::Passband)
            redraw();
    }
}

void SpectrumPage::showPassband()
{
    const Passband &p = m_shownPassband;
    if (!m_handover.hasRow()) {
        m_passbandLabel->setText(tr("Passband: waiting for a spectrum"));
        return;
    }
    if (!p.found) {
        m_passbandLabel->setText(tr("Passband: no power in the spectrum"));
        return;
    }
    const QString low = p.lowEdgeFound ? hzText(p.lowEdgeHz) : tr("below ") + hzText(p.lowEdgeHz);
    const QString high =
        p.highEdgeFound ? hzText(p.highEdgeHz) : tr("above ") + hzText(p.highEdgeHz);
    const int rows = m_handover.info().rowsAveraged;
    const int count = m_analyzer.averageCount();
    QString averaged;
    if (rows > 1)
        averaged = tr("mean of %1 spectra").arg(rows);
    else if (count > 1 && !m_analyzer.averaging())
        averaged = tr("one spectrum: tick Average for the mean of %1").arg(count);
    else if (count > 1)
        averaged = tr("one spectrum");
    else // "Average" has nothing to average: say where its count is set
        averaged = tr("one spectrum: Average takes the Number on Measure Noise, now 1");
    const QString lost = lostAudioNote(m_engine.capture());
    const PassbandError &e = m_shownError;
    const QString offered =
        e.total <= kOfferableBandwidthError
            ? tr("offered to the Calculator")
            : tr("not offered to the Calculator (%1 at most)")
                  .arg(percentText(kOfferableBandwidthError));
    m_passbandLabel->setText(
        tr("Passband (-3 dB): %1 to %2    Noise bandwidth: %3    (%4)")
            .arg(low, high, hzText(p.noiseBandwidthHz), averaged) +
        u'\n' +
        tr("Bins %1 apart (%2 of the bandwidth); error about %3: %4")
            .arg(hzText(p.binHz), percentText(p.binHz / p.noiseBandwidthHz),
                 percentText(e.total), offered) +
        (lost.isEmpty() ? QString() : QStringLiteral("    ") + lost));
}

void SpectrumPage::showReadout()
{
    const std::optional<QPoint> mouse = m_view->mouse();
    const bool hasRow = m_handover.hasRow();
    const SpectrumRowInfo &info = m_handover.info();
    const SpectrumLayout layout(m_view->plotRect(), m_scale, hasRow ? info.fftSize : m_fftSize,
                                hasRow ? static_cast<int>(info.sampleRate) : sampleRate());
    const int bins = hasRow ? info.bins : m_fftSize / 2;
    const int points = layout.points(bins);
    const int bin = mouse && mouse->y() >= layout.top() && mouse->y() <= layout.bottom()
                        ? layout.binAt(mouse->x(), points)
                        : -1;
    if (bin < 0) {
        // clear() repaints the label (and the tab frame behind it) even when it is empty
        // already: with every row that cost more than the trace.
        if (!m_readoutLabel->text().isEmpty())
            m_readoutLabel->clear();
        return;
    }
    QString text = hzText(bin * layout.binHz());
    if (hasRow) {
        const double dB = m_handover.row()[bin];
        text += std::isfinite(dB) ? QString::asprintf(", %.1f dB", dB) : tr(", no power");
    }
    m_readoutLabel->setText(text);
}

} // namespace quillon
