#include "measure/ReadingSeries.h"

#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/MeasurementLog.h"

#include <cmath>

namespace quillon {

int nextDeviceReading(int button, int last, const DeviceSeriesFlags &flags)
{
    if (last < 0)
        return button >= 0 && button < kDeviceReadingCount ? button : -1;
    const bool dutPair = !flags.systemMode && flags.dutSwitch; // the series goes on to the DUT
    switch (last) {
    case 0: // only button 0 starts here
        if (flags.noiseGen)
            return 1;
        return dutPair ? 2 : -1;
    case 1:
        if (!dutPair)
            return -1;
        return button == 0 ? 2 : 3; // button 1 moves its own OFF reading to the DUT
    case 2:
        return flags.noiseGen ? 3 : -1;
    default:
        return -1;
    }
}

int nextCalibrationReading(int button, int last, bool noiseGen)
{
    if (last < 0)
        return button >= 0 && button < kDeviceReadingCount ? button : -1;
    const bool pairStart = last == button && (button == 0 || button == 2);
    return pairStart && noiseGen ? last + 1 : -1;
}

namespace {

double readingDb(double power)
{
    return 10.0 * std::log10(power);
}

} // namespace

DeviceEvaluation DeviceReadings::evaluate(const DeviceConditions &c, const Settings &settings,
                                          ResultLine &line) const
{
    DeviceEvaluation e;
    e.results = computeDeviceResults(m_power, m_present, c.systemMode, c.enrDb, c.t0, c.tsOff);
    e.texts = showDeviceResults(e.results, settings, line);
    return e;
}

int DeviceReadings::complete(int i, double power, const DeviceConditions &conditions,
                             const Settings &settings, ResultLine &line, const MeasurementLog &log,
                             DeviceEvaluation &evaluation)
{
    m_power[static_cast<std::size_t>(i)] = power;
    m_present[static_cast<std::size_t>(i)] = true;
    m_error[static_cast<std::size_t>(i)] = {};
    m_warnings[static_cast<std::size_t>(i)] = {};
    evaluation = evaluate(conditions, settings, line);
    if (!settings.logMeasurements)
        return kMsgNone;
    return log.appendNf(settings.logResultsFile, nfReadingLabel(i), readingDb(power),
                        evaluation.texts.logText);
}

CalibrationEvaluation CalibrationReadings::evaluate(const CalibrationConditions &c,
                                                    const Settings &settings,
                                                    ResultLine &line) const
{
    CalibrationEvaluation e;
    e.results = computeCalibrationResults(m_power, m_present, c.enrDb, c.tsOffReference,
                                          c.tsOffUnknown, c.t0);
    e.texts = showCalibrationResults(e.results, settings, line);
    return e;
}

int CalibrationReadings::complete(int i, double power, const CalibrationConditions &conditions,
                                  const Settings &settings, ResultLine &line,
                                  const MeasurementLog &log, CalibrationEvaluation &evaluation)
{
    m_power[static_cast<std::size_t>(i)] = power;
    m_present[static_cast<std::size_t>(i)] = true;
    m_error[static_cast<std::size_t>(i)] = {};
    m_warnings[static_cast<std::size_t>(i)] = {};
    evaluation = evaluate(conditions, settings, line);
    if (!settings.logMeasurements)
        return kMsgNone;
    return log.appendEnr(settings.logResultsFile, enrReadingLabel(i), readingDb(power),
                         evaluation.texts.logText);
}

void DeviceReadings::setQuality(int i, const ReadingStatistics &statistics)
{
    m_error[static_cast<std::size_t>(i)] = readingError(statistics);
    m_warnings[static_cast<std::size_t>(i)] = checkReading(statistics);
}

DeviceResultsUncertainty DeviceReadings::uncertainty(const DeviceConditions &c,
                                                     const StatedUncertainty &stated) const
{
    return computeDeviceUncertainty(m_power, m_error, m_present, c.systemMode, c.enrDb, c.t0,
                                    c.tsOff, stated);
}

void CalibrationReadings::setQuality(int i, const ReadingStatistics &statistics)
{
    m_error[static_cast<std::size_t>(i)] = readingError(statistics);
    m_warnings[static_cast<std::size_t>(i)] = checkReading(statistics);
}

CalibrationUncertainty CalibrationReadings::uncertainty(const CalibrationConditions &c,
                                                        const StatedUncertainty &stated) const
{
    return calibrationUncertainty(m_power, m_error, m_present, c.enrDb, c.tsOffReference,
                                  c.tsOffUnknown, c.t0, stated);
}

} // namespace quillon
