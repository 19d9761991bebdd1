#pragma once

#include "measure/DeviceResultsText.h"
#include "measure/ResultUncertainty.h"
#include "nf/Corrections.h"
#include "measure/SeriesDrift.h"
#include "nf/NoiseResults.h"

#include <array>
#include <cstdint>
#include <string>

namespace quillon {

class EnrTable;
class MeasurementLog;
class ResultLine;
struct Settings;

// The four readings of one kind of series and what follows each completed one: the
// evaluation, the log line, the readings' errors and warnings, and the uncertainty of the
// results. Window thread (the CLI's main thread, the sweep's worker).
//
//   Device       Measure Device: 0 noise source ON and 1 OFF with the DUT out of circuit
//                (the system, or reference, pair), 2 ON and 3 OFF with the DUT in circuit;
//                in system mode only 0 and 1. Completed readings write "NF" lines.
//   Calibration  Calibrate Noise Source: 0 reference source ON, 1 OFF, 2 unknown source ON,
//                3 OFF. Completed readings write "ENR" lines.
//   Sky          Antenna and Sky: 0 the antenna on the source (Sun, Moon or ground), 1 on
//                cold sky; no switching, the user points the antenna. Nothing is evaluated or
//                logged per reading: the pair gives one "SKY" line (SkyMeasurement).
enum class SeriesKind
{
    Device,
    Calibration,
    Sky
};

// Everything an evaluation uses besides the readings.
struct SeriesConditions
{
    SeriesKind kind = SeriesKind::Device;
    bool systemMode = false;     // Device: only readings 0 and 1, no gain
    double enrDb = 0.0;          // the (reference) source's ENR in effect, dB
    double t0 = 290.0;           // K
    double tsOff = 293.0;        // K, the (reference) source's off temperature
    double tsOffUnknown = 293.0; // K, Calibration: the off temperature of the source calibrated
    // Device: the losses around the DUT and the converter, resolved at the frequency measured
    // (resolveCorrections); `enrDb` is then the ENR at the receiver's frequency. The results,
    // their uncertainty and the log line's end follow them; nothing set = uncorrected.
    ChainCorrections corrections;
};

// One evaluation; only the part of the series' kind is filled.
struct SeriesEvaluation
{
    bool complete = false; // the readings the kind (and mode) needs are all present
    DeviceResults device;
    DeviceResultTexts deviceTexts;
    CalibrationResults calibration;
    CalibrationResultTexts calibrationTexts;
    // What the reading's log line carries after it: "Not Calculated." while not complete.
    std::string logText;
};

// The uncertainty of an evaluation's results; only the part of the series' kind is filled.
struct SeriesUncertainty
{
    bool complete = false;
    DeviceResultsUncertainty device;
    CalibrationUncertainty calibration;
    DriftTerm drift; // the drift term in the totals; zero where the blocks resolve none
};

// The stated 95% half-widths in effect: the ENR's from the ENR file's third column where the
// file gives one at `entry` (a frequency in MHz while `useEnrFile`), else `typedEnrDb`; the
// off temperature's `typedTsOffK`. A value that is negative or not a number counts as 0
// (exactly known). Every caller (the two reading pages, quillon-cli, the sweep) takes its
// stated uncertainties from here.
StatedUncertainty statedUncertainty(double entry, bool useEnrFile, const EnrTable &table,
                                    double typedEnrDb, double typedTsOffK);

class SeriesReadings
{
public:
    explicit SeriesReadings(SeriesKind kind = SeriesKind::Device) : m_kind(kind) {}

    SeriesKind kind() const { return m_kind; }
    double power(int i) const { return m_power[index(i)]; }
    bool present(int i) const { return m_present[index(i)]; }
    // "Clear current readings": the present flags only; the powers stay until overwritten.
    void clearPresent() { m_present = {}; }

    // The results of the readings present, shown (texts into `line`) as the page shows them.
    SeriesEvaluation evaluate(const SeriesConditions &conditions, const Settings &settings,
                              ResultLine &line) const;

    // Reading i has completed with mean linear power `power` (full-scale units): it is stored
    // and marked present, its error and warnings cleared (set them with setQuality), the
    // results evaluated into `evaluation`, and while settings.logMeasurements is on one "NF"
    // or "ENR" line goes to settings.logResultsFile. Returns kMsgNone, or kMsgCannotOpenLog
    // when the line could not be written; the reading stays stored and evaluated either way.
    int complete(int i, double power, const SeriesConditions &conditions, const Settings &settings,
                 ResultLine &line, const MeasurementLog &log, SeriesEvaluation &evaluation);

    // What the statistics of reading i tell: its error for the uncertainty, and its warnings
    // (with the lost-audio one when the device dropped `lostFrames` frames between its blocks).
    void setQuality(int i, const ReadingStatistics &statistics, std::uint64_t lostFrames = 0);
    // The same for a reading taken in two halves: each half judged on its own (halvesError;
    // a warning of either half is the reading's).
    void setQualityOfHalves(int i, const ReadingStatistics &first, const ReadingStatistics &second,
                            std::uint64_t lostFrames = 0);
    ReadingError error(int i) const { return m_error[index(i)]; }
    // When reading i's counted blocks were taken (the series runner's clock); cleared by
    // complete(). The drift of the readings present enters their uncertainty and warnings.
    void setTimeline(int i, ReadingTimeline timeline)
    {
        m_timeline[index(i)] = std::move(timeline);
    }
    const ReadingTimeline &timeline(int i) const { return m_timeline[index(i)]; }
    DriftEstimate drift() const { return estimateDrift(m_timeline, m_present); }
    const ReadingWarnings &warnings(int i) const { return m_warnings[index(i)]; }
    // The warnings of the readings present, merged, with the series' drift.
    ReadingWarnings warnings() const { return warningsOf(m_present); }

    // The uncertainty of the results evaluate() gives.
    SeriesUncertainty uncertainty(const SeriesConditions &conditions,
                                  const StatedUncertainty &stated) const;

    // The same three from the readings in `only` alone (a pass cut short: its own readings,
    // not those left from the pass before). No texts, no log.
    SeriesEvaluation evaluateOnly(const std::array<bool, kDeviceReadingCount> &only,
                                  const SeriesConditions &conditions) const;
    SeriesUncertainty uncertaintyOnly(const std::array<bool, kDeviceReadingCount> &only,
                                      const SeriesConditions &conditions,
                                      const StatedUncertainty &stated) const;
    ReadingWarnings warningsOnly(const std::array<bool, kDeviceReadingCount> &only) const
    {
        return warningsOf(only);
    }

private:
    static std::size_t index(int i) { return static_cast<std::size_t>(i); }
    SeriesEvaluation results(const std::array<bool, kDeviceReadingCount> &present,
                             const SeriesConditions &c) const;
    ReadingWarnings warningsOf(const std::array<bool, kDeviceReadingCount> &present) const;
    SeriesUncertainty uncertaintyOf(const std::array<bool, kDeviceReadingCount> &present,
                                    const SeriesConditions &c,
                                    const StatedUncertainty &stated) const;

    SeriesKind m_kind;
    std::array<double, kDeviceReadingCount> m_power{};
    std::array<bool, kDeviceReadingCount> m_present{};
    std::array<ReadingError, kDeviceReadingCount> m_error{};
    std::array<ReadingWarnings, kDeviceReadingCount> m_warnings{};
    std::array<ReadingTimeline, kDeviceReadingCount> m_timeline{};
};

} // namespace quillon
