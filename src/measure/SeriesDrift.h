#pragma once

#include "nf/Uncertainty.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace quillon {

// A drift of the receiver's gain during a series, seen in the readings' own blocks. Pure
// functions; any thread.
//
// Time is the series' clock in seconds of audio: the blocks the capture delivered (dummy
// reads included), so that the bench at any speed and a real sound card count alike. The
// gain is taken as exp(rate t), linear in dB: ln P of every counted block is its state's
// level plus rate t. The rate is the slope of ln P against t fitted within every reading
// (each reading its own level, one common slope), so that what differs between switch
// states never looks like drift. In the drift-cancelling order the ON reading's two halves
// lie on both sides of its OFF partner, and the fit is then mostly their difference over
// the time between them.

// When the counted blocks of one reading were taken, and their powers.
class ReadingTimeline
{
public:
    // Appends `count` consecutive counted blocks, the first centred at `firstMid` s, each
    // `blockSeconds` long; `powers` holds the linear powers of those of them that are
    // stored (the first 32 of the reading), in order.
    void addBlocks(double firstMid, double blockSeconds, int count, std::span<const double> powers);

    int blocks() const { return m_blocks; }
    // Mid-times of the first and last counted block, s; NaN with none.
    double firstTime() const;
    double lastTime() const;
    // Mean and variance of the mid-times of all counted blocks, s and s^2; NaN with none.
    double meanTime() const;
    double timeVariance() const;
    // The stored blocks (mid-time s, linear power), in the order taken.
    const std::vector<double> &times() const { return m_times; }
    const std::vector<double> &powers() const { return m_powers; }

private:
    int m_blocks = 0;
    double m_sum = 0.0;
    double m_sumSquares = 0.0;
    double m_first = 0.0;
    double m_last = 0.0;
    std::vector<double> m_times;
    std::vector<double> m_powers;
};

struct DriftEstimate
{
    bool known = false;        // enough blocks for a slope and its scatter
    double rate = 0.0;         // d ln(gain) / dt, 1/s
    double rateStandard = 0.0; // its standard uncertainty, 1/s
    double degrees = 0.0;      // of the scatter behind it
    double spanSeconds = 0.0;  // first to last counted block of the readings
    double driftDb = 0.0;      // rate x span in dB of power: the drift over the series
    bool resolved = false;     // isDriftResolved: the term enters the uncertainty
    bool significant = false;  // isDriftSignificant: the warning
    // The readings' biases about the mean time of their blocks, for the uncertainty.
    DriftTerm term;
};

// From the readings present. Nothing known with fewer than 2 degrees of freedom left once
// every reading's level and the slope are fitted.
DriftEstimate estimateDrift(const std::array<ReadingTimeline, kDeviceReadingCount> &timelines,
                            const std::array<bool, kDeviceReadingCount> &present);

// The blocks show a drift: the rate is off zero by more than its 95% half-width. Only then
// does the drift term enter the total; below, the rate is the readings' own noise, which
// the statistical part already counts.
bool isDriftResolved(double rate, double rateStandard, double degrees);

// The drift is real and large enough to say: the rate is off zero by more than 1.7 times
// its 95% half-width (3.3 standard uncertainties with many degrees of freedom: about one
// false alarm in a thousand steady series), and the drift over the series is at least
// kDriftWarningDb either way.
inline constexpr double kDriftWarningDb = 0.05;
bool isDriftSignificant(double rate, double rateStandard, double degrees, double driftDb);

// "receiver gain drifted by 0.15 dB during the series": the drift over the series in dB,
// two decimals, negative for a falling gain.
std::string driftWarningText(double driftDb);

} // namespace quillon
