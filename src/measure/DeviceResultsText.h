#pragma once

#include "nf/NoiseResults.h"

#include <string>
#include <string_view>

namespace quillon {

class ResultLine;
struct Settings;

// Result of the log line when the readings a mode needs are not all present.
inline constexpr std::string_view kNotCalculated = "Not Calculated.";
// Leads the results of a system-mode log line, where the gain is not measured.
inline constexpr std::string_view kGainNotMeasured = "Gain Not Measured";

// The switch outputs of Measure Device reading 0..3: noise source on for 0 and 2, DUT in
// circuit for 2 and 3.
struct DeviceSwitchState
{
    bool noiseOn = false;
    bool dutIn = false;
};
inline DeviceSwitchState deviceReadingSwitches(int reading)
{
    return {reading == 0 || reading == 2, reading == 2 || reading == 3};
}

// The text of a reading field: 10 log10 of the mean power, " Error" below 1e-12 or NaN.
std::string readingText(double power, int decimals);

// The shown texts of one computeDeviceResults evaluation and the result text of its log line.
struct DeviceResultTexts
{
    bool complete = false;
    std::string gain; // empty in system mode (the field is emptied) and when not complete
    std::string te, f, nf;
    // What an "NF" line carries after the reading: "Not Calculated." when not complete,
    // otherwise the result line as the evaluation left it.
    std::string logText;
};

// Shows the results as the Measure Device page does: starts `line` afresh, then (device
// mode) the gain, failing gainInRange, and Te, F, NF, all three failing temperatureInRange,
// each added to `line` while settings.logMeasurements is on; in system mode the line starts
// with "Gain Not Measured,". Decimals from settings.decimalPointsInResults. Window thread.
DeviceResultTexts showDeviceResults(const DeviceResults &results, const Settings &settings,
                                    ResultLine &line);

// The "Computed ENR" text of one Calibrate Noise Source evaluation and what its "ENR" line
// carries: "Not Calculated." while a reading is missing (the field keeps its text, `enr` is
// empty); otherwise the ENR, " Error" when it fails enrInRange, and the line holds that text
// and "," while settings.logMeasurements is on. Starts `line` afresh. Window thread.
struct CalibrationResultTexts
{
    bool complete = false;
    std::string enr;
    std::string logText;
};
CalibrationResultTexts showCalibrationResults(const CalibrationResults &results,
                                              const Settings &settings, ResultLine &line);

} // namespace quillon
