#pragma once

#include "bench/BenchFaults.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace quillon {

// xoshiro256++: fast 64-bit generator whose every output bit is usable (the ziggurat below
// takes its layer index from the low bits). Seeded through splitmix64, so any 64-bit seed,
// zero included, gives a good state.
class Xoshiro256pp
{
public:
    explicit Xoshiro256pp(std::uint64_t seed = 0) { seedWith(seed); }

    void seedWith(std::uint64_t seed);

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(m_s[0] + m_s[3], 23) + m_s[0];
        const std::uint64_t t = m_s[1] << 17;
        m_s[2] ^= m_s[0];
        m_s[3] ^= m_s[1];
        m_s[1] ^= m_s[2];
        m_s[0] ^= m_s[3];
        m_s[2] ^= t;
        m_s[3] = rotl(m_s[3], 45);
        return result;
    }

    // Uniform in (0, 1]: never 0, so its logarithm is finite.
    double uniformOpen() { return (static_cast<double>(next() >> 11) + 1.0) * 0x1.0p-53; }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> m_s{};
};

// splitmix64 step: used to derive independent seeds (per stream, per channel).
std::uint64_t splitMix64(std::uint64_t &state);

// Standard normal deviate (mean 0, variance 1) by the 128-layer ziggurat, with the exact
// tail beyond 3.44 sigma, so peaks behave as for true Gaussian noise.
double standardNormal(Xoshiro256pp &rng);

// Second-order IIR section, transposed direct form II, a0 normalised to 1.
struct Biquad
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;

    double step(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    void clearState() { z1 = z2 = 0.0; }
};

// Butterworth (Q = 1/sqrt(2)) sections, -3 dB at cornerHz, for sample rate fs (Hz).
// cornerHz must lie strictly between 0 and fs / 2.
Biquad butterworthHighPass(double fs, double cornerHz);
Biquad butterworthLowPass(double fs, double cornerHz);

// Noise power gain of the cascade high-pass -> low-pass: the output variance for white
// input of variance 1, that is the sum of the squared impulse response (summed until the
// tail no longer counts in double precision).
double cascadeNoiseGain(const Biquad &highPass, const Biquad &lowPass);

// Index of a switch state in per-state tables: bit 0 = noise source on, bit 1 = DUT switch
// on. 0 = off/out, 1 = on/out, 2 = off/in, 3 = on/in.
constexpr int switchStateIndex(bool noiseOn, bool dutIn)
{
    return (noiseOn ? 1 : 0) | (dutIn ? 2 : 0);
}

// Everything the generator needs, fixed for one stream.
struct GeneratorSetup
{
    std::uint32_t sampleRate = 44100; // Hz
    int channels = 1;                 // 1 or 2
    int bitsPerSample = 16;           // 16 or 24
    // Noise power of each switch state (switchStateIndex) at the sound card, in full-scale
    // units (the square of the RMS level as a fraction of full scale). 0..10; above about
    // 0.1 the peaks reach full scale and clip.
    std::array<double, 4> statePower{};
    double passbandLowHz = 300.0;   // receiver audio passband, Hz
    double passbandHighHz = 2700.0; // clamped below 0.45 x sample rate
    double humPower = 0.0;          // mains hum power, full-scale units; 0 = no hum
    double humHz = 50.0;
    std::uint64_t seed = 1; // the generator's own seed (derived per stream)
    BenchFaults faults{};   // all off: the clean receiver and sound card
};

// Band-limited Gaussian noise in the capture format: per channel, white Gaussian noise of
// the current switch state's power feeds the receiver passband (high-pass then low-pass
// biquad); the input is scaled by the exact noise gain of that cascade, so the output
// variance equals the state's power. Samples are rounded to the nearest integer code, and
// the rounding noise (1/12 code squared) is taken out of the analogue noise, so the
// variance of the written codes is the state's power too. The right channel is independent
// noise of the same power. Owned by one thread; nothing allocates after construction.
class BenchGenerator
{
public:
    explicit BenchGenerator(const GeneratorSetup &setup);

    // Writes `frames` whole frames (16-bit or packed 24-bit little-endian, interleaved) at
    // `out`. The switch state is read from `state` (switchStateIndex) before every frame,
    // so a change takes effect from the next sample.
    void generate(std::uint8_t *out, std::uint32_t frames, const std::atomic<int> &state);

    // Runs the filters for `frames` frames of the given state without writing anything:
    // settles the passband filters after the start.
    void warmUp(std::uint32_t frames, int state);
    // New noise powers of the four switch states (as GeneratorSetup::statePower) from the
    // next sample on; the filters' state goes on, as it does at a switch.
    void setStatePowers(const std::array<double, 4> &statePower);

    // Frames of warm-up that settle the filters to well below the statistical resolution.
    std::uint32_t settleFrames() const;

    const GeneratorSetup &setup() const { return m_setup; }
    double noiseGain() const { return m_noiseGain; }
    // White-input standard deviation of state s, in output codes (before the passband).
    double inputSigma(int s) const { return m_sigma[s]; }
    // How many samples were clipped at full scale since construction.
    std::uint64_t clippedSamples() const { return m_clipped; }

private:
    struct Channel
    {
        Xoshiro256pp rng;
        Biquad highPass;
        Biquad lowPass;
    };

    template <int Bytes, int Channels, bool Faulty>
    void generateFrames(std::uint8_t *out, std::uint32_t frames, const std::atomic<int> &state);
    double humSample();

    GeneratorSetup m_setup;
    std::array<Channel, 2> m_channel;
    std::array<double, 4> m_sigma{};
    double m_noiseGain = 1.0;
    double m_fullScale = 32768.0; // codes per full scale
    double m_humAmplitude = 0.0;  // peak, codes
    // Hum oscillator: the phasor (c, s) turns by (cosStep, sinStep) each sample.
    double m_humC = 1.0, m_humS = 0.0, m_humCosStep = 1.0, m_humSinStep = 0.0;
    std::uint64_t m_clipped = 0;
    std::array<FaultChain, 2> m_faults; // per channel; inactive unless a fault is on
};

} // namespace quillon
