#pragma once

#include "bench/NoiseGenerator.h"
#include "capture/WaveFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class QSettings;

namespace quillon {

// What the bench's DUT switch output does.
enum class DutSwitchSelects
{
    Dut,          // "DUT": puts the DUT between the noise source and the receiver
    UnknownSource // "UnknownSource": swaps the reference source for the unknown one
};

// The bench's configuration. Stored in the per-user store, group "VirtualBench", under the
// key named beside each field.
struct BenchParameters
{
    double referenceEnrDb = 25.0;         // "ReferenceEnrDb": calibrated source, dB
    double unknownEnrDb = 15.0;           // "UnknownEnrDb": source to be calibrated, dB
    double sourceOffTemperatureK = 293.0; // "SourceOffTemperatureK": reference source off, K
    // "UnknownOffTemperatureK": the unknown source when off, K; a store without the key (or
    // with an unusable value) takes the reference source's off temperature.
    double unknownOffTemperatureK = 293.0;
    double receiverNfDb = 8.0;            // "ReceiverNfDb"
    double dutGainDb = 20.0;              // "DutGainDb"
    double dutNfDb = 1.0;                 // "DutNfDb"
    DutSwitchSelects dutSwitchSelects = DutSwitchSelects::Dut; // "DutSwitchSelects"
    double passbandLowHz = 300.0;    // "PassbandLowHz": receiver audio passband, Hz
    double passbandHighHz = 2700.0;  // "PassbandHighHz"
    // "LoudestLevelDbfs": RMS of the loudest state. From about -10 dBFS its noise peaks
    // pass 0.98 of full scale (over range for the modal readings); above 0 dBFS the card is
    // overdriven. Samples beyond full scale clip at the largest code, as a sound card does.
    double loudestLevelDbfs = -20.0;
    bool humOn = false;              // "HumOn": 50 Hz mains hum added after the receiver
    double humDbfs = -40.0;          // "HumDbfs": RMS level of the hum when on
    std::uint64_t seed = 0;          // "Seed": 0 = a fresh random seed for every stream
    double speed = 1.0;              // "Speed": 1 = real time, 0 = as fast as buffers return

