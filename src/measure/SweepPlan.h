#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The frequencies of a sweep, MHz. A sweep visits them in order; each lies on a whole hertz,
// above 0 and at most 30000 MHz (the frequency range of ENR calibration files).
inline constexpr double kSweepHighestMHz = 30000.0;
inline constexpr int kMaxSweepPoints = 10000;

enum class SweepPlanError
{
    None = 0,
    OutOfRange,    // a frequency not above 0 or above 30000 MHz; a start, stop or step not a number
    StepZero,      // a step under 1 Hz (0 included) between different start and stop
    StepAway,      // the step's sign leads away from the stop frequency
    TooManyPoints, // more than kMaxSweepPoints
    EmptyList,     // a list without a frequency
    NotAFrequency, // a list entry that is not a number
};

// The outcome of planning: on failure a sentence for the user, e.g. "The step must be
// negative to go from 146 MHz down to 144 MHz." The window or quillon-cli shows it.
struct SweepPlanResult
{
    SweepPlanError error = SweepPlanError::None;
    std::string message; // empty on success

    bool ok() const { return error == SweepPlanError::None; }
};

// start, start + step, start + 2 step, ... up to stop inclusive (MHz). Each point is
// computed from start (no running sum) and rounded to the hertz; stop counts as reached
// when it is within a millionth of a step of a point, so 144 to 146 in steps of 0.1 gives
// 21 points ending at 146 whatever the rounding of 0.1. A stop between two points ends the
// sweep at the point before it. Start above stop sweeps down with a negative step; equal
// start and stop give the one point whatever the step. On failure `frequenciesMHz` is empty.
SweepPlanResult planSweep(double startMHz, double stopMHz, double stepMHz,
                          std::vector<double> &frequenciesMHz);

// An explicit list: frequencies in MHz separated by commas, semicolons or white space, in
// the order given (repeats allowed). "." is the only decimal point, so "144,5" is two
// frequencies, 144 and 5 MHz; each entry must be a number as a whole ("145k" is not).
SweepPlanResult planSweepList(std::string_view text, std::vector<double> &frequenciesMHz);

} // namespace quillon
