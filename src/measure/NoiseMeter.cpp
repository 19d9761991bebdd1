#include "measure/NoiseMeter.h"

#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/ResultText.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/SharedValues.h"

#include <cmath>
#include <string_view>

namespace quillon {

NoiseMeter::NoiseMeter(const Settings &settings, HighPass1kHz &filter, ResultLine &line,
                       const SharedValues &shared)
    : m_settings(settings), m_filter(filter), m_line(line), m_shared(shared)
{}

void NoiseMeter::restart()
{
    m_history.clearWrapped(); // with the block counter reset by the start: a fresh average
    m_logFailing = false;
}

void NoiseMeter::setLogClock(LocalClock clock)
{
    m_log = MeasurementLog(std::move(clock));
}

void NoiseMeter::setSwitchStates(bool noiseOn, bool dutIn)
{
    m_noiseOn.store(noiseOn, std::memory_order_relaxed);
    m_dutIn.store(dutIn, std::memory_order_relaxed);
}

bool NoiseMeter::storeReference()
{
    const double current = m_currentReading.load(std::memory_order_relaxed);
    if (std::isnan(current))
        return false;
    m_storedValue.store(current, std::memory_order_relaxed);
    m_storedValid.store(true, std::memory_order_release);
    return true;
}

void NoiseMeter::clearReference()
{
    m_storedValid.store(false, std::memory_order_release);
}

int NoiseMeter::evaluate(const std::uint8_t *data, std::size_t bytes, const CaptureFormat &format,
                         int position, MeterTexts &texts)
{
    const Settings &settings = m_settings;
    m_line.clear();

    HighPass1kHz *filter = settings.highPassFilter ? &m_filter : nullptr;
    const BlockStats stats = measureBlock(data, bytes, format, filter);

    const bool averaging = m_shared.averaging();
    const double current =
        m_history.addReading(position, stats.dB, averaging, m_shared.averageCount());
    m_history.advance(position);
    m_currentReading.store(current, std::memory_order_relaxed);

    // The texts in the order of the log line: dB, average, (relative, never logged), crest.
    texts.position = position;
    texts.dB = showResultText(showsWait(stats.dB), stats.dB, kMsgWait, true, settings, m_line);
    texts.averaged.clear();
    if (averaging)
        texts.averaged =
            showResultText(showsWait(current), current, kMsgWait, true, settings, m_line);
    texts.relative.clear();
    if (m_storedValid.load(std::memory_order_acquire)) {
        const double relative = current - m_storedValue.load(std::memory_order_relaxed);
        texts.relative = showResultText(showsWait(current) || std::isnan(relative), relative,
                                        kMsgWait, false, settings, m_line);
    }
    texts.crest =
        showResultText(showsCrestError(stats.C), stats.C, kMsgResultError, true, settings, m_line);

    if (!settings.logMeasurements)
        return kMsgNone;
    int rc = kMsgNone;
    m_line.read([&](std::string_view results) {
        rc = m_log.appendMeasure(settings.logResultsFile, noiseOn(), dutIn(), results);
    });
    const bool firstFailure = rc != kMsgNone && !m_logFailing;
    m_logFailing = rc != kMsgNone;
    return firstFailure ? rc : kMsgNone;
}

} // namespace quillon
