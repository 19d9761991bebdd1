#include "measure/SweepPlan.h"

#include "core/NumberText.h"

#include <charconv>
#include <cmath>

namespace quillon {

namespace {

double onWholeHertz(double mhz)
{
    return std::round(mhz * 1e6) / 1e6;
}

// Above 0 once on a whole hertz, at most 30000 MHz; false for NaN.
bool inRange(double mhz)
{
    return onWholeHertz(mhz) > 0.0 && mhz <= kSweepHighestMHz;
}

// "145.5 MHz", "0.000001 MHz": to the hertz, without trailing zeros.
std::string mhz(double v)
{
    std::string text = formatFixed(v, 6);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text + " MHz";
}

SweepPlanResult failed(SweepPlanError error, std::string message,
                       std::vector<double> &frequenciesMHz)
{
    frequenciesMHz.clear();
    return {error, std::move(message)};
}

std::string outOfRange(const char *what, double v)
{
    if (!std::isfinite(v))
        return std::string(what) + " is not a number.";
    return std::string(what) + " " + mhz(v) +
           " is outside the sweep range: above 0 and at most 30000 MHz.";
}

bool isSeparator(char c)
{
    return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

SweepPlanResult planSweep(double startMHz, double stopMHz, double stepMHz,
                          std::vector<double> &frequenciesMHz)
{
    frequenciesMHz.clear();
    if (!inRange(startMHz))
        return failed(SweepPlanError::OutOfRange, outOfRange("The start frequency", startMHz),
                      frequenciesMHz);
    if (!inRange(stopMHz))
        return failed(SweepPlanError::OutOfRange, outOfRange("The stop frequency", stopMHz),
                      frequenciesMHz);
    if (startMHz == stopMHz) {
        frequenciesMHz.push_back(onWholeHertz(startMHz));
        return {};
    }
    if (!std::isfinite(stepMHz))
        return failed(SweepPlanError::OutOfRange, "The step is not a number.", frequenciesMHz);
    // Points closer than a hertz would fall on the same hertz.
    if (!(std::fabs(stepMHz) >= 1e-6))
        return failed(SweepPlanError::StepZero,
                      "The step must be at least 0.000001 MHz (1 Hz) when start and stop "
                      "differ.",
                      frequenciesMHz);
    if ((stopMHz > startMHz) != (stepMHz > 0.0))
        return failed(SweepPlanError::StepAway,
                      std::string("The step must be ") +
                          (stepMHz > 0.0 ? "negative to go from " : "positive to go from ") +
                          mhz(startMHz) + (stepMHz > 0.0 ? " down to " : " up to ") + mhz(stopMHz) +
                          ".",
                      frequenciesMHz);
    // Checked as a double: a tiny step would overflow any integer.
    const double steps = std::floor((stopMHz - startMHz) / stepMHz + 1e-6);
    if (steps + 1.0 > kMaxSweepPoints)
        return failed(SweepPlanError::TooManyPoints,
                      "From " + mhz(startMHz) + " to " + mhz(stopMHz) + " in steps of " +
                          mhz(stepMHz) + " are more than " + std::to_string(kMaxSweepPoints) +
                          " points, the most a sweep takes.",
                      frequenciesMHz);
    const int count = static_cast<int>(steps) + 1;
    frequenciesMHz.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double f = onWholeHertz(startMHz + i * stepMHz);
        // Within a millionth of a step past stop (a point that rounding carried over it),
        // or a hertz rounding pushed out of range: the point is stop itself.
        if ((stepMHz > 0.0 && f > stopMHz) || (stepMHz < 0.0 && f < stopMHz))
            f = onWholeHertz(stopMHz);
        frequenciesMHz.push_back(f);
    }
    return {};
}

SweepPlanResult planSweepList(std::string_view text, std::vector<double> &frequenciesMHz)
{
    frequenciesMHz.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && isSeparator(text[pos]))
            ++pos;
        const std::size_t begin = pos;
        while (pos < text.size() && !isSeparator(text[pos]))
            ++pos;
        if (begin == pos)
            break;
        std::string_view entry = text.substr(begin, pos - begin);
        const std::string shown(entry);
        if (entry.front() == '+')
            entry.remove_prefix(1);
        double v = 0.0;
        const auto r = std::from_chars(entry.data(), entry.data() + entry.size(), v);
        if (r.ec != std::errc() || r.ptr != entry.data() + entry.size() || !std::isfinite(v))
            return failed(SweepPlanError::NotAFrequency,
                          "\"" + shown + "\" in the list is not a frequency in MHz.",
                          frequenciesMHz);
        if (!inRange(v))
            return failed(SweepPlanError::OutOfRange, outOfRange("The list's frequency", v),
                          frequenciesMHz);
        if (frequenciesMHz.size() == static_cast<std::size_t>(kMaxSweepPoints))
            return failed(SweepPlanError::TooManyPoints,
                          "The list has more than " + std::to_string(kMaxSweepPoints) +
                              " frequencies, the most a sweep takes.",
                          frequenciesMHz);
        frequenciesMHz.push_back(onWholeHertz(v));
    }
    if (frequenciesMHz.empty())
        return failed(SweepPlanError::EmptyList, "The list holds no frequency.", frequenciesMHz);
    return {};
}

} // namespace quillon
