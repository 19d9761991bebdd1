#include "bench/BenchFaults.h"

#include "bench/BenchStoreValues.h"
#include "core/NumberText.h"

#include <QSettings>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace quillon {

namespace {

using benchstore::inRangeOr;
using benchstore::numberText;
using benchstore::readNumber;

bool readFlag(const QSettings &s, const char *key, bool fallback)
{
    return readNumber(s, key, fallback ? 1.0 : 0.0) != 0.0;
}

QString flagText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// The compression's knee and ceiling, as fractions of full scale.
constexpr double kKnee = 0.5;
constexpr double kCeiling = 0.97;
// The AGC gain's limits: a silent input must not make it infinite.
constexpr double kAgcMinGain = 0.01;
constexpr double kAgcMaxGain = 100.0;

} // namespace

BenchFaults sanitized(const BenchFaults &f)
{
    const BenchFaults d;
    BenchFaults r = f;
    r.agcTimeConstantMs = inRangeOr(f.agcTimeConstantMs, 1.0, 10000.0, d.agcTimeConstantMs);
    r.gainDriftDbPerMinute = inRangeOr(f.gainDriftDbPerMinute, -60.0, 60.0, d.gainDriftDbPerMinute);
    r.toneHz = inRangeOr(f.toneHz, 1.0, 48000.0, d.toneHz);
    r.toneDbfs = inRangeOr(f.toneDbfs, -120.0, -3.0, d.toneDbfs);
    return r;
}

void loadBenchFaults(QSettings &settings, BenchFaults &faults)
{
    const BenchFaults d;
    BenchFaults f;
    f.agcOn = readFlag(settings, "AgcOn", d.agcOn);
    f.agcTimeConstantMs = readNumber(settings, "AgcTimeConstantMs", d.agcTimeConstantMs);
    f.compressionOn = readFlag(settings, "CompressionOn", d.compressionOn);
    f.gainDriftDbPerMinute = readNumber(settings, "GainDriftDbPerMinute", d.gainDriftDbPerMinute);
    f.toneOn = readFlag(settings, "ToneOn", d.toneOn);
    f.toneHz = readNumber(settings, "ToneHz", d.toneHz);
    f.toneDbfs = readNumber(settings, "ToneDbfs", d.toneDbfs);
    faults = sanitized(f);
}

void saveBenchFaults(QSettings &settings, const BenchFaults &f)
{
    settings.setValue(QLatin1String("AgcOn"), flagText(f.agcOn));
    settings.setValue(QLatin1String("AgcTimeConstantMs"), numberText(f.agcTimeConstantMs));
    settings.setValue(QLatin1String("CompressionOn"), flagText(f.compressionOn));
    settings.setValue(QLatin1String("GainDriftDbPerMinute"), numberText(f.gainDriftDbPerMinute));
    settings.setValue(QLatin1String("ToneOn"), flagText(f.toneOn));
    settings.setValue(QLatin1String("ToneHz"), numberText(f.toneHz));
    settings.setValue(QLatin1String("ToneDbfs"), numberText(f.toneDbfs));
}

FaultChain::FaultChain(const BenchFaults &in, double sampleRate, double fullScale,
                       double referencePower, double startSeconds)
{
    const BenchFaults f = sanitized(in);
    const double fs = std::max(sampleRate, 1000.0);
    m_agc = f.agcOn;
    m_agcAlpha = 1.0 - std::exp(-1000.0 / (f.agcTimeConstantMs * fs));
    m_referencePower = referencePower > 0.0 ? referencePower : 1.0;
    m_compression = f.compressionOn;
    m_knee = kKnee * fullScale;
    m_span = (kCeiling - kKnee) * fullScale;
    m_drift = f.gainDriftDbPerMinute != 0.0;
    m_driftDbPerSample = f.gainDriftDbPerMinute / 60.0 / fs;
    m_driftStep = std::pow(10.0, m_driftDbPerSample / 20.0);
    if (m_drift && startSeconds > 0.0 && std::isfinite(startSeconds)) {
        m_samples = static_cast<std::uint64_t>(std::llround(startSeconds * fs));
        m_driftGain = std::pow(10.0, m_driftDbPerSample * static_cast<double>(m_samples) / 20.0);
    }
    m_tone = f.toneOn;
    if (m_tone) {
        m_toneAmplitude = std::sqrt(2.0 * std::pow(10.0, f.toneDbfs / 10.0)) * fullScale;
        const double w = 2.0 * std::numbers::pi * std::min(f.toneHz, 0.45 * fs) / fs;
        m_cosStep = std::cos(w);
        m_sinStep = std::sin(w);
    }
    m_active = m_agc || m_compression || m_drift || m_tone;
}

void FaultChain::prime(double inputPower)
{
    m_agcPower = inputPower + (m_tone ? m_toneAmplitude * m_toneAmplitude / 2.0 : 0.0);
    m_primed = true;
}

double FaultChain::receiver(double y)
{
    if (m_tone) {
        const double c = m_c * m_cosStep - m_s * m_sinStep;
        const double s = m_s * m_cosStep + m_c * m_sinStep;
        m_c = c;
        m_s = s;
        y += m_toneAmplitude * s;
    }
    if (m_agc) {
        // Output power = gain^2 * input = sqrt(reference * input) once settled: half the
        // input's change in dB.
        m_agcPower += m_agcAlpha * (y * y - m_agcPower);
        const double gain = std::sqrt(std::sqrt(m_referencePower / m_agcPower));
        y *= std::clamp(gain, kAgcMinGain, kAgcMaxGain); // a power of 0 gives the maximum
    }
    if (m_drift) {
        y *= m_driftGain;
        m_driftGain *= m_driftStep;
        ++m_samples;
    }
    return y;
}

double FaultChain::soundCard(double y) const
{
    if (!m_compression)
        return y;
    const double magnitude = std::fabs(y);
    if (magnitude <= m_knee)
        return y;
    return std::copysign(m_knee + m_span * std::tanh((magnitude - m_knee) / m_span), y);
}

void FaultChain::endRun()
{
    if (m_tone) {
        const double norm = 1.0 / std::sqrt(m_c * m_c + m_s * m_s);
        m_c *= norm;
        m_s *= norm;
    }
    if (m_drift)
        m_driftGain = std::pow(10.0, m_driftDbPerSample * static_cast<double>(m_samples) / 20.0);
}

} // namespace quillon