    // Across a band. ReferenceEnrDb, DutGainDb and DutNfDb hold at the curve centre; away
    // from it the reference ENR and the DUT's gain change in a straight line (dB per MHz)
    // and the DUT's NF rises as a parabola, lowest at the centre (see benchCurvesAt). At
    // the defaults the bench tuned to its centre gives the values above.
    double frequencyMHz = 144.0;               // "FrequencyMHz": where the receiver is tuned
    double curveCentreMHz = 144.0;             // "CurveCentreMHz"
    double referenceEnrSlopeDbPerMHz = -0.002; // "ReferenceEnrSlopeDbPerMHz"
    double dutGainSlopeDbPerMHz = -0.02;       // "DutGainSlopeDbPerMHz"
    double dutNfCurvatureDbPerMHz2 = 1e-4;     // "DutNfCurvatureDbPerMHz2": dB per MHz^2
    BenchFaults faults{};            // AGC, compression, drift, tone: all off (BenchFaults.h)
};

// Ranges the bench accepts; out-of-range or non-finite values fall back to the default of
// that field (see sanitized()).
//   ENRs 0..50 dB; off temperatures 1..10000 K; NFs 0..40 dB; DUT gain -30..60 dB;
//   passband 10 Hz <= low < high <= 48000 Hz; loudest level -100..+10 dBFS;
//   hum -120..-3 dBFS; speed 0..10000; frequency and curve centre 0..30000 MHz (the
//   frequency range of ENR calibration files); slopes -1..1 dB/MHz; curvature
//   -0.01..0.01 dB/MHz^2.
BenchParameters sanitized(const BenchParameters &p);

// The band curves at one frequency (MHz): what the reference source's ENR and the DUT's
// gain and NF are there. The frequency is held within 0..30000 MHz, and each value within
// the range its base value accepts (ENR 0..50 dB, gain -30..60 dB, NF 0..40 dB), so that
// far from the centre the curves level off instead of leaving what the bench can be.
//   ENR(f)  = ReferenceEnrDb + ReferenceEnrSlopeDbPerMHz (f - c)
//   G(f)    = DutGainDb + DutGainSlopeDbPerMHz (f - c)
//   NF(f)   = DutNfDb + DutNfCurvatureDbPerMHz2 (f - c)^2
struct BenchCurvePoint
{
    double frequencyMHz = 0.0;
    double referenceEnrDb = 0.0;
    double dutGainDb = 0.0;
    double dutNfDb = 0.0;
};
BenchCurvePoint benchCurvesAt(const BenchParameters &p, double frequencyMHz);

// The bench's calibration file for the reference source (resources/bench-enr.txt) is
// written for the default curve: interpolated as enrForEntry does, it gives
// benchCurvesAt(BenchParameters{}, f).referenceEnrDb at every frequency.

// Reference temperature of ENR and noise-factor definitions, K.
inline constexpr double kBenchT0 = 290.0;

// One switch state as the receiver sees it.
struct SwitchStateTruth
{
    bool noiseOn = false;
    bool dutIn = false;
    double noiseTemperatureK = 0.0; // total noise referred to the receiver input, K
    double power = 0.0;             // expected block power L^2, full-scale units (hum included)
    double levelDbfs = 0.0;         // 10 log10(power)
};

// The answers a correct measurement of the bench gives, in expectation.
struct BenchTruth
{
    double frequencyMHz = 0.0;   // where the bench is tuned (held within 0..30000 MHz)
    double referenceEnrDb = 0.0; // the reference source's ENR there
    double hotReferenceK = 0.0;  // ENR(linear) x T0 + off temperature
    double hotUnknownK = 0.0;     // ENR(linear) x T0 + the unknown source's off temperature
    double offTemperatureK = 0.0; // the reference source's
    double unknownOffTemperatureK = 0.0;
    double receiverTeK = 0.0; // the system (DUT out of circuit)
    double receiverNfDb = 0.0;
    double dutTeK = 0.0;
    double dutNfDb = 0.0;
    double dutGain = 0.0; // linear, not in dB
    double dutGainDb = 0.0;
    double chainTeK = 0.0; // DUT and receiver together: Te_dut + Te_rx / G
    double chainNfDb = 0.0;
    double unknownEnrDb = 0.0;
    // Y factors (linear) of the two pairs the switch offers: noise on/off with the DUT
    // output off, and with it on (DUT in circuit, or the unknown source).
    double ySystem = 0.0;
    double yDutOutput = 0.0;
    double fullScaleUnitsPerKelvin = 0.0;     // noise power scale of the audio
    double humPower = 0.0;                    // full-scale units, 0 when off
    std::array<SwitchStateTruth, 4> states{}; // by switchStateIndex(noiseOn, dutIn)
};

// At the parameters' own frequency, and at any other frequency (MHz) of the band.
BenchTruth computeTruth(const BenchParameters &p);
BenchTruth computeTruth(const BenchParameters &p, double frequencyMHz);

// The truth as a small text table (README, demos, test output).
std::string formatTruth(const BenchParameters &p, const BenchTruth &t);

// The state powers a running stream is to use instead of those it opened with: how a test
// changes the bench's DUT while a capture runs. A sequence lock: writers (any thread, one at
// a time) bump the sequence to odd, store, bump to even; a generator takes the values only
// from an even sequence that did not move while it read them, so it never mixes two writes.
class LiveStatePowers
{
public:
    // Writers are serialised by the caller (VirtualBench's mutex).
    void publish(bool active, const std::array<double, 4> &powers)
    {
        m_sequence.fetch_add(1, std::memory_order_acq_rel);
        m_active.store(active, std::memory_order_relaxed);
        for (std::size_t i = 0; i < powers.size(); ++i)
            m_power[i].store(powers[i], std::memory_order_relaxed);
        m_sequence.fetch_add(1, std::memory_order_release);
    }
    // Generator thread: true with the values when they changed since `seen` (updated);
    // `active` false means "the powers the stream opened with".
    bool poll(std::uint64_t &seen, bool &active, std::array<double, 4> &powers) const
    {
        const std::uint64_t before = m_sequence.load(std::memory_order_acquire);
        if (before == seen || (before & 1) != 0)
            return false;
        active = m_active.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < powers.size(); ++i)
            powers[i] = m_power[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_sequence.load(std::memory_order_relaxed) != before)
            return false; // a write came between: the next poll takes it
        seen = before;
        return true;
    }

private:
    std::atomic<std::uint64_t> m_sequence{0};
    std::atomic<bool> m_active{false};
    std::array<std::atomic<double>, 4> m_power{};
};

