#include "measure/SeriesReadings.h"

#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/CorrectionSettings.h"
#include "measure/MeasurementLog.h"
#include "nf/EnrTable.h"

#include <cmath>

namespace quillon {

StatedUncertainty statedUncertainty(double entry, bool useEnrFile, const EnrTable &table,
                                    double typedEnrDb, double typedTsOffK)
{
    double enr = enrUncertaintyForEntry(entry, useEnrFile, table);
    if (!std::isfinite(enr))
        enr = typedEnrDb;
    const auto known = [](double v) { return std::isfinite(v) && v > 0.0 ? v : 0.0; };
    return {known(enr), known(typedTsOffK)};
}

SeriesEvaluation SeriesReadings::results(const std::array<bool, kDeviceReadingCount> &present,
                                         const SeriesConditions &c) const
{
    SeriesEvaluation e;
    if (m_kind == SeriesKind::Sky) {
        e.complete = present[0] && present[1];
    } else if (m_kind == SeriesKind::Device) {
        e.device = correctDeviceResults(m_power, present, c.systemMode, c.enrDb, c.t0, c.tsOff,
                                        c.corrections);
        e.complete = e.device.complete;
    } else {
        e.calibration = computeCalibrationResults(m_power, present, c.enrDb, c.tsOff,
                                                  c.tsOffUnknown, c.t0);
        e.complete = e.calibration.complete;
    }
    return e;
}

SeriesEvaluation SeriesReadings::evaluate(const SeriesConditions &c, const Settings &settings,
                                          ResultLine &line) const
{
    SeriesEvaluation e = results(m_present, c);
    if (m_kind == SeriesKind::Sky) {
        // The sky results need the page's flux, beam and temperatures: SkyMeasurement.
    } else if (m_kind == SeriesKind::Device) {
        e.deviceTexts = showDeviceResults(e.device, settings, line);
        e.logText = e.deviceTexts.logText;
        // The corrections go after the results, the line unchanged up to there.
        const ChainCorrections applied = appliedCorrections(c.corrections, c.systemMode);
        if (e.complete && applied.any()) {
            if (!e.logText.empty() && e.logText.back() != ',')
                e.logText += ',';
            e.logText += correctionsLogText(applied);
        }
    } else {
        e.calibrationTexts = showCalibrationResults(e.calibration, settings, line);
        e.logText = e.calibrationTexts.logText;
    }
    return e;
}

SeriesEvaluation SeriesReadings::evaluateOnly(const std::array<bool, kDeviceReadingCount> &only,
                                              const SeriesConditions &c) const
{
    return results(only, c);
}

int SeriesReadings::complete(int i, double power, const SeriesConditions &conditions,
                             const Settings &settings, ResultLine &line, const MeasurementLog &log,
                             SeriesEvaluation &evaluation)
{
    m_power[index(i)] = power;
    m_present[index(i)] = true;
    m_error[index(i)] = {};
    m_warnings[index(i)] = {};
    m_timeline[index(i)] = {};
    evaluation = evaluate(conditions, settings, line);
    if (!settings.logMeasurements || m_kind == SeriesKind::Sky)
        return kMsgNone;
    const double db = 10.0 * std::log10(power);
    return m_kind == SeriesKind::Device
               ? log.appendNf(settings.logResultsFile, nfReadingLabel(i), db, evaluation.logText)
               : log.appendEnr(settings.logResultsFile, enrReadingLabel(i), db,
                               evaluation.logText);
}

void SeriesReadings::setQuality(int i, const ReadingStatistics &statistics,
                                 std::uint64_t lostFrames)
{
    m_error[index(i)] = readingError(statistics);
    m_warnings[index(i)] = checkReading(statistics);
    m_warnings[index(i)].lostAudio = lostFrames > 0;
}

void SeriesReadings::setQualityOfHalves(int i, const ReadingStatistics &first,
                                        const ReadingStatistics &second, std::uint64_t lostFrames)
{
    m_error[index(i)] = halvesError(first, second);
    const std::array<ReadingWarnings, kDeviceReadingCount> halves{checkReading(first),
                                                                 checkReading(second)};
    m_warnings[index(i)] = mergedWarnings(halves, {true, true, false, false});
    m_warnings[index(i)].lostAudio = lostFrames > 0;
}

SeriesUncertainty
SeriesReadings::uncertaintyOf(const std::array<bool, kDeviceReadingCount> &present,
                              const SeriesConditions &c, const StatedUncertainty &stated) const
{
    SeriesUncertainty u;
    const DriftEstimate drift = estimateDrift(m_timeline, present);
    const DriftTerm term = drift.known && drift.resolved ? drift.term : DriftTerm{};
    u.drift = term;
    if (m_kind == SeriesKind::Sky) {
        // SkyMeasurement propagates the two readings' errors itself.
    } else if (m_kind == SeriesKind::Device) {
        u.device = correctedDeviceUncertainty(m_power, m_error, present, c.systemMode, c.enrDb,
                                              c.t0, c.tsOff, stated, c.corrections, term);
        u.complete = u.device.complete;
    } else {
        u.calibration = calibrationUncertainty(m_power, m_error, present, c.enrDb, c.tsOff,
                                               c.tsOffUnknown, c.t0, stated, term);
        u.complete = u.calibration.complete;
    }
    return u;
}

ReadingWarnings
SeriesReadings::warningsOf(const std::array<bool, kDeviceReadingCount> &present) const
{
    ReadingWarnings w = mergedWarnings(m_warnings, present);
    const DriftEstimate drift = estimateDrift(m_timeline, present);
    if (drift.significant)
        w.driftDb = drift.driftDb;
    return w;
}

SeriesUncertainty SeriesReadings::uncertainty(const SeriesConditions &c,
                                              const StatedUncertainty &stated) const
{
    return uncertaintyOf(m_present, c, stated);
}

SeriesUncertainty SeriesReadings::uncertaintyOnly(const std::array<bool, kDeviceReadingCount> &only,
                                                  const SeriesConditions &c,
                                                  const StatedUncertainty &stated) const
{
    return uncertaintyOf(only, c, stated);
}

} // namespace quillon
