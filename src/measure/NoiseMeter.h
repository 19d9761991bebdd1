#pragma once

#include "capture/ReadingHistory.h"
#include "measure/MeasurementLog.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

class HighPass1kHz;
class ResultLine;
class SharedValues;
struct CaptureFormat;
struct Settings;

// The shown texts of one block of the continuous meter, in the order of the log line. Short
// texts: they stay within std::string's inline buffer, so building them allocates nothing.
struct MeterTexts
{
    int position = 0;     // the block's position in its capture (0 = first)
    std::string dB;       // the block's level
    std::string averaged; // empty: averaging was off for this block
    std::string relative; // empty: no stored reference
    std::string crest;
};

// The continuous noise-power meter of the Measure Noise page, without its window: each block
// is measured (with the shared filter when it is on), averaged over the last blocks (the
// shared averaging flag and count), compared with the stored reference, turned into the
// field texts, and, with "Log Measurements" on, appended to the log as a "Measure" line.
//
// Threads: evaluate() runs on the capture delivery thread; everything else on the window
// thread. The reference, the switch states and the current reading are atomics; the clock
// and the history's entries are touched only while no capture runs, or only by evaluate().
class NoiseMeter
{
public:
    NoiseMeter(const Settings &settings, HighPass1kHz &filter, ResultLine &line,
               const SharedValues &shared);

    // Before a capture starts: a fresh running average, and the log's failure state reset,
    // so the first failure of the new capture is reported again.
    void restart();

    // Where the log lines take their time from. Only while no capture runs.
    void setLogClock(LocalClock clock);

    // The switch states written into "Measure" lines.
    void setSwitchStates(bool noiseOn, bool dutIn);
    bool noiseOn() const { return m_noiseOn.load(std::memory_order_relaxed); }
    bool dutIn() const { return m_dutIn.load(std::memory_order_relaxed); }

    // "Store": keeps the current reading as the reference; false (nothing kept) while the
    // current reading is not yet a number (" Wait..."), since a NaN reference would spoil
    // every later relative reading.
    bool storeReference();
    void clearReference();

    // Delivery thread. Measures one block of `bytes` bytes in `format` at capture position
    // `position` and fills `texts`. Returns kMsgNone, or the log's message number for the
    // first block of a run of blocks whose line could not be written: the caller shows one
    // message per failure, not one per block, and the meter keeps measuring either way.
    int evaluate(const std::uint8_t *data, std::size_t bytes, const CaptureFormat &format,
                 int position, MeterTexts &texts);

private:
    const Settings &m_settings;
    HighPass1kHz &m_filter;
    ResultLine &m_line;
    const SharedValues &m_shared;
    MeasurementLog m_log;
    ReadingHistory m_history; // entries: delivery thread only

    std::atomic<bool> m_noiseOn{false};
    std::atomic<bool> m_dutIn{false};
    std::atomic<double> m_currentReading{0.0};
    // The reference value is written before the valid flag (release); evaluate() reads the
    // flag (acquire) before the value.
    std::atomic<double> m_storedValue{0.0};
    std::atomic<bool> m_storedValid{false};
    // Set by a block whose log line failed, cleared by one that was written (delivery
    // thread), and by restart() while no capture runs.
    bool m_logFailing = false;
};

} // namespace quillon
