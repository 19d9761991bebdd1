// The modal reading on the real capture engine, Measure Device result texts, the results log.

#include "core/Messages.h"
#include "core/Settings.h"
#include "capture/HighPass.h"
#include "capture/ResultText.h"
#include "capture/WaveCapture.h"
#include "measure/DeviceResultsText.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/NoiseMeter.h"
#include "measure/SharedValues.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Plays block k of a capture as 16-bit samples dc + a, dc - a, ... (a = amplitudes[k], the
// last repeating) as fast as buffers come back: with dc 0 the block's level is a / 32768.
struct ScriptedDevice : AudioBackend
{
    struct Stream : InputStream
    {
        Stream(ScriptedDevice &d, BlockQueue &q) : InputStream(q), device(d) {}
        int start() override
        {
            if (device.mode == Plays)
                producer = std::thread([this] { run(); });
            return device.mode == StartFails ? kCaptureError : kCaptureOk;
        }
        void reset() override
        {
            queue().shutdown(); // wakes the producer's wait
            if (producer.joinable())
                producer.join();
        }
        void close() override {}
        void run()
        {
            for (std::size_t k = 0; CaptureHeader *h = queue().waitPopFree(); ++k) {
                if (k < device.lostBefore.size() && device.lostBefore[k] > 0)
                    queue().addLostFrames(device.lostBefore[k]); // a gap ahead of block k
                const int a = device.amplitudes[std::min(k, device.amplitudes.size() - 1)];
                h->bytesRecorded = h->bufferLength / 2 * 2;
                const bool ramp = k < device.rampBlocks;
                for (std::uint32_t i = 0; i < h->bytesRecorded; i += 2) {
                    // A ramping block grows from a quarter of a to a.
                    const double g = ramp ? 0.25 + 0.75 * i / h->bytesRecorded : 1.0;
                    const auto v = static_cast<std::int16_t>(device.dc +
                                                             std::lround((i % 4 ? -a : a) * g));
                    std::memcpy(h->data + i, &v, 2); // little-endian host
                }
                queue().pushFull(h);
            }
        }
        ScriptedDevice &device;
        std::thread producer;
    };

    int deviceCount() override { return 1; }
    bool deviceCaps(int, DeviceCaps &) override { return false; }
    int open(int, const CaptureFormat &, BlockQueue &q, std::unique_ptr<InputStream> &s) override
    {
        if (mode == OpenFails)
            return kCaptureBadDevice;
        s = std::make_unique<Stream>(*this, q);
        return kCaptureOk;
    }

    std::vector<int> amplitudes{1000};
    int dc = 0;
    std::size_t rampBlocks = 0; // the first blocks' level rises through the block
    std::vector<std::uint64_t> lostBefore; // frames dropped ahead of block k
    enum Mode { Plays, OpenFails, StartFails, Silent /* never delivers */ } mode = Plays;
};

class ModalReadingTest : public ::testing::Test
{
protected:
    ModalReadingTest()
    {
        applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
        settings.captureTimeMs = 100;
        filter.selectHighPass(settings.sampleRate);
        // Hooks run on the delivery thread; stop() joins it before the test reads.
        reading.setProgressHook([this](ReadingProgress p) {
            progress.push_back(readingProgressText(p, "Noise (ON)"));
        });
        reading.setFinishedHook([this](int outcome) { outcomes.push_back(outcome); });
    }

    int take(const ReadingPlan &plan) // starts a reading, waits for its end: the outcome
    {
        EXPECT_EQ(reading.start(plan), kMsgNone);
        EXPECT_TRUE(reading.waitFinished(std::chrono::seconds(30)));
        reading.stop();
        return reading.outcome();
    }

    Settings settings;
    ScriptedDevice device;
    HighPass1kHz filter;
    WaveCapture capture{settings, device};
    ModalReading reading{capture, settings, filter};
    std::vector<std::string> progress;
    std::vector<int> outcomes;
};

constexpr int kComplete = ModalReading::kOutcomeComplete,
              kOverRange = ModalReading::kOutcomeOverRange;

