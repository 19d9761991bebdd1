#include "spectrum/SpectrumAnalyzer.h"

#include "capture/HighPass.h"
#include "capture/Level.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillon {

namespace {

// The little-endian sample at `p`, sign-extended.
template <int Bytes> std::int32_t decodeSample(const std::uint8_t *p)
{
    if constexpr (Bytes == 2) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    } else {
        const std::uint32_t raw =
            std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
        return static_cast<std::int32_t>(raw << 8) >> 8; // sign-extend from bit 23
    }
}

// in(i) = sample(i) * w(i) * s for the first channel of frames 0 .. n-1.
template <int Bytes>
void windowSamples(const std::uint8_t *p, std::size_t stride, int n, const double *w, double s,
                   double *in)
{
    for (int i = 0; i < n; ++i, p += stride)
        in[i] = static_cast<double>(decodeSample<Bytes>(p)) * w[i] * s;
}

} // namespace

int clampAverageCount(int count)
{
    return std::clamp(count, 1, kSpectrumHistoryRows);
}

void makeHannWindow(double *w, int n)
{
    if (n < 2)
        return;
    const double last = static_cast<double>(n - 1);
    for (int i = 0; i < n; ++i)
        w[i] = 0.5 - 0.5 * std::cos(6.283185308 * static_cast<double>(i) / last);
}

SpectrumAnalyzer::SpectrumAnalyzer()
    : m_window(std::make_unique<double[]>(kMaxFftSize)),
      m_rows(std::make_unique<double[]>((kSpectrumHistoryRows + 1) * (kMaxFftSize / 2 + 1))),
      m_sums(std::make_unique<double[]>(kMaxShownBins)),
      m_silentRows(std::make_unique<std::int8_t[]>(kMaxShownBins))
{
}

bool SpectrumAnalyzer::activate(int fftSize, int averageCount)
{
    m_plan = FftPlan(); // the old plan goes before the new one is made
    m_blocks = 0;
    m_row = 1;
    m_wrapped = false;
    m_averageCount = clampAverageCount(averageCount);
    m_info = SpectrumRowInfo{};
    if (fftSize < kMinFftSize || fftSize > kMaxFftSize)
        return false;
    m_plan = FftPlan(fftSize);
    if (!m_plan.valid())
        return false;
    makeHannWindow(m_window.get(), fftSize);
    m_stride = static_cast<std::size_t>(m_plan.binCount());
    std::fill_n(m_rows.get(), m_stride * (kSpectrumHistoryRows + 1), 0.0);
    std::fill_n(m_sums.get(), kMaxShownBins, 0.0);
    std::fill_n(m_silentRows.get(), kMaxShownBins, std::int8_t{0});
    return true;
}

void SpectrumAnalyzer::deactivate()
{
    m_plan = FftPlan();
}

void SpectrumAnalyzer::loadBlock(const std::uint8_t *block, const CaptureFormat &format)
{
    const int n = m_plan.size();
    const double s = fullScaleFactor(format.bitsPerSample);
    const std::size_t stride = std::size_t{format.bitsPerSample / 8u} * format.channels;
    if (format.bitsPerSample == 16)
        windowSamples<2>(block, stride, n, m_window.get(), s, m_plan.input());
    else
        windowSamples<3>(block, stride, n, m_window.get(), s, m_plan.input());
}

void SpectrumAnalyzer::filterInput(HighPass1kHz &filter)
{
    double *in = m_plan.input();
    const int n = m_plan.size();
    // Preset from the first input value, which the window makes 0: the filter starts every
    // block from rest. HighPassRun steps bit for bit as the filter itself does.
    filter.presetHighPass(in[0]);
    HighPassRun run(filter);
    for (int i = 0; i < n; ++i)
        in[i] = run.step(in[i]);
    run.storeInto(filter);
}

void SpectrumAnalyzer::addToSums(const double *values, int sign)
{
    const int shown = shownBins();
    double *sum = m_sums.get();
    std::int8_t *silent = m_silentRows.get();
    for (int k = 0; k < shown; ++k) {
        if (std::isinf(values[k]))
            silent[k] = static_cast<std::int8_t>(silent[k] + sign);
        else
            sum[k] += sign * values[k];
    }
}

void SpectrumAnalyzer::recomputeSums()
{
    std::fill_n(m_sums.get(), shownBins(), 0.0);
    std::fill_n(m_silentRows.get(), shownBins(), std::int8_t{0});
    for (int r = 1; r <= m_averageCount; ++r)
        addToSums(row(r), +1);
}

void SpectrumAnalyzer::updateShownRow(bool averaging)
{
    const int shown = shownBins();
    double *out = row(0);
    // With averaging, rows 1 .. m: until the history wraps the rows written so far (r = m),
    // afterwards the whole history of the averaging count. Exactly the rows in the sums.
    const int m = averaging ? (m_wrapped ? m_averageCount : m_row) : 1;
    m_info.rowsAveraged = m;
    if (m == 1) {
        std::copy_n(row(averaging ? 1 : m_row), shown, out);
        return;
    }
    const double rows = static_cast<double>(m);
    const double *sum = m_sums.get();
    const std::int8_t *silent = m_silentRows.get();
    for (int k = 0; k < shown; ++k)
        out[k] = silent[k] != 0 ? -std::numeric_limits<double>::infinity() : sum[k] / rows;
}

bool SpectrumAnalyzer::processBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                                    const CaptureFormat &format, HighPass1kHz *filter)
{
    if (!m_plan.valid() || block == nullptr)
        return false;
    if (format.bitsPerSample != 16 && format.bitsPerSample != 24)
        return false;
    const std::size_t frameSize = std::size_t{format.bitsPerSample / 8u} * format.channels;
    const int n = m_plan.size();
    if (frameSize == 0 || bytesRecorded / frameSize < static_cast<std::size_t>(n))
        return false; // a short block would mix in samples of an earlier block

    loadBlock(block, format);
    if (filter != nullptr)
        filterInput(*filter);
    m_plan.execute();

    double *power = row(m_row);
    if (m_wrapped)
        addToSums(power, -1); // the oldest row leaves the average
    m_plan.power(power);
    const double size = static_cast<double>(n);
    const int bins = m_plan.binCount();
    for (int k = 0; k < bins; ++k)
        power[k] = 10.0 * std::log10(power[k] / size); // log10(0) = -inf: no power
    addToSums(power, +1);

    updateShownRow(averaging());
    m_info.block = m_blocks++;
    m_info.fftSize = n;
    m_info.bins = shownBins();
    m_info.sampleRate = format.samplesPerSec;

    if (++m_row > m_averageCount) {
        m_row = 1;
        m_wrapped = true;
        recomputeSums(); // once per turn, so that rounding cannot build up over hours
    }
    return true;
}

} // namespace quillon
