#pragma once

#include <QString>
#include <QWidget>

#include <cstddef>
#include <deque>
#include <limits>
#include <vector>

namespace quillon {

// One point of the live view's trend: a readout as it was shown.
struct LiveTrendPoint
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    double seconds = 0.0; // since Start, s
    double nfDb = kNaN;   // the noise figure shown (the DUT's, or the system's without a
                          // calibration), dB
    double gainDb = kNaN; // the DUT's gain, dB; NaN without a calibration
    // The average behind it was full (as many groups as the smoothing): only such points
    // can be the best, as one that averages fewer groups scatters further.
    bool full = true;
};

// The live view's trend strip data: the points of the last `span` seconds and the best
// (lowest) noise figure seen since the last reset, which outlives the span. Window thread.
class LiveTrend
{
public:
    // At most this many points are kept whatever the span (a readout updated faster than
    // expected cannot grow the memory): the oldest go first.
    static constexpr std::size_t kMaxPoints = 4096;

    explicit LiveTrend(double spanSeconds = 300.0) : m_span(spanSeconds) {}

    double spanSeconds() const { return m_span; }

    // Adds a point and drops those more than the span older than it. A point earlier than
    // the last one (a new run) starts the trend afresh; the best stays.
    void add(const LiveTrendPoint &point);
    // Empties the trend and the best (what is shown changed meaning: system to DUT).
    void clear();

    const std::deque<LiveTrendPoint> &points() const { return m_points; }

    // The best so far: the lowest finite noise figure of a full point added since the last
    // resetBest (or clear), with the time and gain of its point.
    bool hasBest() const { return m_hasBest; }
    const LiveTrendPoint &best() const { return m_best; }
    void resetBest() { m_hasBest = false; }

private:
    double m_span;
    std::deque<LiveTrendPoint> m_points;
    LiveTrendPoint m_best;
    bool m_hasBest = false;
};

// One labelled tick of the trend's time axis.
struct TimeTick
{
    double seconds = 0.0;
    QString label; // "30 s", "2 min"
};

// The ticks between `from` and `to` (s since Start): in seconds ("30 s") while the range is
// under two minutes, else in whole minutes ("4 min"); a step of 1, 2, 5, 10, 15 or 30 s, or
// 1, 2, 5 or 10 min, the smallest that gives at most six ticks. Empty for an empty range.
std::vector<TimeTick> timeTicks(double from, double to);

// The painted trend strip: NF over gain against time since Start, the best so far as a
// dashed line with its value. Draws the trend it is given, which the page owns; the page
// calls update() when it adds a point. Window thread.
class LiveTrendStrip : public QWidget
{
public:
    explicit LiveTrendStrip(const LiveTrend &trend, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const LiveTrend &m_trend;
};

} // namespace quillon
