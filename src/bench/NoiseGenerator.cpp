#include "bench/NoiseGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillon {

std::uint64_t splitMix64(std::uint64_t &state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void Xoshiro256pp::seedWith(std::uint64_t seed)
{
    std::uint64_t sm = seed;
    for (auto &word : m_s)
        word = splitMix64(sm);
}

namespace {

// Ziggurat of 128 layers of equal area for the standard normal density (unnormalised,
// f(x) = exp(-x^2/2)). R is the start of the tail, V the area of each layer.
constexpr int kZigLayers = 128;
constexpr double kZigR = 3.442619855899;
constexpr double kZigV = 9.91256303526217e-3;

struct ZigguratTables
{
    std::array<double, kZigLayers + 1> x{}; // layer edges; x[0] = V / f(R) (base layer)
    std::array<double, kZigLayers> ratio{}; // x[i + 1] / x[i]: inside this, accept at once

    ZigguratTables()
    {
        double f = std::exp(-0.5 * kZigR * kZigR);
        x[0] = kZigV / f;
        x[1] = kZigR;
        x[kZigLayers] = 0.0;
        for (int i = 2; i < kZigLayers; ++i) {
            x[i] = std::sqrt(-2.0 * std::log(kZigV / x[i - 1] + f));
            f = std::exp(-0.5 * x[i] * x[i]);
        }
        for (int i = 0; i < kZigLayers; ++i)
            ratio[i] = x[i + 1] / x[i];
    }
};

const ZigguratTables &zigguratTables()
{
    static const ZigguratTables tables; // built once, thread-safe initialisation
    return tables;
}

// Marsaglia's tail method: a deviate beyond `from`, on the side given by `negative`.
double normalTail(Xoshiro256pp &rng, double from, bool negative)
{
    double x, y;
    do {
        x = std::log(rng.uniformOpen()) / from; // <= 0
        y = std::log(rng.uniformOpen());
    } while (-2.0 * y < x * x);
    return negative ? x - from : from - x;
}

Biquad butterworth(double fs, double cornerHz, bool highPass)
{
    const double w0 = 2.0 * std::numbers::pi * cornerHz / fs;
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * std::numbers::sqrt2 / 2.0); // Q = 1/sqrt(2)
    const double a0 = 1.0 + alpha;
    Biquad b;
    if (highPass) {
        b.b0 = (1.0 + cosW) / 2.0 / a0;
        b.b1 = -(1.0 + cosW) / a0;
    } else {
        b.b0 = (1.0 - cosW) / 2.0 / a0;
        b.b1 = (1.0 - cosW) / a0;
    }
    b.b2 = b.b0;
    b.a1 = -2.0 * cosW / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}

} // namespace

double standardNormal(Xoshiro256pp &rng)
{
    const ZigguratTables &t = zigguratTables();
    for (;;) {
        const std::uint64_t r = rng.next();
        const int layer = static_cast<int>(r & (kZigLayers - 1));
        // Uniform in [-1, 1) from the top 53 bits; independent of the layer bits.
        const double u = static_cast<double>(r >> 11) * 0x1.0p-52 - 1.0;
        if (std::fabs(u) < t.ratio[layer])
            return u * t.x[layer];
        if (layer == 0)
            return normalTail(rng, kZigR, u < 0.0);
        // Wedge between the layer's rectangle and the density.
        const double x = u * t.x[layer];
        const double f0 = std::exp(-0.5 * (t.x[layer] * t.x[layer] - x * x));
        const double f1 = std::exp(-0.5 * (t.x[layer + 1] * t.x[layer + 1] - x * x));
        if (f1 + rng.uniformOpen() * (f0 - f1) < 1.0)
            return x;
    }
}

Biquad butterworthHighPass(double fs, double cornerHz)
{
    return butterworth(fs, cornerHz, true);
}

Biquad butterworthLowPass(double fs, double cornerHz)
{
    return butterworth(fs, cornerHz, false);
}

