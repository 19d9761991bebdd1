// The hand-over of finished rows from the delivery thread to the window thread.

#include "spectrum/SpectrumHandover.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace quillon {
namespace {

SpectrumRowInfo rowInfo(std::uint64_t block, int bins)
{
    return {
        .block = block, .fftSize = 2 * bins, .bins = bins, .sampleRate = 48000, .rowsAveraged = 1};
}

// A writer publishes rows whose every value is the block number as fast as it can; a reader
// takes rows whenever a repaint is due, as the window thread does on its queued calls. No row
// may be torn, none may come back older than one already seen, and the last row arrives.
TEST(SpectrumHandover, RowsArriveWholeNewestFirstAndTheLastIsNeverLost)
{
    constexpr int kBins = kMaxShownBins;
    constexpr std::uint64_t kBlocks = 3000;
    SpectrumHandover handover;
    std::atomic<std::uint64_t> posted{0}; // the queued repaint calls
    std::atomic<bool> done{false};

    std::thread writer([&] {
        std::vector<double> row(kBins);
        for (std::uint64_t b = 0; b < kBlocks; ++b) {
            std::fill(row.begin(), row.end(), static_cast<double>(b));
            if (handover.publish(row.data(), rowInfo(b, kBins)))
                posted.fetch_add(1);
        }
        done.store(true);
    });

    std::uint64_t handled = 0, taken = 0, last = 0;
    bool finished = false;
    while (!finished) {
        finished = done.load(); // after the writer's last request, one more round
        while (handled < posted.load()) {
            ++handled;
            if (!handover.takeLatest())
                continue; // a request whose row an earlier repaint already took
            ++taken;
            const SpectrumRowInfo &info = handover.info();
            ASSERT_EQ(info.bins, kBins);
            ASSERT_TRUE(taken == 1 || info.block > last) << info.block << " after " << last;
            last = info.block;
            const double *row = handover.row();
            const auto expected = static_cast<double>(info.block);
            ASSERT_TRUE(std::all_of(row, row + kBins, [&](double v) { return v == expected; }))
                << "torn row " << info.block;
        }
    }
    writer.join();
    EXPECT_TRUE(handover.hasRow());
    EXPECT_EQ(last, kBlocks - 1);
    EXPECT_EQ(handover.published(), kBlocks);
    EXPECT_EQ(handover.requests(), posted.load());
    EXPECT_LE(taken, posted.load());
}

// Requests coalesce: while one is pending no other is asked for; the repaint takes the newest
// row, and the next row asks again.
TEST(SpectrumHandover, RepaintRequestsCoalesceAndResetForgetsRows)
{
    SpectrumHandover handover;
    const double values[3] = {-10.0, -20.0, -30.0};
    EXPECT_FALSE(handover.takeLatest());
    EXPECT_FALSE(handover.hasRow());
    EXPECT_TRUE(handover.publish(&values[0], rowInfo(0, 1)));
    EXPECT_FALSE(handover.publish(&values[1], rowInfo(1, 1)));
    EXPECT_FALSE(handover.publish(&values[2], rowInfo(2, 1)));
    EXPECT_TRUE(handover.takeLatest());
    EXPECT_EQ(handover.info().block, 2u);
    EXPECT_EQ(handover.row()[0], -30.0);
    EXPECT_FALSE(handover.takeLatest()); // nothing new: the row stays
    EXPECT_EQ(handover.row()[0], -30.0);
    EXPECT_TRUE(handover.publish(&values[0], rowInfo(3, 1)));
    EXPECT_EQ(handover.published(), 4u);
    EXPECT_EQ(handover.requests(), 2u);

    handover.reset();
    EXPECT_FALSE(handover.hasRow());
    EXPECT_FALSE(handover.takeLatest()); // the row of before the reset is gone
    EXPECT_TRUE(handover.publish(&values[1], rowInfo(0, 1)));
    EXPECT_TRUE(handover.takeLatest());
    EXPECT_EQ(handover.row()[0], -20.0);
}

} // namespace
} // namespace quillon
