#pragma once

#include "capture/ReadingStatistics.h"

#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace quillon {

// Checks of one reading's statistics for the faults that spoil a Y-factor measurement
// without making it fail outright. Pure functions: statistics in, a verdict out; a page or
// the CLI shows the texts beside the result. Each check is tuned to stay silent on steady
// Gaussian receiver noise (false alarms well below one in a thousand readings).

inline constexpr std::string_view kSettlingWarningText =
    "level still settling after the switch \u2014 add dummy reads";
inline constexpr std::string_view kCompressionWarningText =
    "the receiver may be compressing or its AGC is on";
inline constexpr std::string_view kHeadroomWarningText =
    "the peak is above half of full scale \u2014 little headroom is left";
inline constexpr std::string_view kInterferenceWarningText = "a tone or hum is in the passband";
inline constexpr std::string_view kLostAudioWarningText =
    "audio was lost during the reading \u2014 the computer was too busy";

// The first counted block's sub-block powers trend up or down (|t| above 5 on 14 degrees of
// freedom): an AGC recovering or a filter ringing after the switch.
bool isSettling(const ReadingStatistics &s);

// The level moves from block to block beyond what the noise explains: the blocks spread
// (normal score above 4) or follow a trend (|t| above 5). Needs 2 or 3 blocks.
bool isLevelMoving(const ReadingStatistics &s);

// The peaks are missing: the crest factor is more than 10% below the least that Gaussian
// noise of this many effective samples reaches (one reading in a thousand goes lower), or,
// when the kurtosis is below 3, below what Gaussian noise plus a steady tone of that
// kurtosis reaches. Clipping and limiting flatten the peaks; a tone lowers both numbers
// together and is left to hasInterference.
bool isCompressed(const ReadingStatistics &s);

// Peak above half of full scale (over 0.98 the reading fails as over range anyway).
bool lacksHeadroom(const ReadingStatistics &s);

// The kurtosis is off 3 by more than 5 standard errors (the batch-means error, but not less
// than 0.6 of the most Gaussian noise gives) and nothing else explains it: below
// 3 without compression (a steady tone has 1.5, mixed into noise between), above 3 without
// a settling or moving level (clicks, bursts).
bool hasInterference(const ReadingStatistics &s);

// A spectral line in a spectrum row: the strongest bin over the median bin, in dB. Pass only
// the bins of the receiver's passband (the stop band would pull the median down); NaN for
// fewer than 8 bins or a median of 0.
double spectralLineDb(std::span<const double> passbandBinPowers);
// Above this a line stands out of a single (unaveraged) row of up to a few thousand noise
// bins: their largest is about ln(bins) / ln 2 times the median, 10.8 dB for 4096.
inline constexpr double kSpectralLineLimitDb = 15.0;

// The verdict on one reading; spectralLine is spectralLineDb of the reading's spectrum row,
// or NaN when there is none.
struct ReadingWarnings
{
    bool settling = false;
    bool compression = false; // compressed, or the level moving (an AGC at work)
    bool headroom = false;
    bool interference = false;
    bool lostAudio = false; // the device dropped audio between the reading's blocks
    // A series' warning, not a reading's: the receiver's gain drift over the series in dB
    // when it is significant (isDriftSignificant), else NaN.
    double driftDb = std::numeric_limits<double>::quiet_NaN();
    bool drift() const { return driftDb == driftDb; }
    bool any() const
    {
        return settling || compression || headroom || interference || lostAudio || drift();
    }
};
ReadingWarnings checkReading(const ReadingStatistics &s,
                             double spectralLine = std::numeric_limits<double>::quiet_NaN());

// The warnings' texts in the order above (the drift's by driftWarningText), one per line
// (no line end after the last); empty when there is none.
std::string warningText(const ReadingWarnings &w);

// The crest factor that Gaussian noise of n independent samples falls below with
// probability `probability`: the largest of n |N(0,1)| values is below t with probability
// (1 - 2 Q(t))^n.
double gaussianPeakFloor(double n, double probability);

} // namespace quillon
