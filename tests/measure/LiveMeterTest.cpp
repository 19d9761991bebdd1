// The live meter on the virtual bench: the ON, OFF, OFF, ON order and the blocks it drops,
// the drift cancellation, the smoothing as it fills, the calibration and its checks, the
// hand-over between the delivery, live and calling threads, and the source left OFF.
#include "measure/LiveMeter.h"

#include "core/Messages.h"
#include "support/BenchSeries.h"
#include "support/LiveRecorder.h"

#include <cmath>
#include <thread>

namespace quillon {
namespace {

using namespace std::chrono_literals;

class LiveMeterTest : public test::BenchEngineTest
{
protected:
    LivePlan plan(int smoothing = 8)
    {
        const BenchTruth t = engine.bench().truth();
        LivePlan p;
        p.conditions.enrDb = t.referenceEnrDb;
        p.conditions.t0 = kBenchT0;
        p.conditions.tsOff = t.offTemperatureK;
        p.smoothingGroups = smoothing;
        return p;
    }
};

TEST_F(LiveMeterTest, SystemNoiseFigureOfTheChainWithoutCalibration)
{
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(32), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(40, 30s));
    meter.stop();
    const BenchTruth t = engine.bench().truth();
    const LiveUpdate u = rec.last();
    EXPECT_FALSE(u.corrected);
    EXPECT_EQ(u.groupsUsed, 32);
    // About three standard uncertainties: 32 groups of 100 ms blocks at 2.4 kHz bandwidth
    // give about +-0.1 dB.
    const double hw = u.systemNf.statisticalHalfWidth();
    EXPECT_GT(hw, 0.02);
    EXPECT_LT(hw, 0.3);
    EXPECT_NEAR(u.systemNf.value, t.chainNfDb, 1.5 * hw);
    EXPECT_NEAR(u.ySystemDb.value, 10 * std::log10(t.yDutOutput),
                1.5 * u.ySystemDb.statisticalHalfWidth());
    EXPECT_FALSE(engine.bench().noiseOn());
}

} // namespace
} // namespace quillon