// The reading's text is the mean of the counted blocks' powers (a / 32768 squared).
TEST_F(ModalReadingTest, DummyAndCountedBlocksTheOverRangeLimitAndTheFilter)
{
    const std::tuple<ReadingPlan, std::vector<int>, int, int, const char *> cases[] = {
        // Loud dummy blocks are not even tested; the mean of the dB values would be -23.41.
        {{2, true, 4}, {32767, 32767, 1000, 2000, 3000, 4000, 32767}, kComplete, 4, " -21.56"},
        {{1, false, 8}, {5000, 1000, 2000}, kComplete, 1, " -30.31"}, // no averaging: one block
        {{0, true, 40}, {2000}, kComplete, 32, " -24.29"},            // at most 32 blocks
        // 0.98 of full scale is 32112.64 codes: 32112 passes, 32113 ends the reading at once.
        {{0, true, 8}, {1000, 1000, 32112, 32113, 1000}, kOverRange, 3, " Error"}};
    for (const auto &[plan, amplitudes, outcome, blocks, text] : cases) {
        device.amplitudes = amplitudes;
        EXPECT_EQ(take(plan), outcome);
        EXPECT_EQ(reading.blocksMeasured(), blocks);
        EXPECT_EQ(readingText(reading.meanPower(), 2), text);
    }
    EXPECT_EQ(std::vector<std::string>(progress.begin(), progress.begin() + 5),
              (std::vector<std::string>{"Dummy : 2", "Dummy : 1", "Reading Noise (ON) : 3",
                                        "Reading Noise (ON) : 2", "Reading Noise (ON) : 1"}));
    // 4000 +- 3000 at half the rate: unfiltered, rms 5000 less |mean| 4000; filtered, about 3000.
    device.amplitudes = {3000};
    device.dc = 4000;
    for (const auto &[highPass, text] : {std::pair{false, " -30.31"}, {true, " -20.71"}}) {
        settings.highPassFilter = highPass;
        ASSERT_EQ(take({0, false, 1}), kComplete);
        EXPECT_EQ(readingText(reading.meanPower(), 2), text);
    }
}

// Averaging to a precision: blocks beyond 32 are summed into the reading, not stored; an
// unreachable target ends at the time limit, an easy one at the rule's minimum of 2 blocks.
// Automatic dummy reads discard the rising blocks, up to their limit.
TEST_F(ModalReadingTest, PrecisionAndAutomaticDummyReadsDecideTheBlocks)
{
    std::vector<int> levels;
    for (int k = 0; k < 32; ++k)
        levels.push_back(k % 2 ? 1100 : 1000);
    levels.push_back(2000);
    device.amplitudes = levels;
    for (const auto &[targetDb, maxSeconds, low, high] :
         {std::tuple{1e-6, 3.95, 40, 41}, {100.0, 60.0, 2, 2}}) {
        ReadingPlan plan{0, false, 1};
        plan.precision.emplace();
        plan.precision->target.halfWidthDb = targetDb;
        plan.precision->target.maxSeconds = maxSeconds;
        ASSERT_EQ(take(plan), kComplete);
        const int n = reading.blocksMeasured();
        EXPECT_GE(n, low);
        EXPECT_LE(n, high);
        EXPECT_EQ(reading.blocksStored(), std::min(n, 32));
        double sum = 0.0;
        for (int k = 0; k < n; ++k) {
            const double a = levels[static_cast<std::size_t>(std::min(k, 32))] / 32768.0;
            sum += a * a;
        }
        EXPECT_NEAR(reading.meanPower(), sum / n, 1e-12);
        EXPECT_EQ(reading.statistics().blocks, n);
    }
    EXPECT_TRUE(progress.back().starts_with("Reading Noise (ON) : 1 \u00b1 ")) << progress.back();

    device.amplitudes = {1000, 2000, 3000, 4000};
    device.rampBlocks = 3;
    for (const auto &[autoDummy, limit, used, amplitude] :
         {std::tuple{false, 10, 0, 1000}, {true, 10, 3, 4000}, {true, 2, 2, 3000}}) {
        ReadingPlan plan{0, false, 1};
        plan.autoDummy = autoDummy;
        plan.autoDummyLimit = limit;
        ASSERT_EQ(take(plan), kComplete);
        EXPECT_EQ(reading.autoDummiesUsed(), used);
        const double a = amplitude / 32768.0;
        if (amplitude == 4000) // the steady block
            EXPECT_NEAR(reading.meanPower(), a * a, 1e-9);
        else // a ramping one: its mean square is below the end's
            EXPECT_LT(reading.meanPower(), 0.6 * a * a);
    }
}

