// The modal reading through the real capture engine, fed by a scripted device that delivers
// blocks as fast as they are handed back: dummy blocks, linear averaging, over range, the
// block limit, the hand-over to the waiting thread, and the results' shown texts.

#include "pages/ModalReading.h"
#include "ScriptedDevice.h"
#include "app/Messages.h"
#include "app/Settings.h"
#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/ResultText.h"
#include "capture/WaveCapture.h"
#include "nf/YFactorMath.h"
#include "pages/DeviceResultsText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;

double levelPower(int amplitude)
{
    const double L = amplitude / 32768.0;
    return L * L;
}

class ModalReadingTest : public ::testing::Test
{
protected:
    ModalReadingTest()
    {
        settings.waveInDevice = 0;
        applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
        settings.captureTimeMs = 100;
        reading.setProgressHook([this](ReadingProgress p) {
            const std::lock_guard lock(mutex);
            progress.push_back(readingProgressText(p, "Noise (ON)"));
        });
        reading.setFinishedHook([this](int outcome) {
            const std::lock_guard lock(mutex);
            finishedOutcomes.push_back(outcome);
            hookThread = std::this_thread::get_id();
        });
    }

    // Starts a reading and waits for its end; returns the outcome.
    int take(const ReadingPlan &plan)
    {
        EXPECT_EQ(reading.start(plan), kMsgNone);
        EXPECT_TRUE(reading.waitFinished(30s));
        reading.stop();
        return reading.outcome();
    }

    Settings settings;
    test::ScriptedDevice device;
    HighPass1kHz filter;
    WaveCapture capture{settings, device};
    ModalReading reading{capture, settings, filter};

    std::mutex mutex;
    std::vector<std::string> progress;
    std::vector<int> finishedOutcomes;
    std::thread::id hookThread;
};