double cascadeNoiseGain(const Biquad &highPass, const Biquad &lowPass)
{
    Biquad hp = highPass;
    Biquad lp = lowPass;
    hp.clearState();
    lp.clearState();
    double sum = 0.0;
    double x = 1.0;
    // Both sections are stable; their impulse responses decay geometrically. Stop once a
    // long stretch adds nothing in double precision (at most 2^24 samples: a corner of a
    // fraction of a hertz at 96 kHz).
    int quiet = 0;
    for (int n = 0; n < (1 << 24) && quiet < 4096; ++n) {
        const double y = lp.step(hp.step(x));
        x = 0.0;
        const double e = y * y;
        quiet = (e <= sum * 1e-19) ? quiet + 1 : 0;
        sum += e;
    }
    return sum;
}

void BenchGenerator::setStatePowers(const std::array<double, 4> &statePower)
{
    m_setup.statePower = statePower;
    for (int s = 0; s < 4; ++s) {
        // Codes^2 of the written samples = analogue variance + 1/12 (rounding).
        const double codes2 = m_setup.statePower[s] * m_fullScale * m_fullScale - 1.0 / 12.0;
        m_sigma[s] = codes2 > 0.0 ? std::sqrt(codes2 / m_noiseGain) : 0.0;
    }
}

BenchGenerator::BenchGenerator(const GeneratorSetup &setup) : m_setup(setup)
{
    m_setup.channels = std::clamp(m_setup.channels, 1, 2);
    m_setup.bitsPerSample = m_setup.bitsPerSample == 24 ? 24 : 16;
    const double fs = static_cast<double>(std::max<std::uint32_t>(m_setup.sampleRate, 1000));
    const double nyquistLimit = 0.45 * fs;
    m_setup.passbandHighHz = std::clamp(m_setup.passbandHighHz, 2.0, nyquistLimit);
    m_setup.passbandLowHz = std::clamp(m_setup.passbandLowHz, 1.0, m_setup.passbandHighHz / 2.0);

    const Biquad hp = butterworthHighPass(fs, m_setup.passbandLowHz);
    const Biquad lp = butterworthLowPass(fs, m_setup.passbandHighHz);
    m_noiseGain = cascadeNoiseGain(hp, lp);

    m_fullScale = m_setup.bitsPerSample == 24 ? 8388608.0 : 32768.0;
    setStatePowers(m_setup.statePower);

    std::uint64_t sm = m_setup.seed;
    for (Channel &c : m_channel) {
        c.rng.seedWith(splitMix64(sm));
        c.highPass = hp;
        c.lowPass = lp;
    }

    const double loudest = *std::max_element(m_setup.statePower.begin(), m_setup.statePower.end());
    for (FaultChain &chain : m_faults)
        chain = FaultChain(m_setup.faults, fs, m_fullScale, loudest * m_fullScale * m_fullScale);

    if (m_setup.humPower > 0.0) {
        m_humAmplitude = std::sqrt(2.0 * m_setup.humPower) * m_fullScale;
        const double w = 2.0 * std::numbers::pi * m_setup.humHz / fs;
        m_humCosStep = std::cos(w);
        m_humSinStep = std::sin(w);
    }
}

std::uint32_t BenchGenerator::settleFrames() const
{
    // The slowest pole belongs to the high-pass: its envelope falls by e every
    // 1 / (2 pi f Q) seconds with Q = 0.707. 40 such time constants take the start transient
    // far below anything a block can resolve.
    const double tau = 1.0 / (2.0 * std::numbers::pi * m_setup.passbandLowHz * 0.7071);
    return static_cast<std::uint32_t>(std::ceil(40.0 * tau * m_setup.sampleRate)) + 64;
}

