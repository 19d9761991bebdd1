// What each of the bench's faults does to the audio, in numbers. Their keys in the store:
// VirtualBenchTest; the guards that find them: measure/ReadingQualityTest.

#include "bench/BenchFaults.h"
#include "bench/VirtualBench.h"
#include "capture/Level.h"
#include "support/BenchBlocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quillon {
namespace {

using test::BenchBlocks, test::kOffOut, test::kOnIn, test::kOnOut;

// Blocks of 1 s at 48 kHz, mono 16 bit, from one generator settled in `state`.
BenchBlocks faulty(const BenchFaults &faults, int state, double loudestDbfs = -20.0)
{
    BenchParameters p{.loudestLevelDbfs = loudestDbfs, .seed = 3};
    p.faults = faults;
    return BenchBlocks(p, 48000, state);
}

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
        BenchBlocks tone = faulty({.toneOn = true, .toneDbfs = -50.0}, kOffOut);
        const double noise = tone.bench.truth().states[kOffOut].power;
        EXPECT_NEAR(db(tone.power(kOffOut, 2) / (noise + 1e-5)), 0.0, 0.05);
    }
    {
        BenchBlocks agc = faulty({.agcOn = true}, kOnIn);
        const BenchTruth t = agc.bench.truth();
        EXPECT_NEAR(db(agc.power(kOnIn, 2) / t.states[kOnIn].power), 0.0, 0.1);
        const double justAfter = agc.power(kOffOut);
        agc.blocks(kOffOut, 3); // 15 time constants
        const double settled = agc.power(kOffOut, 2);
        const double inputDb = t.states[kOffOut].levelDbfs - t.states[kOnIn].levelDbfs;
        EXPECT_NEAR(db(settled / t.states[kOnIn].power), inputDb / 2.0, 0.1);
        EXPECT_LT(db(justAfter / settled), -1.0);
    }
    {
        BenchBlocks drift = faulty({.gainDriftDbPerMinute = 10.0}, kOnOut);
        const std::vector<BlockStats> b = drift.blocks(kOnOut, 10);
        // Block i covers i..i+1 s after the start (the warm-up is not counted).
        EXPECT_NEAR(db(b[9].L * b[9].L / (b[0].L * b[0].L)), 1.5, 0.1);
    }
    {
        BenchBlocks clean = faulty({}, kOnIn, -8.0);
        clean.blocks(kOnIn, 1);
        EXPECT_GT(clean.generator.clippedSamples(), 0u);
        BenchBlocks compressed = faulty({.compressionOn = true}, kOnIn, -8.0);
        const BlockStats b = compressed.blocks(kOnIn, 1)[0];
        EXPECT_EQ(compressed.generator.clippedSamples(), 0u);
        EXPECT_LE(static_cast<double>(b.peak) * b.s, 0.97);
        EXPECT_GT(static_cast<double>(b.peak) * b.s, 0.95);
        EXPECT_LT(db(b.L * b.L / compressed.bench.truth().states[kOnIn].power), -0.2);
    }
}

// The receiver's drift goes on from one capture to the next: a chain started at 54 s of the
// receiver's time is 9 dB up at 10 dB per minute; the bench hands each new stream the time
// its streams have reached, and new parameters start it again at 0.
TEST(BenchFaults, DriftGoesOnAcrossStreams)
{
    const BenchFaults drift{.gainDriftDbPerMinute = 10.0};
    FaultChain fresh(drift, 48000.0, 32768.0, 1.0);
    FaultChain later(drift, 48000.0, 32768.0, 1.0, 54.0);
    EXPECT_DOUBLE_EQ(fresh.receiver(1.0), 1.0);
    const double gain = later.receiver(1.0);
    EXPECT_NEAR(db(gain * gain), 9.0, 1e-9);

    BenchParameters p;
    p.faults = drift;
    VirtualBench bench(p);
    const CaptureFormat format;
    EXPECT_EQ(bench.nextGeneratorSetup(format).receiverStartSeconds, 0.0);
    bench.receiverClock().store(54.0); // as a stream that generated 54 s leaves it
    const GeneratorSetup next = bench.nextGeneratorSetup(format);
    EXPECT_EQ(next.receiverStartSeconds, 54.0);
    bench.setParameters(p);
    EXPECT_EQ(bench.receiverClock().load(), 0.0);
}

} // namespace
} // namespace quillon
