#include "measure/SeriesDrift.h"

#include "core/NumberText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace quillon {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDbPerNeper = 10.0 / std::numbers::ln10;
} // namespace

void ReadingTimeline::addBlocks(double firstMid, double blockSeconds, int count,
                                std::span<const double> powers)
{
    for (int j = 0; j < count; ++j) {
        const double t = firstMid + j * blockSeconds;
        if (m_blocks == 0)
            m_first = t;
        m_last = t;
        ++m_blocks;
        m_sum += t;
        m_sumSquares += t * t;
        const auto k = static_cast<std::size_t>(j);
        if (k < powers.size()) {
            m_times.push_back(t);
            m_powers.push_back(powers[k]);
        }
    }
}

double ReadingTimeline::meanTime() const
{
    return m_blocks > 0 ? m_sum / m_blocks : kNaN;
}

double ReadingTimeline::timeVariance() const
{
    if (m_blocks == 0)
        return kNaN;
    const double mean = meanTime();
    return std::max(m_sumSquares / m_blocks - mean * mean, 0.0);
}

double ReadingTimeline::firstTime() const
{
    return m_blocks > 0 ? m_first : kNaN;
}

double ReadingTimeline::lastTime() const
{
    return m_blocks > 0 ? m_last : kNaN;
}

DriftEstimate estimateDrift(const std::array<ReadingTimeline, kDeviceReadingCount> &timelines,
                            const std::array<bool, kDeviceReadingCount> &present)
{
    DriftEstimate d;
    // Within every reading: ln P about its mean against t about its mean, pooled.
    std::array<double, kDeviceReadingCount> meanT{}, meanY{};
    std::array<bool, kDeviceReadingCount> used{};
    double stt = 0.0, sty = 0.0;
    int n = 0, levels = 0;
    double first = std::numeric_limits<double>::infinity();
    double last = -first;
    for (std::size_t k = 0; k < timelines.size(); ++k) {
        const ReadingTimeline &r = timelines[k];
        if (!present[k] || r.blocks() == 0)
            continue;
        first = std::min(first, r.firstTime());
        last = std::max(last, r.lastTime());
        const std::size_t m = r.times().size();
        bool usable = m > 0;
        for (const double p : r.powers())
            usable = usable && p > 0.0 && std::isfinite(p);
        if (!usable)
            continue;
        for (std::size_t i = 0; i < m; ++i) {
            meanT[k] += r.times()[i];
            meanY[k] += std::log(r.powers()[i]);
        }
        meanT[k] /= static_cast<double>(m);
        meanY[k] /= static_cast<double>(m);
        for (std::size_t i = 0; i < m; ++i) {
            const double dt = r.times()[i] - meanT[k];
            stt += dt * dt;
            sty += dt * (std::log(r.powers()[i]) - meanY[k]);
        }
        n += static_cast<int>(m);
        ++levels;
        used[k] = true;
    }
    const int degrees = n - levels - 1;
    if (!(stt > 0.0) || degrees < 2)
        return d;
    const double rate = sty / stt;
    double residual = 0.0;
    for (std::size_t k = 0; k < timelines.size(); ++k) {
        const ReadingTimeline &r = timelines[k];
        if (!used[k])
            continue;
        for (std::size_t i = 0; i < r.times().size(); ++i) {
            const double e = std::log(r.powers()[i]) - meanY[k] - rate * (r.times()[i] - meanT[k]);
            residual += e * e;
        }
    }
    d.known = true;
    d.rate = rate;
    d.rateStandard = std::sqrt(residual / degrees / stt);
    d.degrees = degrees;
    d.spanSeconds = last > first ? last - first : 0.0;
    d.driftDb = rate * d.spanSeconds * kDbPerNeper;
    d.resolved = isDriftResolved(d.rate, d.rateStandard, d.degrees);
    d.significant = isDriftSignificant(d.rate, d.rateStandard, d.degrees, d.driftDb);

    // Biases about the mean time of the readings present: the results take ratios of the
    // powers, so the reference time drops out of them.
    double reference = 0.0;
    int counted = 0;
    for (std::size_t k = 0; k < timelines.size(); ++k)
        if (present[k] && timelines[k].blocks() > 0) {
            reference += timelines[k].meanTime();
            ++counted;
        }
    reference /= counted;
    for (std::size_t k = 0; k < timelines.size(); ++k) {
        if (!present[k] || timelines[k].blocks() == 0)
            continue;
        const double t = timelines[k].meanTime() - reference;
        const double v = timelines[k].timeVariance();
        d.term.bias[k] = rate * t + rate * rate * v / 2.0;
        d.term.slope[k] = t + rate * v;
    }
    d.term.rateStandard = d.rateStandard;
    return d;
}

bool isDriftResolved(double rate, double rateStandard, double degrees)
{
    return rateStandard > 0.0 && std::isfinite(rate) &&
           std::fabs(rate) > coverageFactor95(degrees) * rateStandard;
}

bool isDriftSignificant(double rate, double rateStandard, double degrees, double driftDb)
{
    if (!(rateStandard > 0.0) || !std::isfinite(rate))
        return false;
    return std::fabs(rate) > 1.7 * coverageFactor95(degrees) * rateStandard &&
           std::fabs(driftDb) >= kDriftWarningDb;
}

std::string driftWarningText(double driftDb)
{
    return "receiver gain drifted by " + formatFixed(driftDb, 2) + " dB during the series";
}

} // namespace quillon