TEST_F(ModalReadingTest, DummyBlocksAreDiscardedUnmeasuredAndTheProgressCountsDown)
{
    // The dummy blocks are loud enough to be over range: they must not even be tested.
    device.amplitudes = {32767, 32767, 32767, 1000, 2000, 3000, 4000, 32767};
    ASSERT_EQ(take({3, true, 4}), ModalReading::kOutcomeComplete);

    EXPECT_EQ(reading.blocksMeasured(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(reading.blockPower(i), levelPower(1000 * (i + 1)));
    // The mean of the linear powers, not of their dB values.
    const double mean =
        (levelPower(1000) + levelPower(2000) + levelPower(3000) + levelPower(4000)) / 4.0;
    EXPECT_DOUBLE_EQ(reading.meanPower(), mean);
    EXPECT_EQ(progress, (std::vector<std::string>{
                            "Dummy : 3", "Dummy : 2", "Dummy : 1", "Reading Noise (ON) : 3",
                            "Reading Noise (ON) : 2", "Reading Noise (ON) : 1"}));
    EXPECT_EQ(finishedOutcomes, std::vector<int>{ModalReading::kOutcomeComplete});
    EXPECT_NE(hookThread, std::this_thread::get_id());
}

TEST_F(ModalReadingTest, WithoutAveragingTheFirstCountedBlockIsTheReading)
{
    device.amplitudes = {5000, 1000, 2000};
    ASSERT_EQ(take({1, false, 8}), ModalReading::kOutcomeComplete);
    EXPECT_EQ(reading.blocksMeasured(), 1);
    EXPECT_DOUBLE_EQ(reading.meanPower(), levelPower(1000));
    EXPECT_EQ(progress, std::vector<std::string>{"Dummy : 1"});
}

TEST_F(ModalReadingTest, OverRangeEndsTheReadingAtOnceAtTheLimit)
{
    // 0.98 of full scale is 32112.64 codes: 32112 passes, 32113 does not.
    device.amplitudes = {1000, 1000, 32112, 32113, 1000};
    ASSERT_EQ(take({0, true, 8}), ModalReading::kOutcomeOverRange);
    EXPECT_EQ(reading.blocksMeasured(), 3);
    EXPECT_TRUE(std::isnan(reading.meanPower()));
    EXPECT_EQ(finishedOutcomes, std::vector<int>{ModalReading::kOutcomeOverRange});
}

TEST_F(ModalReadingTest, AveragingCountIsLimitedToTheThirtyTwoBlockPowers)
{
    EXPECT_EQ(ModalReading::countedBlocks({0, true, 40}), 32);
    EXPECT_EQ(ModalReading::countedBlocks({0, true, 0}), 1);
    EXPECT_EQ(ModalReading::countedBlocks({0, true, -3}), 1);
    EXPECT_EQ(ModalReading::countedBlocks({0, false, 12}), 1);

    device.amplitudes = {2000};
    ASSERT_EQ(take({0, true, 40}), ModalReading::kOutcomeComplete);
    EXPECT_EQ(reading.blocksMeasured(), 32);
    EXPECT_DOUBLE_EQ(reading.meanPower(), levelPower(2000));
}

TEST_F(ModalReadingTest, ALateBufferNeitherCountsNorChangesTheOutcome)
{
    // The device refills the second buffer as soon as it gets it, so a block always arrives
    // after the one that ends the reading. Several readings in a row, each ended once.
    device.amplitudes = {3000};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(take({0, true, 2}), ModalReading::kOutcomeComplete);
    EXPECT_EQ(finishedOutcomes, std::vector<int>(5, ModalReading::kOutcomeComplete));
    EXPECT_EQ(reading.blocksMeasured(), 2);
}

TEST_F(ModalReadingTest, AFastDeviceNeverLosesTheCompletion)
{
    // With blocks arriving at once, the reading can end before start() returns; the outcome
    // must have been reset before the capture started, not after.
    device.amplitudes = {1500};
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(reading.start({0, false, 1}), kMsgNone);
        ASSERT_TRUE(reading.waitFinished(30s)) << "reading " << i;
        reading.stop();
        ASSERT_EQ(reading.outcome(), ModalReading::kOutcomeComplete) << "reading " << i;
    }
}

TEST_F(ModalReadingTest, DeviceFailuresAreReportedByKind)
{
    device.openFails = true;
    EXPECT_EQ(reading.start({}), ModalReading::kProbeFailed);
    device.openFails = false;
    device.startFails = true;
    EXPECT_EQ(reading.start({}), kMsgCannotOpenWaveDevice);
    EXPECT_FALSE(capture.running());
    EXPECT_TRUE(finishedOutcomes.empty());
}

TEST_F(ModalReadingTest, CancellingLeavesNoOutcome)
{
    device.silent = true;
    ASSERT_EQ(reading.start({0, true, 4}), kMsgNone);
    EXPECT_FALSE(reading.waitFinished(20ms));
    reading.stop();
    EXPECT_FALSE(capture.running());
    EXPECT_FALSE(reading.finished());
    EXPECT_EQ(reading.outcome(), ModalReading::kOutcomeNone);
    EXPECT_TRUE(std::isnan(reading.meanPower()));
    EXPECT_TRUE(finishedOutcomes.empty());
}

TEST_F(ModalReadingTest, TheHighPassSettingSelectsTheFilter)
{
    // A DC offset: the unfiltered level subtracts |mean| from the rms; the filter removes
    // it before the block is measured.
    device.amplitudes = {3000};
    device.dc = 4000;
    ASSERT_EQ(take({0, false, 1}), ModalReading::kOutcomeComplete);
    const double unfiltered = reading.meanPower();

    settings.highPassFilter = true;
    filter.SelectHighPass(settings.sampleRate);
    ASSERT_EQ(take({0, false, 1}), ModalReading::kOutcomeComplete);
    const double filtered = reading.meanPower();

    // The same block measured directly, filter on.
    std::vector<std::uint8_t> block(capture.blockLength());
    for (std::size_t i = 0; i < block.size() / 2; ++i) {
        const auto v = static_cast<std::int16_t>(4000 + (i % 2 ? -3000 : 3000));
        block[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
        block[2 * i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    HighPass1kHz direct;
    direct.SelectHighPass(settings.sampleRate);
    const BlockStats s = MeasureBlock(block.data(), static_cast<std::uint32_t>(block.size()),
                                      capture.format(), &direct);
    EXPECT_DOUBLE_EQ(filtered, s.L * s.L);
    EXPECT_NE(filtered, unfiltered);
}

class DeviceResultsTextTest : public ::testing::Test
{
protected:
    DeviceResultsTextTest() { settings.logMeasurements = true; }

    DeviceResults evaluate(bool systemMode, std::array<bool, 4> present = {true, true, true, true})
    {
        const std::array<double, 4> p{YFactorMath::PowerRatioFromDb(10.0), 1.0,
                                      YFactorMath::PowerRatioFromDb(25.0),
                                      YFactorMath::PowerRatioFromDb(10.0)};
        return ComputeDeviceResults(p, present, systemMode, 25.0, 290.0, 293.0);
    }

    Settings settings;
    ResultLine line;
};

TEST_F(DeviceResultsTextTest, DeviceModeLogsGainAndThreeResults)
{
    line.append("left over");
    const DeviceResultTexts t = showDeviceResults(evaluate(false), settings, line);
    EXPECT_EQ(t.gain, " 15.318");
    EXPECT_EQ(t.te, " 2410.842");
    EXPECT_EQ(t.f, " 9.313");
    EXPECT_EQ(t.nf, " 9.691");
    EXPECT_EQ(t.logText, " 15.318, 2410.842, 9.313, 9.691,");
    EXPECT_EQ(line.text(), t.logText);
}

TEST_F(DeviceResultsTextTest, SystemModeLeadsWithGainNotMeasured)
{
    settings.decimalPointsInResults = 1;
    const DeviceResultTexts t = showDeviceResults(evaluate(true), settings, line);
    EXPECT_EQ(t.gain, "");
    EXPECT_EQ(t.logText, "Gain Not Measured, 9896.6, 35.1, 15.5,");
}

TEST_F(DeviceResultsTextTest, IncompleteReadingsLogNotCalculated)
{
    line.append("left over");
    const DeviceResultTexts t =
        showDeviceResults(evaluate(false, {true, true, true, false}), settings, line);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(t.logText, "Not Calculated.");
    EXPECT_EQ(t.te, "");
    EXPECT_EQ(line.text(), "");
}

TEST_F(DeviceResultsTextTest, FailingResultsShowErrorAndLoggingOffLeavesTheLineEmpty)
{
    const std::array<double, 4> flat{1.0, 1.0, 1.0, 1.0};
    const DeviceResults bad =
        ComputeDeviceResults(flat, {true, true, true, true}, false, 25.0, 290.0, 293.0);
    DeviceResultTexts t = showDeviceResults(bad, settings, line);
    EXPECT_EQ(t.logText, " Error, Error, Error, Error,");

    settings.logMeasurements = false;
    t = showDeviceResults(evaluate(false), settings, line);
    EXPECT_EQ(t.nf, " 9.691");
    EXPECT_EQ(line.text(), "");
}

TEST(ReadingText, ErrorBelowOnePicowattOfFullScale)
{
    EXPECT_EQ(readingText(1e-12, 3), " -120.000");
    EXPECT_EQ(readingText(0.99e-12, 3), " Error");
    EXPECT_EQ(readingText(0.0, 3), " Error");
    EXPECT_EQ(readingText(std::nan(""), 3), " Error");
    EXPECT_EQ(readingText(YFactorMath::PowerRatioFromDb(-37.2), 0), " -37");
}

} // namespace
} // namespace quillon