// Fault mended: the device refills at once, so a reading can end before start() returns (the
// outcome is reset first) and a late block follows the end: neither counted nor a second end.
TEST_F(ModalReadingTest, ReadingsInARowEachEndOnceWithoutLosingTheCompletion)
{
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(take({0, false, 1}), kComplete) << "reading " << i;
    EXPECT_EQ(outcomes, std::vector<int>(200, kComplete));
    EXPECT_EQ(reading.blocksMeasured(), 1);
}

// The audio lost between the blocks a reading used is its own (a gap after its dummy read
// too); a gap ahead of the late blocks that the ring still delivers after its end is not.
// A resumed reading adds its capture's gaps to the earlier ones.
TEST_F(ModalReadingTest, GapsUpToTheLastBlockUsedAreTheReadingsLostAudio)
{
    device.lostBefore = {0, 100, 0, 50, 0, 700, 900};
    ASSERT_EQ(take({1, true, 3}), kComplete); // blocks 0 (dummy) to 3
    EXPECT_EQ(reading.blocksSeen(), 4);
    EXPECT_EQ(reading.carry().lostFrames, 150u);
    const ReadingCarry earlier = reading.carry();
    device.lostBefore = {0, 30, 40}; // blocks 0 and 1 complete it
    ASSERT_EQ(reading.start({0, true, 5}, &earlier), kMsgNone);
    ASSERT_TRUE(reading.waitFinished(std::chrono::seconds(30)));
    reading.stop();
    EXPECT_EQ(reading.carry().lostFrames, 180u);
    device.lostBefore = {};
    ASSERT_EQ(take({1, true, 3}), kComplete);
    EXPECT_EQ(reading.carry().lostFrames, 0u);
}

// A silent device: the stop returns and leaves no outcome.
TEST_F(ModalReadingTest, DeviceFailuresAndCancellingLeaveNoOutcome)
{
    device.mode = ScriptedDevice::OpenFails;
    EXPECT_EQ(reading.start({}), ModalReading::kProbeFailed);
    device.mode = ScriptedDevice::StartFails;
    EXPECT_EQ(reading.start({}), kMsgCannotOpenWaveDevice);
    device.mode = ScriptedDevice::Silent;
    ASSERT_EQ(reading.start({0, true, 4}), kMsgNone);
    EXPECT_FALSE(reading.waitFinished(std::chrono::milliseconds(20)));
    reading.stop();
    EXPECT_EQ(reading.outcome(), ModalReading::kOutcomeNone);
    EXPECT_TRUE(outcomes.empty());
}

// Incomplete and failing results are checked through quillon-cli measure (tests/cli).
TEST(DeviceResultsText, WorkedTextsInBothModesLoggedOnlyWhenLoggingIsOn)
{
    const std::array<double, 4> p{10, 1, 316.22776601683796, 10}; // worked 10, 0, 25, 10 dB
    Settings settings;
    ResultLine line;
    const std::tuple<bool, bool, const char *, const char *> cases[] = {
        {false, true, " 9.691", " 15.318, 2410.842, 9.313, 9.691,"},
        {true, true, " 15.456", "Gain Not Measured, 9896.561, 35.126, 15.456,"},
        {false, false, " 9.691", ""}};
    for (const auto &[system, logOn, nf, logged] : cases) {
        settings.logMeasurements = logOn;
        line.append("left over");
        const DeviceResultTexts t = showDeviceResults(
            computeDeviceResults(p, {true, true, true, true}, system, 25, 290, 293), settings,
            line);
        EXPECT_EQ(t.gain, system ? "" : " 15.318");
        EXPECT_EQ(t.nf, nf);
        EXPECT_EQ(line.text(), logged);
    }
    EXPECT_EQ(readingText(1e-12, 3) + readingText(0.99e-12, 3), " -120.000 Error");
}