void BenchGenerator::warmUp(std::uint32_t frames, int state)
{
    for (FaultChain &chain : m_faults)
        chain.prime(m_setup.statePower[state & 3] * m_fullScale * m_fullScale);
    const double sigma = m_sigma[state & 3];
    for (int ch = 0; ch < m_setup.channels; ++ch) {
        Channel &c = m_channel[ch];
        for (std::uint32_t i = 0; i < frames; ++i)
            c.lowPass.step(c.highPass.step(sigma * standardNormal(c.rng)));
    }
}

double BenchGenerator::humSample()
{
    const double c = m_humC * m_humCosStep - m_humS * m_humSinStep;
    const double s = m_humS * m_humCosStep + m_humC * m_humSinStep;
    m_humC = c;
    m_humS = s;
    return m_humAmplitude * s;
}

template <int Bytes, int Channels, bool Faulty>
void BenchGenerator::generateFrames(std::uint8_t *out, std::uint32_t frames,
                                    const std::atomic<int> &state)
{
    constexpr std::int32_t maxCode = Bytes == 3 ? 8388607 : 32767;
    constexpr std::int32_t minCode = -maxCode - 1;
    const bool hum = m_humAmplitude > 0.0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double sigma = m_sigma[state.load(std::memory_order_relaxed) & 3];
        const double h = hum ? humSample() : 0.0;
        for (int ch = 0; ch < Channels; ++ch) {
            Channel &c = m_channel[ch];
            double y = c.lowPass.step(c.highPass.step(sigma * standardNormal(c.rng)));
            if constexpr (Faulty)
                y = m_faults[ch].soundCard(m_faults[ch].receiver(y) + h);
            else
                y += h;
            // Round half away from zero: symmetric, so it adds no DC.
            double r = y + std::copysign(0.5, y);
            std::int32_t v;
            if (r >= maxCode + 1.0) {
                v = maxCode;
                ++m_clipped;
            } else if (r <= minCode - 1.0) {
                v = minCode;
                ++m_clipped;
            } else {
                v = static_cast<std::int32_t>(r);
            }
            const auto u = static_cast<std::uint32_t>(v);
            out[0] = static_cast<std::uint8_t>(u);
            out[1] = static_cast<std::uint8_t>(u >> 8);
            if constexpr (Bytes == 3)
                out[2] = static_cast<std::uint8_t>(u >> 16);
            out += Bytes;
        }
    }
    if constexpr (Faulty) {
        for (int ch = 0; ch < Channels; ++ch)
            m_faults[ch].endRun();
    }
    if (hum) {
        // Keep the oscillator on the unit circle (rounding drifts it slowly).
        const double norm = 1.0 / std::sqrt(m_humC * m_humC + m_humS * m_humS);
        m_humC *= norm;
        m_humS *= norm;
    }
}

void BenchGenerator::generate(std::uint8_t *out, std::uint32_t frames,
                              const std::atomic<int> &state)
{
    const bool wide = m_setup.bitsPerSample == 24;
    if (m_faults[0].active()) {
        // A stream that was never warmed up starts its AGC at the current state's level.
        if (!m_faults[0].primed())
            for (FaultChain &chain : m_faults)
                chain.prime(m_setup.statePower[state.load(std::memory_order_relaxed) & 3] *
                            m_fullScale * m_fullScale);
        if (m_setup.channels == 2)
            wide ? generateFrames<3, 2, true>(out, frames, state)
                 : generateFrames<2, 2, true>(out, frames, state);
        else
            wide ? generateFrames<3, 1, true>(out, frames, state)
                 : generateFrames<2, 1, true>(out, frames, state);
        return;
    }
    if (m_setup.channels == 2) {
        if (wide)
            generateFrames<3, 2, false>(out, frames, state);
        else
            generateFrames<2, 2, false>(out, frames, state);
    } else {
        if (wide)
            generateFrames<3, 1, false>(out, frames, state);
        else
            generateFrames<2, 1, false>(out, frames, state);
    }
}

} // namespace quillon
