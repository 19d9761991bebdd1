// Accuracy on the virtual bench: repeated automated series, as the two modal pages take them
// (the same series order, modal reading, switch outputs, evaluation), agree with the bench's
// truth within three standard errors of their mean. Receiver NF 3 dB; the reference source
// off at 293 K, the unknown one at 350 K, so that the off-temperature term of the unknown
// source's ENR is 0.9 dB and a wrong sign would show.
#include "capture/WaveFormat.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingSeries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace quillon {
namespace {

struct Sink : MessageSink
{
    void showMessage(int id) override { ADD_FAILURE() << messageText(id); }
};

class SeriesAccuracy : public ::testing::Test
{
protected:
    static constexpr int kSeries = 40;

    SeriesAccuracy()
    {
        Settings &s = engine.settings();
        s.waveInDevice = engine.benchDevice();
        applyFormatRow(s, 8); // 44.1 kHz mono 16-bit
        s.captureTimeMs = 100;
        s.switchPortName = "Virtual bench";
        s.switchPortChosen = true;
    }

    void setBench(DutSwitchSelects selects)
    {
        engine.bench().setParameters({.sourceOffTemperatureK = 293.0,
                                      .unknownOffTemperatureK = 350.0,
                                      .receiverNfDb = 3.0,
                                      .dutSwitchSelects = selects,
                                      .seed = 2024,
                                      .speed = 0.0});
    }

    // The readings of one series in order, each with the switches set as the pages set them;
    // `complete` stores reading i.
    void series(const std::function<int(int last)> &next,
                const std::function<void(int, double)> &complete)
    {
        for (int r = next(-1); r >= 0; r = next(r)) {
            const DeviceSwitchState st = deviceReadingSwitches(r);
            engine.switches().setSwitches(st.noiseOn, st.dutIn);
            ASSERT_EQ(reading.start(plan), kMsgNone);
            ASSERT_TRUE(reading.waitFinished(std::chrono::seconds(30)));
            reading.stop();
            ASSERT_EQ(reading.outcome(), ModalReading::kOutcomeComplete);
            complete(r, reading.meanPower());
        }
    }

    // The mean within three standard errors of the mean.
    static void expectWithinThreeStandardErrors(const std::vector<double> &v, double truth,
                                                const char *what)
    {
        double sum = 0.0, squares = 0.0;
        for (const double x : v)
            sum += x;
        const double n = static_cast<double>(v.size()), mean = sum / n;
        for (const double x : v)
            squares += (x - mean) * (x - mean);
        const double standardError = std::sqrt(squares / (n - 1.0) / n);
        EXPECT_LT(standardError, 0.1) << what; // the check means something
        EXPECT_LE(std::fabs(mean - truth), 3.0 * standardError)
            << what << ": mean " << mean << ", standard error " << standardError << ", truth "
            << truth;
    }

    Sink sink;
    QuillonEngine engine{sink, [] {
                             EngineOptions o;
                             o.portAudio = false;
                             return o;
                         }()};
    ModalReading reading{engine.capture(), engine.settings(), engine.highPass()};
    const ReadingPlan plan{1, true, 8}; // one dummy block, eight averaged
};

TEST_F(SeriesAccuracy, DeviceAndSystemNoiseFigureAndGain)
{
    setBench(DutSwitchSelects::Dut);
    const BenchTruth truth = engine.bench().truth();
    const DeviceSeriesFlags both{true, true, false};
    DeviceConditions device{false, 25.0, kBenchT0, 293.0};
    DeviceConditions system = device;
    system.systemMode = true;
    std::vector<double> dutNf, gain, systemNf;
    for (int k = 0; k < kSeries; ++k) {
        DeviceReadings readings;
        DeviceEvaluation e;
        series([&](int last) { return nextDeviceReading(0, last, both); },
               [&](int i, double p) {
                   readings.complete(i, p, device, engine.settings(), engine.resultLine(),
                                     engine.log(), e);
               });
        ASSERT_TRUE(e.results.complete && e.results.noise.valid && e.results.gainValid);
        dutNf.push_back(e.results.noise.nf);
        gain.push_back(e.results.gainDb);
        systemNf.push_back(
            readings.evaluate(system, engine.settings(), engine.resultLine()).results.noise.nf);
    }
    expectWithinThreeStandardErrors(dutNf, truth.dutNfDb, "DUT noise figure");
    expectWithinThreeStandardErrors(gain, truth.dutGainDb, "DUT gain");
    expectWithinThreeStandardErrors(systemNf, truth.receiverNfDb, "system noise figure");
}

TEST_F(SeriesAccuracy, UnknownSourceEnrWithItsOwnOffTemperature)
{
    setBench(DutSwitchSelects::UnknownSource);
    const BenchTruth truth = engine.bench().truth();
    const CalibrationConditions conditions{25.0, 293.0, 350.0, kBenchT0};
    std::vector<double> enr;
    for (int k = 0; k < kSeries; ++k) {
        CalibrationReadings readings;
        CalibrationEvaluation e;
        // "Measure" of the reference pair, then of the unknown pair, with "Noise Gen".
        for (const int button : {0, 2})
            series([&](int last) { return nextCalibrationReading(button, last, true); },
                   [&](int i, double p) {
                       readings.complete(i, p, conditions, engine.settings(), engine.resultLine(),
                                         engine.log(), e);
                   });
        ASSERT_TRUE(e.results.complete && e.results.enr.valid);
        enr.push_back(e.results.enr.enrDb);
    }
    expectWithinThreeStandardErrors(enr, truth.unknownEnrDb, "unknown source ENR");
}

} // namespace
} // namespace quillon