// Real log files in a fresh folder; the clock of `log` stands at 6 December 2026, 2:08:33.
class LogFile : public ::testing::Test
{
protected:
    void TearDown() override { fs::remove_all(folder); }
    static std::string read(const fs::path &file)
    {
        return {std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}};
    }

    fs::path folder = ::mkdtemp((fs::temp_directory_path() / "quillon-log-XXXXXX").string().data());
    std::string path = (folder / "results.log").string();
    static LocalDateTime fixedTime() { return {2026, 12, 6, 2, 8, 33}; }
    MeasurementLog log{fixedTime};
};

// Each line takes the time of its writing. A reading of zero power is 10 log10(0): glibc
// prints "%f" of minus infinity as "-inf" (and NaN as "nan" or "-nan").
TEST_F(LogFile, MissingFileIsCreatedAndEveryLineKindIsAppended)
{
    int second = 0;
    const MeasurementLog ticking([&second] { return LocalDateTime{2026, 7, 4, 9, 59, second++}; });
    EXPECT_EQ(ticking.appendNf(path, nfReadingLabel(3), -52.1047174, " 15.318, 9.691,"), kMsgNone);
    ticking.appendEnr(path, enrReadingLabel(0), 10 * std::log10(0.0), "Not Calculated.");
    ticking.appendMeasure(path, false, false, " -37.210, -37.300, 3.410,");
    EXPECT_EQ(ticking.appendMeasure(path, true, true, " -37.21, 3.41,"), kMsgNone);
    EXPECT_EQ(read(path),
              "NF,7/4/26 9:59:00,DUT (OFF),-52.104717, 15.318, 9.691,\n"
              "ENR,7/4/26 9:59:01,Calbrated Noise Source (on),-inf,Not Calculated.\n"
              "Measure,7/4/26 9:59:02,Noise Off,DUT out of Circuit,  -37.210, -37.300, 3.410,\n"
              "Measure,7/4/26 9:59:03,Noise On,DUT in Circuit,  -37.21, 3.41,\n");
    // An existing log keeps its content; the new line goes after it.
    const std::string earlier = (folder / "earlier.log").string();
    std::ofstream(earlier) << "Measure,1/2/26 3:04:05,Noise Off,DUT out of Circuit,  -40.00,\n";
    EXPECT_EQ(log.appendMeasure(earlier, true, false, " -30.00,"), kMsgNone);
    EXPECT_EQ(read(earlier), "Measure,1/2/26 3:04:05,Noise Off,DUT out of Circuit,  -40.00,\n"
                             "Measure,12/6/26 2:08:33,Noise On,DUT out of Circuit,  -30.00,\n");
    EXPECT_EQ(logTimeText({2026, 12, 16, 12, 8, 33}) + " " + logTimeText({2005, 3, 9, 0, 0, 0}),
              "12/16/26 12:08:33 3/9/05 0:00:00"); // the year keeps 2 digits
    for (const auto &[dB, text] : {std::pair{NAN, "nan"}, {-NAN, "-nan"}})
        EXPECT_EQ(readingLineText(ReadingLineKind::Enr, "T", "L", dB, "R"),
                  std::string("ENR,T,L,") + text + ",R\n");
}

// Tests run as root: a path through a regular file makes the open fail, not permission bits.
TEST_F(LogFile, UnwritablePathsFailAndCreateNothing)
{
    const std::string plain = (folder / "plain.txt").string(), fifo = (folder / "pipe").string();
    std::ofstream(plain) << "x";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &bad :
         {(folder / "no-such-folder/results.log").string(), plain + "/results.log", folder.string(),
          std::string(), fifo /* no reader: must not block */,
          std::string("/dev/full") /* ENOSPC */}) {
        EXPECT_EQ(log.appendNf(bad, "Noise (ON)", -40.0, "x"), kMsgCannotOpenLog) << bad;
        EXPECT_EQ(log.appendMeasure(bad, false, false, "x"), kMsgCannotOpenLog) << bad;
    }
    EXPECT_FALSE(fs::exists(folder / "no-such-folder"));
    EXPECT_EQ(read(plain), "x");
}

