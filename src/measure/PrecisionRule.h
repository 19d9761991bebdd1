#pragma once

#include "capture/ReadingStatistics.h"
#include "nf/NoiseResults.h"
#include "nf/Uncertainty.h"

#include <array>
#include <limits>

namespace quillon {

// Averaging to a precision: a modal reading keeps taking blocks, reading by reading, until
// the noise figure's statistical 95% half-width will be at most the target, or the
// reading's time is up. The rule is consulted after every counted block with the
// statistics as they stand; it decides only, it takes no blocks itself.
//
// How the target is shared: the noise figure's variance is the sum over the readings of
// (dNF / d ln P_i)^2 times reading i's relative variance, and a reading's relative variance
// falls as 1 / (its time). The least total time for a given variance gives every reading a
// time, and a share of the variance, in proportion to |dNF / d ln P_i|: so the readings
// the result hardly depends on (in device mode the system pair, divided by the DUT's gain)
// are taken briefly. The readings already taken in this series keep their share; the rest
// of the budget goes to those still to come by the same rule, and the last reading of a
// series stops exactly when the noise figure reaches the target. Once the readings taken
// have used up the whole budget, the others are given their usual share instead. The sensitivities come
// from the powers of this series, with the last series' values for readings still to come;
// while any is unknown (the first series), every reading counts 1 dB per dB.

// What the target bounds. A sky series (two readings, on the source and on cold sky) bounds
// its Y factor in dB: every result it gives moves with Y alone, and each reading moves Y by
// 10 / ln 10 dB per unit of ln P whatever the powers, so its shares are known from the
// first block (no pilot) and equal.
enum class PrecisionQuantity
{
    NoiseFigure,
    YFactor
};

struct PrecisionTarget
{
    double halfWidthDb = 0.05; // the statistical 95% half-width (noise figure or Y), dB, > 0
    double maxSeconds = 60.0;  // counted time of one reading, s
    int minBlocks = 2;         // blocks before the rule may stop a reading
};

// One reading of the Measure Device page, by number as in computeDeviceResults.
struct PrecisionReading
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    // Linear power: the running mean of the reading being taken, the mean of one taken in
    // this series, the last series' value of one still to come; NaN when not known.
    double power = kNaN;
    ReadingError error{kNaN, 0.0}; // running or final; ignored for one still to come
    int blocks = 0;                // counted blocks so far
    bool taken = false;            // taken in this series: its error is final
};

// The statistics of a reading as the rule wants them.
PrecisionReading precisionReading(const ReadingStatistics &s, bool taken);

enum class PrecisionVerdict
{
    Continue, // take another block
    Reached,  // this reading has its share
    TimeUp    // maxSeconds reached
};

struct PrecisionDecision
{
    PrecisionVerdict verdict = PrecisionVerdict::Continue;
    // The current reading's part of the noise figure's statistical 95% half-width (dB), and
    // the part it is to come down to: for the wait dialog, as it narrows. NaN before the
    // first block.
    double halfWidthDb = std::numeric_limits<double>::quiet_NaN();
    double goalDb = std::numeric_limits<double>::quiet_NaN();
};

// `current` is the reading being taken (0..3; 0 or 1 in system mode and for the Y factor),
// `elapsedSeconds` its counted time so far. ENR, T0 and TSoff as for computeDeviceResults
// (unused for the Y factor). Any thread: a pure function of its arguments, allocates nothing.
PrecisionDecision decidePrecision(const std::array<PrecisionReading, kDeviceReadingCount> &readings,
                                  int current, double elapsedSeconds, bool systemMode, double enrDb,
                                  double t0, double tsOff, const PrecisionTarget &target,
                                  PrecisionQuantity quantity = PrecisionQuantity::NoiseFigure);

} // namespace quillon
