#include "capture/ResultText.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"

#include <cmath>

namespace quillon {

std::string resultText(bool asText, double value, int textId, int decimals)
{
    if (asText)
        return messageText(textId);
    if (decimals < 0 || decimals > 2)
        decimals = 3;
    std::string text(1, ' ');
    text += formatFixed(value, decimals);
    return text;
}

bool showsWait(double reading)
{
    return reading == 0.0 || std::isnan(reading);
}

bool showsCrestError(double crestFactor)
{
    return crestFactor < 0.0 || crestFactor > 100.0 || std::isnan(crestFactor);
}

void ResultLine::clear()
{
    std::lock_guard lock(m_mutex);
    m_text.clear(); // keeps the capacity
}

void ResultLine::append(std::string_view shown)
{
    std::lock_guard lock(m_mutex);
    m_text.append(shown);
    m_text.push_back(',');
}

std::string ResultLine::text() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

std::size_t ResultLine::capacity() const
{
    std::lock_guard lock(m_mutex);
    return m_text.capacity();
}

std::string showResultText(bool asText, double value, int textId, bool log,
                           const Settings &settings, ResultLine &line)
{
    std::string shown = resultText(asText, value, textId, settings.decimalPointsInResults);
    if (log && settings.logMeasurements)
        line.append(shown);
    return shown;
}

std::string lostAudioText(std::uint64_t frames, std::uint64_t gaps, std::uint32_t sampleRate)
{
    if (frames == 0 && gaps == 0)
        return {};
    // Tenths of a millisecond, rounded up.
    const std::uint64_t tenths =
        sampleRate > 0 ? (frames * 10000 + sampleRate - 1) / sampleRate : 0;
    std::string text = "Audio lost: " + std::to_string(gaps) + (gaps == 1 ? " gap, " : " gaps, ");
    text += std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10) + " ms";
    return text;
}

} // namespace quillon
