#include "capture/ReadingHistory.h"
#include "capture/ResultText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using quillon::ReadingHistory;

namespace {

// Runs blocks through the history as the Measure Noise callback does, from the start of a
// capture (position 0, wrapped flag cleared); returns the current reading after each.
std::vector<double> run(ReadingHistory &h, const std::vector<double> &dB, bool averaging, int count)
{
    h.clearWrapped();
    std::vector<double> out;
    int p = 0;
    for (double d : dB) {
        out.push_back(h.addReading(p, d, averaging, count));
        p = h.advance(p);
    }
    return out;
}

std::vector<double> ramp(int n)
{
    std::vector<double> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(-1.0 * i); // block i reads -i dB
    return v;
}

} // namespace

TEST(RunningAverage, CountFourSkipsTheFirstBlockOfACapture)
{
    ReadingHistory h;
    const auto out = run(h, {-10, -20, -30, -40, -50, -60}, true, 4);
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_TRUE(quillon::showsWait(out[0]));
    EXPECT_EQ(out[1], -20.0);
    EXPECT_EQ(out[2], -25.0);
    EXPECT_EQ(out[3], -30.0);
    EXPECT_EQ(out[4], -35.0); // blocks 2..5
    EXPECT_EQ(out[5], -45.0); // blocks 3..6
}

TEST(RunningAverage, EarlierCaptureTakesNoPart)
{
    ReadingHistory h;
    run(h, std::vector<double>(40, -99.0), true, 8); // wraps the ring
    ASSERT_TRUE(h.wrapped());
    const auto out = run(h, {-10, -20, -30}, true, 8); // new capture, page re-activated
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_EQ(out[1], -20.0);
    EXPECT_EQ(out[2], -25.0);
}

TEST(RunningAverage, CountIsClampedTo0Through32)
{
    ReadingHistory a, b;
    const auto with40 = run(a, ramp(70), true, 40);
    const auto with32 = run(b, ramp(70), true, 32);
    ASSERT_EQ(with40.size(), with32.size());
    for (std::size_t i = 1; i < with40.size(); ++i)
        EXPECT_EQ(with40[i], with32[i]) << "block " << i + 1;
    // Before the ring wraps (block 11 at position 10) the count is limited to 10.
    EXPECT_DOUBLE_EQ(with40[10], -6.5); // mean of blocks 2..11
    // From the wrap on, index 0 takes part and the window goes backwards across 0 -> 31.
    EXPECT_DOUBLE_EQ(with40[33], -18.5); // block 34 at position 1: mean of blocks 3..34
    EXPECT_DOUBLE_EQ(with40[69], -54.5); // mean of blocks 39..70

    for (int count : {0, -5}) {
        ReadingHistory h;
        for (double v : run(h, ramp(40), true, count))
            EXPECT_TRUE(std::isnan(v));
    }
}

TEST(RunningAverage, OffShowsEachBlock)
{
    ReadingHistory h;
    EXPECT_EQ(run(h, {-10, -20, -30}, false, 4), (std::vector<double>{-10, -20, -30}));
    EXPECT_EQ(h.at(2), -30.0);
}

TEST(RunningAverage, PositionWrapsAfter31)
{
    ReadingHistory h;
    EXPECT_EQ(h.advance(30), 31);
    EXPECT_FALSE(h.wrapped());
    EXPECT_EQ(h.advance(31), 0);
    EXPECT_TRUE(h.wrapped());
    h.clearWrapped();
    EXPECT_FALSE(h.wrapped());
    h.store(33, -7.0); // a counter beyond the ring is taken modulo 32
    EXPECT_EQ(h.at(1), -7.0);
}

TEST(StoredReference, RelativeReadingIsTheDifference)
{
    const quillon::StoredReference none;
    EXPECT_FALSE(none.valid);
    const auto ref = quillon::storeReference(-37.25);
    EXPECT_TRUE(ref.valid);
    EXPECT_EQ(quillon::relativeReading(-40.0, ref), -2.75);
    EXPECT_EQ(quillon::relativeReading(-37.25, ref), 0.0);
}
