// The modal reading through the real capture engine fed by a scripted device, and the
// Measure Device results' shown texts.

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

TEST_F(ModalReadingTest, OverRangeEndsTheReadingAtOnceAtTheLimit)
{
    // 0.98 of full scale is 32112.64 codes: 32112 passes, 32113 does not.
    device.amplitudes = {1000, 1000, 32112, 32113, 1000};
    ASSERT_EQ(take({0, true, 8}), ModalReading::kOutcomeOverRange);
    EXPECT_EQ(reading.blocksMeasured(), 3);
    EXPECT_TRUE(std::isnan(reading.meanPower()));
    EXPECT_EQ(finishedOutcomes, std::vector<int>{ModalReading::kOutcomeOverRange});
}

TEST_F(ModalReadingTest, CountedBlocksAreOneWithoutAveragingAndAtMostThirtyTwo)
{
    EXPECT_EQ(ModalReading::countedBlocks({0, true, 0}), 1);
    EXPECT_EQ(ModalReading::countedBlocks({0, false, 12}), 1);
    device.amplitudes = {5000, 1000, 2000};
    ASSERT_EQ(take({1, false, 8}), ModalReading::kOutcomeComplete);
    EXPECT_EQ(reading.blocksMeasured(), 1);
    EXPECT_DOUBLE_EQ(reading.meanPower(), levelPower(1000));

    device.amplitudes = {2000};
    ASSERT_EQ(take({0, true, 40}), ModalReading::kOutcomeComplete);
    EXPECT_EQ(reading.blocksMeasured(), 32);
}

// The device refills a buffer as soon as it gets it: the reading can end before start()
// returns (the outcome must be reset before the capture starts, not after), and a block
// always arrives after the one that ends it, neither counted nor ending it again.
TEST_F(ModalReadingTest, ReadingsInARowEachEndOnceWithoutLosingTheCompletion)
{
    device.amplitudes = {1500};
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(take({0, false, 1}), ModalReading::kOutcomeComplete) << "reading " << i;
    EXPECT_EQ(finishedOutcomes, std::vector<int>(200, ModalReading::kOutcomeComplete));
    EXPECT_EQ(reading.blocksMeasured(), 1);
}

// A silent device: the stop returns and leaves no outcome.
TEST_F(ModalReadingTest, DeviceFailuresAndCancellingLeaveNoOutcome)
{
    device.openFails = true;
    EXPECT_EQ(reading.start({}), ModalReading::kProbeFailed);
    device.openFails = false;
    device.startFails = true;
    EXPECT_EQ(reading.start({}), kMsgCannotOpenWaveDevice);
    EXPECT_FALSE(capture.running());

    device.startFails = false;
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

// A DC offset: the unfiltered level subtracts |mean| from the rms; with the setting on, the
// reading is the block measured through the filter.
TEST_F(ModalReadingTest, TheHighPassSettingSelectsTheFilter)
{
    device.amplitudes = {3000};
    device.dc = 4000;
    ASSERT_EQ(take({0, false, 1}), ModalReading::kOutcomeComplete);
    EXPECT_DOUBLE_EQ(reading.meanPower(), levelPower(1000)); // rms 5000 less mean 4000

    settings.highPassFilter = true;
    filter.SelectHighPass(settings.sampleRate);
    ASSERT_EQ(take({0, false, 1}), ModalReading::kOutcomeComplete);
    std::vector<std::int16_t> block(capture.blockLength() / 2);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::int16_t>(i % 2 ? 1000 : 7000); // little-endian host
    HighPass1kHz direct;
    direct.SelectHighPass(settings.sampleRate);
    const BlockStats s =
        MeasureBlock(reinterpret_cast<const std::uint8_t *>(block.data()),
                     static_cast<std::uint32_t>(2 * block.size()), capture.format(), &direct);
    EXPECT_DOUBLE_EQ(reading.meanPower(), s.L * s.L);
    EXPECT_NE(reading.meanPower(), levelPower(1000));
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

TEST_F(DeviceResultsTextTest, DeviceAndSystemModeTexts)
{
    line.append("left over");
    const DeviceResultTexts t = showDeviceResults(evaluate(false), settings, line);
    EXPECT_EQ(t.gain, " 15.318");
    EXPECT_EQ(t.te, " 2410.842");
    EXPECT_EQ(t.f, " 9.313");
    EXPECT_EQ(t.nf, " 9.691");
    EXPECT_EQ(t.logText, " 15.318, 2410.842, 9.313, 9.691,");
    EXPECT_EQ(line.text(), t.logText);

    settings.decimalPointsInResults = 1;
    const DeviceResultTexts system = showDeviceResults(evaluate(true), settings, line);
    EXPECT_EQ(system.gain, "");
    EXPECT_EQ(system.logText, "Gain Not Measured, 9896.6, 35.1, 15.5,");
}

TEST_F(DeviceResultsTextTest, IncompleteFailingAndUnloggedResults)
{
    line.append("left over");
    DeviceResultTexts t =
        showDeviceResults(evaluate(false, {true, true, true, false}), settings, line);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(t.logText, "Not Calculated.");
    EXPECT_EQ(t.te, "");
    EXPECT_EQ(line.text(), "");

    const DeviceResults flat = ComputeDeviceResults({1.0, 1.0, 1.0, 1.0}, {true, true, true, true},
                                                    false, 25.0, 290.0, 293.0);
    EXPECT_EQ(showDeviceResults(flat, settings, line).logText, " Error, Error, Error, Error,");

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