// The simulated Y-factor set-up: two noise sources, a DUT, a receiver, and two switch
// outputs. Parameters are read and changed on the window thread; the switch outputs and the
// frequency may be set from any thread (the switch outputs are read by the generator threads
// of open bench streams; the frequency by the next stream opened).
class VirtualBench
{
public:
    VirtualBench() = default;
    explicit VirtualBench(const BenchParameters &p) { setParameters(p); }
    VirtualBench(const VirtualBench &) = delete;
    VirtualBench &operator=(const VirtualBench &) = delete;

    // The parameters, with the frequency the bench is tuned to now.
    BenchParameters parameters() const;
    // Takes effect for streams opened afterwards. Restarts the stream seed sequence.
    void setParameters(const BenchParameters &p);
    BenchTruth truth() const { return computeTruth(parameters()); }

    // The receiver's tuning, MHz: any thread. Takes effect for streams opened afterwards;
    // the seed sequence goes on, so that a sweep's points see independent noise. Returns
    // false, changing nothing, for a frequency outside 0..30000 MHz or not finite.
    bool setFrequencyMHz(double frequencyMHz);
    double frequencyMHz() const { return m_frequencyMHz.load(std::memory_order_relaxed); }

    // Changes the DUT while captures run: its noise figure and gain (dB, at the curve centre,
    // as DutNfDb and DutGainDb; held within their ranges). Open streams pick the new powers
    // up within one of their chunks (10 ms of audio in real time, 50 ms at speed 0) and
    // streams opened later start with them. The parameters (what the window and quillon-cli
    // read and store) do not change; truth() stays theirs, liveTruth() is the bench now.
    // Any thread while the parameters are not being set. setParameters() ends it.
    void setLiveDut(double nfDb, double gainDb);
    void clearLiveDut();
    BenchTruth liveTruth() const;
    const LiveStatePowers &liveStatePowers() const { return m_live; }

    // The switch port: any thread. Generators pick the change up from their next sample.
    void setOutputs(bool noiseOn, bool dutIn)
    {
        m_state.store(switchStateIndex(noiseOn, dutIn), std::memory_order_relaxed);
    }
    bool noiseOn() const { return (m_state.load(std::memory_order_relaxed) & 1) != 0; }
    bool dutIn() const { return (m_state.load(std::memory_order_relaxed) & 2) != 0; }
    // The state word generators read per sample (switchStateIndex).
    const std::atomic<int> &stateWord() const { return m_state; }

    // Per-user store: `settings` is opened on the program's store (organisation "Tremont",
    // application "Quillon"); both work in its group "VirtualBench". Missing or unusable
    // values load as their defaults. save() replaces the file through updateSettingsFile and
    // returns false, the file left as it was, when that fails; `settings` must hold no
    // unsaved values of its own.
    void load(QSettings &settings);
    bool save(QSettings &settings) const;

    // The generator set-up of the next stream for `format`. Each call takes the next seed of
    // the sequence started by the parameters' seed (a random seed when it is 0), so that
    // successive captures see independent noise yet a fixed seed repeats a whole session.
    // Window thread (the backend's open).
    GeneratorSetup nextGeneratorSetup(const CaptureFormat &format);

private:
    BenchParameters m_params; // its frequencyMHz is not used: m_frequencyMHz is
    std::atomic<double> m_frequencyMHz{BenchParameters{}.frequencyMHz};
    std::atomic<int> m_state{0};
    LiveStatePowers m_live;
    mutable std::mutex m_liveMutex; // the live DUT's writers, and its values below
    bool m_liveDut = false;
    double m_liveNfDb = 0.0;
    double m_liveGainDb = 0.0;
    std::uint64_t m_seedState = 0; // splitmix64 state of the stream seed sequence
    bool m_seedStarted = false;
};

} // namespace quillon
