#pragma once

#include <cstdint>

class QSettings;

namespace quillon {

// Ways the bench's receiver and sound card can misbehave, for trying the meter's guards.
// Each is off by default. Stored with the bench's parameters in group "VirtualBench" under
// the key named beside each field.
struct BenchFaults
{
    // "AgcOn": an automatic gain control in the receiver. Its gain follows the receiver's
    // own output power, smoothed with "AgcTimeConstantMs" (1..10000 ms), so that a level
    // change of x dB comes out as x/2 dB once it has settled; the loudest switch state
    // passes at unity gain.
    bool agcOn = false;
    double agcTimeConstantMs = 200.0;
    // "CompressionOn": the sound card's input compresses softly: linear up to half of full
    // scale, then bending toward a ceiling of 0.97 of full scale (never over range).
    bool compressionOn = false;
    // "GainDriftDbPerMinute": the receiver's gain drifts at this rate (-60..60 dB per
    // minute; 0 is off), in the receiver's own time: the audio the bench's streams have
    // generated since its parameters were set, so that the drift goes on from one capture
    // to the next as a real receiver's does.
    double gainDriftDbPerMinute = 0.0;
    // "ToneOn": a steady tone of "ToneHz" (clamped below 0.45 of the sample rate) at
    // "ToneDbfs" RMS (-120..-3 dBFS) in the receiver's passband, ahead of its AGC.
    bool toneOn = false;
    double toneHz = 1000.0;
    double toneDbfs = -30.0;
};

// Out-of-range or non-finite values fall back to their defaults.
BenchFaults sanitized(const BenchFaults &faults);

// Read from and written to the group "VirtualBench" that `settings` is in (the caller opens
// the group). Missing or unusable values load as their defaults.
void loadBenchFaults(QSettings &settings, BenchFaults &faults);
void saveBenchFaults(QSettings &settings, const BenchFaults &faults);

// The faults applied to one channel of the generator, sample by sample, in output codes.
// Owned by the generator's thread; allocates nothing.
class FaultChain
{
public:
    FaultChain() = default;
    // `referencePower`: the loudest state's power in codes^2 (the AGC's unity-gain level);
    // `fullScale`: codes per full scale.
    // `startSeconds`: the receiver's time at the first sample (where its drift stands).
    FaultChain(const BenchFaults &faults, double sampleRate, double fullScale,
               double referencePower, double startSeconds = 0.0);

    bool active() const { return m_active; }

    // Sets the AGC's smoothed power as if the receiver had been sitting at
    // `inputPower` (codes^2) for a long time.
    void prime(double inputPower);
    bool primed() const { return m_primed; }

    // The receiver's faults on one sample of its passband output: tone, AGC, drift.
    double receiver(double y);
    // The sound card's: soft compression, on the sample as it reaches the converter.
    double soundCard(double y) const;
    // Called after every generated run: keeps the tone's oscillator on the unit circle
    // and re-derives the drift gain from the sample count (no accumulated rounding).
    void endRun();

private:
    bool m_active = false;
    bool m_primed = false;
    // AGC
    bool m_agc = false;
    double m_agcAlpha = 0.0;
    double m_agcPower = 0.0;
    double m_referencePower = 1.0;
    // Compression, in codes
    bool m_compression = false;
    double m_knee = 0.0;
    double m_span = 0.0;
    // Drift
    bool m_drift = false;
    double m_driftDbPerSample = 0.0;
    double m_driftGain = 1.0;
    double m_driftStep = 1.0;
    std::uint64_t m_samples = 0;
    // Tone: the phasor (c, s) turns by (cosStep, sinStep) every sample.
    bool m_tone = false;
    double m_toneAmplitude = 0.0;
    double m_c = 1.0, m_s = 0.0, m_cosStep = 1.0, m_sinStep = 0.0;
};

} // namespace quillon
