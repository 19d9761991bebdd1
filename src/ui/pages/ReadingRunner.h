#pragma once

#include "measure/ModalReading.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

class QWidget;

namespace quillon {

class MeasuringNoiseDialog;
class QuillonEngine;

// Takes one modal reading for the Measure Device or Calibrate Noise Source page, on the
// window thread: stops any capture, arms the "Measuring Noise" dialog with the reading's
// label, starts the capture and runs the dialog modally until the reading ends.
//
// The capture thread only posts to the dialog (progress numbers, then the close with the
// reading's outcome) and never waits for the window thread. Runs are numbered by the dialog,
// so a close that a block posts after "Cancel" never closes a later reading's dialog.
//
// A reading ends, besides completing:
//   "Cancel" in the dialog, or abort() (page change, window close): no message;
//   an over-range block: "Error. Signal level too high.";
//   a device that does not open at the probe: no message; a capture that does not start, or
//   a device that delivers no block for stallLimit(): "I could not open the wave device to
//   read audio.".
// Whatever ends it, the capture is stopped before take() returns and no callback runs after.
class ReadingRunner
{
public:
    // `engine` and `dialog` must outlive the runner; messages are shown over `page`.
    ReadingRunner(QuillonEngine &engine, MeasuringNoiseDialog &dialog, QWidget *page);
    ~ReadingRunner();
    ReadingRunner(const ReadingRunner &) = delete;
    ReadingRunner &operator=(const ReadingRunner &) = delete;

    // Takes one reading; its mean linear power (full-scale units), or nothing when it failed
    // or was cancelled (the message, if any, has been shown).
    std::optional<double> take(const ReadingPlan &plan, const QString &label);

    // Ends a reading in progress: capture stopped at once, dialog closed as cancelled; take()
    // then returns nothing. No effect while no reading runs. Window thread.
    void abort();

    // After take() returned a power: the statistics of that reading's counted blocks.
    ReadingStatistics statistics() const { return m_reading.statistics(); }

    // Whether take() is running (its dialog is up).
    bool busy() const { return m_busy; }

    // How long a reading waits for the next block before it counts the device as failed:
    // three capture times and a second, at least two seconds.
    static std::chrono::milliseconds stallLimit(std::uint32_t captureTimeMs);

private:
    void watch();

    QuillonEngine &m_engine;
    MeasuringNoiseDialog &m_dialog;
    QWidget *m_page;
    ModalReading m_reading;
    bool m_busy = false;
    // The stall watch: blocks seen at the last look and when that number last changed.
    int m_lastBlocks = 0;
    std::chrono::steady_clock::time_point m_lastChange;
    std::chrono::milliseconds m_stallLimit{0};
};

} // namespace quillon
