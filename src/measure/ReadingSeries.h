#pragma once

#include "measure/DeviceResultsText.h"
#include "measure/ResultUncertainty.h"
#include "nf/NoiseResults.h"

#include <array>

namespace quillon {

class MeasurementLog;
class ResultLine;
struct Settings;

// The series of modal readings that one "Measure" press takes, and the four readings of the
// Measure Device and Calibrate Noise Source pages with what follows each completed one.
// Shared by the two pages and quillon-cli measure. Window thread (the CLI's main thread).

// What decides the Measure Device series; the caller reads it afresh before every step.
struct DeviceSeriesFlags
{
    bool noiseGen = false;   // noise-source automation ("Noise Gen")
    bool dutSwitch = false;  // DUT automation ("DUT switch")
    bool systemMode = false; // "Overall System Noise Figure": only readings 0 and 1
};

// The reading that follows `last` in the series of the "Measure" button of reading `button`
// (0..3), or -1 when the series is over; `last` = -1 gives the button's own reading.
//   button 0: 0, then 1 with noise-source automation, then in device mode with DUT
//             automation 2, and after it 3 with noise-source automation
//   button 1: 1, then 3 in device mode with DUT automation
//   button 2: 2, then 3 with noise-source automation
//   button 3: 3
// With both automations on, button 0 takes 0, 1, 2, 3 (0, 1 in system mode).
int nextDeviceReading(int button, int last, const DeviceSeriesFlags &flags);

// Calibrate Noise Source: the button of reading 0 or 2 takes its reading and then, with
// "Noise Gen", its OFF partner (1 or 3); the buttons of 1 and 3 take their own reading only.
int nextCalibrationReading(int button, int last, bool noiseGen);

// Everything a Measure Device evaluation uses besides the readings.
struct DeviceConditions
{
    bool systemMode = false;
    double enrDb = 0.0;   // the ENR in effect, dB
    double t0 = 290.0;    // K
    double tsOff = 293.0; // K, the noise source's off temperature
};

struct DeviceEvaluation
{
    DeviceResults results;
    DeviceResultTexts texts;
};

// The four Measure Device readings: linear powers (full-scale units) and which are present.
class DeviceReadings
{
public:
    double power(int i) const { return m_power[static_cast<std::size_t>(i)]; }
    bool present(int i) const { return m_present[static_cast<std::size_t>(i)]; }
    // "Clear current readings": the present flags only; the powers stay until overwritten.
    void clearPresent() { m_present = {}; }

    // computeDeviceResults on the readings present, shown with showDeviceResults into `line`.
    DeviceEvaluation evaluate(const DeviceConditions &conditions, const Settings &settings,
                              ResultLine &line) const;

    // Reading i has completed with mean linear power `power`: it is stored and marked present,
    // the results are evaluated into `evaluation`, and while settings.logMeasurements is on one
    // "NF" line goes to settings.logResultsFile (the reading's label, its dB, the evaluation's
    // log text). Returns kMsgNone, or kMsgCannotOpenLog when the line could not be written; the
    // reading stays stored and evaluated either way.
    int complete(int i, double power, const DeviceConditions &conditions, const Settings &settings,
                 ResultLine &line, const MeasurementLog &log, DeviceEvaluation &evaluation);

    // What the statistics of reading i tell: its error for the uncertainty of the results,
    // and its warnings. complete() clears them (a power alone carries no error); set them
    // after it.
    void setQuality(int i, const ReadingStatistics &statistics);
    ReadingError error(int i) const { return m_error[static_cast<std::size_t>(i)]; }
    const ReadingWarnings &warnings(int i) const { return m_warnings[static_cast<std::size_t>(i)]; }
    // The warnings of the readings present, merged.
    ReadingWarnings warnings() const { return mergedWarnings(m_warnings, m_present); }
    // The uncertainty of the results evaluate() gives, from the readings' errors.
    DeviceResultsUncertainty uncertainty(const DeviceConditions &conditions,
                                         const StatedUncertainty &stated) const;

private:
    std::array<double, kDeviceReadingCount> m_power{};
    std::array<bool, kDeviceReadingCount> m_present{};
    std::array<ReadingError, kDeviceReadingCount> m_error{};
    std::array<ReadingWarnings, kDeviceReadingCount> m_warnings{};
};

// Everything a Calibrate Noise Source evaluation uses besides the readings.
struct CalibrationConditions
{
    double enrDb = 0.0;            // the reference source's ENR in effect, dB
    double tsOffReference = 293.0; // K
    double tsOffUnknown = 293.0;   // K, the source being calibrated
    double t0 = 290.0;             // K
};

struct CalibrationEvaluation
{
    CalibrationResults results;
    CalibrationResultTexts texts;
};

// The four Calibrate Noise Source readings, as DeviceReadings; completed readings write "ENR"
// lines.
class CalibrationReadings
{
public:
    double power(int i) const { return m_power[static_cast<std::size_t>(i)]; }
    bool present(int i) const { return m_present[static_cast<std::size_t>(i)]; }
    void clearPresent() { m_present = {}; }

    CalibrationEvaluation evaluate(const CalibrationConditions &conditions,
                                   const Settings &settings, ResultLine &line) const;
    int complete(int i, double power, const CalibrationConditions &conditions,
                 const Settings &settings, ResultLine &line, const MeasurementLog &log,
                 CalibrationEvaluation &evaluation);

    // What the statistics of reading i tell: its error for the uncertainty of the results,
    // and its warnings. complete() clears them (a power alone carries no error); set them
    // after it.
    void setQuality(int i, const ReadingStatistics &statistics);
    ReadingError error(int i) const { return m_error[static_cast<std::size_t>(i)]; }
    const ReadingWarnings &warnings(int i) const { return m_warnings[static_cast<std::size_t>(i)]; }
    // The warnings of the readings present, merged.
    ReadingWarnings warnings() const { return mergedWarnings(m_warnings, m_present); }
    CalibrationUncertainty uncertainty(const CalibrationConditions &conditions,
                                       const StatedUncertainty &stated) const;

private:
    std::array<double, kDeviceReadingCount> m_power{};
    std::array<bool, kDeviceReadingCount> m_present{};
    std::array<ReadingError, kDeviceReadingCount> m_error{};
    std::array<ReadingWarnings, kDeviceReadingCount> m_warnings{};
};

} // namespace quillon
