#pragma once

#include <atomic>

namespace quillon {

class SettingsStore;

// The values that several pages share, in one object that the application owns and gives
// to every page that uses it (pages never read each other's fields):
//   Measure Noise        owns the averaging flag and count ("Save as Defaut" there);
//   Measure Device       owns the ENR entry, TSoff, T0 and the dummy-read count;
//   Calibrate Noise Source reads and writes the entry and the dummy-read count, uses T0;
//   Calculator           starts its ENR field from the entry and uses T0;
//   Show Spectrum        averages over the same count, and leaves the receiver's noise
//                        bandwidth read from its spectrum for the Calculator.
// Window thread, except the averaging flag and count, which capture callbacks read on the
// delivery thread (atomics; a change is picked up from the next block).
class SharedValues
{
public:
    // Reads "ENR", "TSoff", "T0", "DummyReads", "TraceAverageFlag" and "TraceAverageCount".
    // Stored values are taken as they stand; users of a value limit it as they need (see
    // averageCountLimited and dummyReadsLimited).
    void load(const SettingsStore &store);

    // "ENR", "TSoff" and "T0" written as text with 3, 2 and 2 decimals, as at program exit.
    // Attempts all three; returns 0 or kMsgSaveFailed.
    int saveAtExit(SettingsStore &store) const;

    // The ENR entry: ENR in dB, or the frequency in MHz while an ENR file is in use.
    double enrEntry() const { return m_enrEntry; }
    void setEnrEntry(double v) { m_enrEntry = v; }
    double tsOff() const { return m_tsOff; } // K, the reference source's off temperature
    void setTsOff(double v) { m_tsOff = v; }
    double t0() const { return m_t0; } // K, the reference temperature (290 K by convention)
    void setT0(double v) { m_t0 = v; }
    int dummyReads() const { return m_dummyReads; } // as stored or chosen
    void setDummyReads(int n) { m_dummyReads = n; }
    int dummyReadsLimited() const; // 0..10

    bool averaging() const { return m_averaging.load(std::memory_order_relaxed); }
    void setAveraging(bool on) { m_averaging.store(on, std::memory_order_relaxed); }
    int averageCount() const { return m_averageCount.load(std::memory_order_relaxed); }
    void setAverageCount(int n) { m_averageCount.store(n, std::memory_order_relaxed); }
    // The count as the readings and the spectrum use it: 1..32.
    int averageCountLimited() const;

    // The equivalent noise bandwidth last read from the spectrum, Hz; 0 = none read yet.
    // Not stored: it belongs to the receiver as it was measured in this session.
    double measuredNoiseBandwidthHz() const { return m_noiseBandwidthHz; }
    void setMeasuredNoiseBandwidthHz(double hz) { m_noiseBandwidthHz = hz; }

private:
    double m_noiseBandwidthHz = 0.0;
    double m_enrEntry = 25.0;
    double m_tsOff = 293.0;
    double m_t0 = 290.0;
    int m_dummyReads = 1;
    std::atomic<bool> m_averaging{false};
    std::atomic<int> m_averageCount{1};
};

} // namespace quillon
