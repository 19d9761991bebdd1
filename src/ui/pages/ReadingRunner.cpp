#include "ui/pages/ReadingRunner.h"

#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/QuillonEngine.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"

#include <QTimer>

#include <algorithm>

namespace quillon {

namespace {

// Result code of the wait dialog when the stall watch ends the reading (the reading's own
// codes are ModalReading's outcomes, Cancel is MeasuringNoiseDialog::kCancelled).
constexpr int kDeviceStalled = 3;
static_assert(kDeviceStalled != MeasuringNoiseDialog::kCancelled &&
              kDeviceStalled != ModalReading::kOutcomeComplete &&
              kDeviceStalled != ModalReading::kOutcomeOverRange);

// How often the window thread looks for new blocks while the dialog is up.
constexpr std::chrono::milliseconds kWatchInterval{100};

} // namespace

ReadingRunner::ReadingRunner(QuillonEngine &engine, MeasuringNoiseDialog &dialog, QWidget *page)
    : m_engine(engine), m_dialog(dialog), m_page(page),
      m_reading(engine.capture(), engine.settings(), engine.highPass())
{
    // Delivery thread: both hooks only post to the dialog, never wait.
    m_reading.setProgressHook([&dialog](ReadingProgress p) { dialog.postProgress(p); });
    m_reading.setFinishedHook([&dialog](int outcome) { dialog.postClose(outcome); });
}

ReadingRunner::~ReadingRunner()
{
    m_reading.stop(); // no block may reach the hooks once the runner is gone
}

std::chrono::milliseconds ReadingRunner::stallLimit(std::uint32_t captureTimeMs)
{
    const auto limit = std::chrono::milliseconds(3 * std::int64_t{captureTimeMs} + 1000);
    return std::max(limit, std::chrono::milliseconds(2000));
}

std::optional<double> ReadingRunner::take(const ReadingPlan &plan, const QString &label)
{
    if (m_busy)
        return std::nullopt; // one reading at a time
    m_busy = true;
    m_dialog.arm(label); // before the start: a fast device may end the reading at once
    const int rc = m_reading.start(plan);
    if (rc != kMsgNone) {
        m_reading.stop();
        m_busy = false;
        if (rc != ModalReading::kProbeFailed)
            showMessageBox(rc, m_page);
        return std::nullopt;
    }

    m_lastBlocks = 0;
    m_lastChange = std::chrono::steady_clock::now();
    m_stallLimit = stallLimit(m_engine.settings().captureTimeMs);
    QTimer watchTimer;
    watchTimer.setInterval(kWatchInterval);
    QObject::connect(&watchTimer, &QTimer::timeout, [this] { watch(); });
    watchTimer.start();
    const int code = m_dialog.runModal();
    watchTimer.stop();
    // From here on no callback runs for this reading, so its powers and outcome are stable.
    m_reading.stop();
    m_busy = false;

    if (code == kDeviceStalled) {
        showMessageBox(kMsgCannotOpenWaveDevice, m_page);
        return std::nullopt;
    }
    // Cancel, abort(), or an event loop told to quit: the reading counts as cancelled even
    // if its last block arrived meanwhile.
    if (code != ModalReading::kOutcomeComplete && code != ModalReading::kOutcomeOverRange)
        return std::nullopt;
    if (m_reading.outcome() == ModalReading::kOutcomeOverRange) {
        showMessageBox(kMsgSignalTooHigh, m_page);
        return std::nullopt;
    }
    if (m_reading.outcome() != ModalReading::kOutcomeComplete)
        return std::nullopt;
    return m_reading.meanPower();
}

void ReadingRunner::abort()
{
    if (!m_busy)
        return;
    m_reading.stop(); // joins the delivery thread: no callback after this
    m_dialog.reject();
}

void ReadingRunner::watch()
{
    const auto now = std::chrono::steady_clock::now();
    const int seen = m_reading.blocksSeen();
    if (seen != m_lastBlocks || m_reading.finished()) {
        m_lastBlocks = seen;
        m_lastChange = now;
        return;
    }
    if (now - m_lastChange > m_stallLimit) {
        m_lastChange = now; // one close request per stall
        m_dialog.postClose(kDeviceStalled);
    }
}

} // namespace quillon
