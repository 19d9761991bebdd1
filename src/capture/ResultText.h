#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace quillon {

struct Settings;

// The text of one result field: with `asText` set the string-table entry `textId`
// (kMsgWait " Wait...", kMsgResultError " Error"); otherwise `value` with `decimals`
// decimals (0, 1, 2; any other count gives 3) after a leading blank, "." as the decimal
// point whatever the locale: " -37", " 12.500".
std::string resultText(bool asText, double value, int textId, int decimals);

// Measure Noise page: a dB reading (block, averaged or the current reading behind the
// relative one) shows " Wait..." instead of its number when it is exactly 0.0 or NaN.
bool showsWait(double reading);

// Measure Noise page: the crest factor shows " Error" when it is below 0, above 100 or NaN
// (a silent or empty block gives an infinite or undefined value).
bool showsCrestError(double crestFactor);

// The continuously capturing pages' note on audio lost since their capture started
// (WaveCapture::lostFrames and lostEvents at `sampleRate` Hz): "" when none was lost, else
// "Audio lost: 3 gaps, 32.0 ms" ("1 gap"). Milliseconds with one decimal, rounded up, so
// that a single lost frame never reads 0.0 ms.
std::string lostAudioText(std::uint64_t frames, std::uint64_t gaps, std::uint32_t sampleRate);

// The shown texts of one measurement, collected for its log line: each logged result adds
// its text and ",". The writer of a log line clears it before the results are shown and
// reads it afterwards. Appended on the capture delivery thread (Measure Noise callback) or
// the window thread (modal pages after their reading), so every access takes a short lock.
// Capacity is reserved once: appending allocates only for a line beyond kReservedChars.
class ResultLine
{
public:
    static constexpr std::size_t kReservedChars = 4096;

    ResultLine() { m_text.reserve(kReservedChars); }
    ResultLine(const ResultLine &) = delete;
    ResultLine &operator=(const ResultLine &) = delete;

    void clear();
    void append(std::string_view shown); // adds shown + ","
    std::string text() const;            // a copy, for callers that keep it
    std::size_t capacity() const;

    // Calls f(std::string_view) with the line under the lock, without copying it. f must
    // not touch this ResultLine.
    template <typename F> void read(F &&f) const
    {
        std::lock_guard lock(m_mutex);
        f(std::string_view(m_text));
    }

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

// ShowResult without the field: the text to put into the field, with the result added to
// `line` when `log` is set and "Log Measurements" (settings.logMeasurements) is on. Decimals
// come from settings.decimalPointsInResults.
std::string showResultText(bool asText, double value, int textId, bool log,
                           const Settings &settings, ResultLine &line);

} // namespace quillon
