// What each of the bench's faults does to the audio, in numbers. Their keys in the store:
// VirtualBenchTest; the guards that find them: measure/ReadingQualityTest.

#include "bench/BenchFaults.h"
#include "bench/VirtualBench.h"
#include "capture/Level.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <vector>

namespace quillon {
namespace {

constexpr std::uint32_t kRate = 48000;
constexpr int kOffOut = 0, kOnOut = 1, kOnIn = 3;

// Blocks of 1 s at 48 kHz, mono 16 bit, from one generator.
class FaultyBench
{
public:
    FaultyBench(const BenchFaults &faults, int state, double loudestDbfs = -20.0)
    {
        BenchParameters p{.loudestLevelDbfs = loudestDbfs, .seed = 3};
        p.faults = faults;
        VirtualBench bench(p);
        truth = bench.truth();
        m_generator.emplace(bench.nextGeneratorSetup(m_format));
        m_generator->warmUp(m_generator->settleFrames(), state);
        m_state = state;
    }
    // Powers of the next `blocks` blocks in `state`.
    std::vector<BlockStats> blocks(int state, int count)
    {
        m_state = state;
        std::vector<BlockStats> out;
        for (int i = 0; i < count; ++i) {
            m_generator->generate(m_buffer.data(), kRate, m_state);
            out.push_back(measureBlock(m_buffer.data(), kRate * 2, m_format, nullptr));
        }
        return out;
    }
    double power(int state, int count = 1)
    {
        double sum = 0.0;
        for (const BlockStats &b : blocks(state, count))
            sum += b.L * b.L;
        return sum / count;
    }
    const BenchGenerator &generator() const { return *m_generator; }
    BenchTruth truth;

private:
    CaptureFormat m_format{1, 1, kRate, 2 * kRate, 2, 16};
    std::optional<BenchGenerator> m_generator;
    std::atomic<int> m_state{0};
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(kRate * 2);
};

double db(double ratio)
{
    return 10.0 * std::log10(ratio);
}

// Each fault in numbers (block powers of 1 s are good to about 0.07 dB):
// - tone: its power adds to the noise's;
// - AGC: the loudest state passes at unity gain, a state 37 dB quieter comes out 18.5 dB
//   quieter once settled, and just after the switch it is quieter still;
// - drift: 10 dB per minute is 1.5 dB over 9 s;
// - compression: the loudest state at -8 dBFS would clip; compressed, nothing reaches 0.97
//   of full scale and the level drops.
TEST(BenchFaults, EachFaultDoesWhatItSays)
{
    {
        FaultyBench tone({.toneOn = true, .toneDbfs = -50.0}, kOffOut);
        EXPECT_NEAR(db(tone.power(kOffOut, 2) / (tone.truth.states[kOffOut].power + 1e-5)), 0.0,
                    0.05);
    }
    {
        FaultyBench agc({.agcOn = true}, kOnIn);
        EXPECT_NEAR(db(agc.power(kOnIn, 2) / agc.truth.states[kOnIn].power), 0.0, 0.1);
        const double justAfter = agc.power(kOffOut);
        agc.blocks(kOffOut, 3); // 15 time constants
        const double settled = agc.power(kOffOut, 2);
        const double inputDb =
            agc.truth.states[kOffOut].levelDbfs - agc.truth.states[kOnIn].levelDbfs;
        EXPECT_NEAR(db(settled / agc.truth.states[kOnIn].power), inputDb / 2.0, 0.1);
        EXPECT_LT(db(justAfter / settled), -1.0);
    }
    {
        FaultyBench drift({.gainDriftDbPerMinute = 10.0}, kOnOut);
        const std::vector<BlockStats> b = drift.blocks(kOnOut, 10);
        // Block i covers i..i+1 s after the start (the warm-up is not counted).
        EXPECT_NEAR(db(b[9].L * b[9].L / (b[0].L * b[0].L)), 1.5, 0.1);
    }
    {
        FaultyBench clean({}, kOnIn, -8.0);
        clean.blocks(kOnIn, 1);
        EXPECT_GT(clean.generator().clippedSamples(), 0u);
        FaultyBench compressed({.compressionOn = true}, kOnIn, -8.0);
        const BlockStats b = compressed.blocks(kOnIn, 1)[0];
        EXPECT_EQ(compressed.generator().clippedSamples(), 0u);
        EXPECT_LE(static_cast<double>(b.peak) * b.s, 0.97);
        EXPECT_GT(static_cast<double>(b.peak) * b.s, 0.95);
        EXPECT_LT(db(b.L * b.L / compressed.truth.states[kOnIn].power), -0.2);
    }
}

} // namespace
} // namespace quillon