// Fault mended: on a full disk the line was written in part and the next line continued it.
// The file holds whole lines only, and the failure is reported.
TEST_F(LogFile, AFullDiskKeepsWholeLinesOnly)
{
    test::SmallDisk disk(1);
    if (!disk.ok())
        GTEST_SKIP() << disk.whyNot();
    const std::string full = disk.file("results.log");
    // 4090 bytes of whole lines: 6 bytes left, less than a line.
    std::string earlier;
    while (earlier.size() < 4000)
        earlier += std::string(99, 'm') + "\n";
    earlier += std::string(4089 - earlier.size(), 'm') + "\n";
    std::ofstream(full, std::ios::binary) << earlier;
    EXPECT_EQ(log.appendNf(full, nfReadingLabel(0), -40.0, " 1.000,"), kMsgCannotOpenLog);
    EXPECT_EQ(log.appendMeasure(full, true, true, " -40.000,"), kMsgCannotOpenLog);
    const std::string after = read(full);
    EXPECT_TRUE(after == earlier) << "the file ends in: " << after.substr(4000);
    // With room again the next line starts on a line of its own.
    ASSERT_TRUE(disk.put("results.log", 0));
    EXPECT_EQ(log.appendMeasure(full, true, true, " -40.000,"), kMsgNone);
    EXPECT_EQ(read(full), "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit,  -40.000,\n");
}

// Measure lines come from the capture thread, NF lines from the window thread.
TEST_F(LogFile, LinesFromTwoThreadsStayWhole)
{
    const std::string results(300, '9');
    std::thread capture([&] {
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(log.appendMeasure(path, true, false, results), kMsgNone);
    });
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(log.appendNf(path, nfReadingLabel(2), -2.0, results), kMsgNone);
    capture.join();
    std::istringstream lines(read(path));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line == "Measure,12/6/26 2:08:33,Noise On,DUT out of Circuit, " + results ||
                    line == "NF,12/6/26 2:08:33,DUT (ON),-2.000000," + results)
            << line;
    EXPECT_EQ(count, 400);
}

// The continuous meter reports the first block of each run of failed log lines, and only
// that one; a mended path writes again, and a restart reports a failure that goes on.
TEST_F(LogFile, MeterReportsEachRunOfLogFailuresOnce)
{
    Settings settings;
    settings.logMeasurements = true;
    settings.logResultsFile = (folder / "later/measure.log").string();
    HighPass1kHz filter;
    ResultLine line;
    SharedValues shared;
    NoiseMeter meter(settings, filter, line, shared);
    meter.setLogClock(fixedTime);
    meter.restart();
    const CaptureFormat format{1, 1, 44100, 88200, 2, 16};
    std::vector<std::uint8_t> block(2 * 4410);
    for (std::size_t i = 0; i < block.size(); i += 2) // +-16384: -6.021 dB
        block[i + 1] = i % 4 == 0 ? 0x40 : 0xC0;
    MeterTexts texts;
    std::string results;
    int position = 0;
    const auto run = [&] {
        const int id = meter.evaluate(block.data(), block.size(), format, position++, texts);
        results += id == kMsgCannotOpenLog ? 'E' : id == kMsgNone ? '-' : '?';
    };
    run(), run();                          // missing folder: reported, then quiet
    fs::create_directory(folder / "later"); // mended behind the meter's back
    run();
    fs::remove_all(folder / "later");
    run(), run();
    meter.restart(); // a new capture reports a failure that is still there
    position = 0;
    run();
    EXPECT_EQ(results, "E--E-E");
    EXPECT_EQ(texts.dB, " -6.021");
}

} // namespace
} // namespace quillon
