// The live view's trend: only its span kept (and never more than its cap), a new run
// starting afresh, the best so far outliving the span until reset, the time axis's ticks,
// and the strip drawing the best mark only while there is one.
#include "ui/LiveTrend.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>

namespace quillon {
namespace {

TEST(LiveTrend, KeepsOnlyItsSpanAndItsCap)
{
    LiveTrend trend(60.0);
    for (int i = 0; i <= 400; ++i) // every 0.5 s up to 200 s
        trend.add({i * 0.5, 1.0 + i * 0.001, 20.0});
    // A point exactly one span older than the newest is still in it; one older is not.
    ASSERT_EQ(trend.points().size(), 121u);
    EXPECT_DOUBLE_EQ(trend.points().front().seconds, 140.0);
    EXPECT_DOUBLE_EQ(trend.points().back().seconds, 200.0);

    LiveTrend dense(300.0); // a readout far faster than expected: the cap holds
    for (int i = 0; i < 10000; ++i)
        dense.add({i * 0.001, 1.0, 20.0});
    ASSERT_EQ(dense.points().size(), LiveTrend::kMaxPoints);
    EXPECT_DOUBLE_EQ(dense.points().front().seconds, (10000 - 4096) * 0.001);
}

TEST(LiveTrend, BestIsTheLowestNoiseFigureSinceTheResetAndOutlivesTheSpan)
{
    LiveTrend trend(10.0);
    EXPECT_FALSE(trend.hasBest());
    trend.add({0.0, 1.30, 19.0});
    trend.add({1.0, LiveTrendPoint::kNaN, 19.5}); // no value: never the best
    trend.add({1.5, 0.50, 21.0, false}); // an average still filling: never the best
    trend.add({2.0, 1.10, 20.5});
    trend.add({3.0, 1.20, 20.0});
    ASSERT_TRUE(trend.hasBest());
    EXPECT_EQ(trend.best().nfDb, 1.10);
    EXPECT_EQ(trend.best().gainDb, 20.5); // the gain of the best point, not the last
    EXPECT_EQ(trend.best().seconds, 2.0);

    for (int t = 4; t <= 40; ++t)
        trend.add({double(t), 1.25, 20.0});
    EXPECT_EQ(trend.points().front().seconds, 30.0); // the best's point has left the span
    EXPECT_EQ(trend.best().nfDb, 1.10);              // the best has not

    // A new run (time starts again) empties the trend, not the best.
    trend.add({0.5, 1.40, 20.0});
    ASSERT_EQ(trend.points().size(), 1u);
    EXPECT_EQ(trend.best().nfDb, 1.10);

    trend.resetBest();
    EXPECT_FALSE(trend.hasBest());
    trend.add({1.0, 1.35, 20.0}); // higher than the old best: the first since the reset
    EXPECT_EQ(trend.best().nfDb, 1.35);

    trend.clear(); // what is shown changed meaning: trend and best go
    EXPECT_TRUE(trend.points().empty());
    EXPECT_FALSE(trend.hasBest());
}

QString ticksText(double from, double to)
{
    QStringList labels;
    for (const TimeTick &tick : timeTicks(from, to))
        labels << tick.label;
    return labels.join(", ");
}

TEST(LiveTrend, TimeAxisTicksInSecondsBelowTwoMinutesThenMinutes)
{
    const struct
    {
        double from, to;
        const char *ticks;
    } cases[] = {
        {0, 7, "0 s, 2 s, 4 s, 6 s"},                        // 1 s steps would be 8 ticks
        {0, 50, "0 s, 10 s, 20 s, 30 s, 40 s, 50 s"},        // six ticks exactly
        {0, 119.9, "0 s, 30 s, 60 s, 90 s"},                 // the longest range in seconds
        {0, 120, "0 min, 1 min, 2 min"},                     // from two minutes in minutes
        {0, 300, "0 min, 1 min, 2 min, 3 min, 4 min, 5 min"}, // the full span from Start
        {100, 400, "2 min, 3 min, 4 min, 5 min, 6 min"},     // a later span: whole minutes
        {0, 3600, "0 min, 20 min, 40 min, 60 min"},
        {12.5, 13.5, "13 s"},
        {5, 5, ""},
        {5, 4, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ticksText(c.from, c.to), QString::fromLatin1(c.ticks)) << c.from << " " << c.to;
    for (const TimeTick &tick : timeTicks(100, 400))
        EXPECT_EQ(std::fmod(tick.seconds, 60.0), 0.0);
}

// The strip shows the best so far as a dark green dashed line and dot; after a reset none.
TEST(LiveTrend, StripDrawsTheBestMarkOnlyWhileThereIsOne)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "trend_test", *argv[] = {name, nullptr};
    static QApplication app(argc, argv);

    LiveTrend trend;
    for (int i = 0; i < 100; ++i)
        trend.add({i * 0.4, 1.0 + 0.3 * std::sin(i * 0.2), 20.0 + 0.1 * std::cos(i * 0.1)});
    LiveTrendStrip strip(trend);
    strip.resize(600, 260);
    const auto greenPixels = [&] {
        const QImage image = strip.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y); // dark green, antialiased or not
                n += c.green() > c.red() + 40 && c.green() > c.blue() + 40;
            }
        return n;
    };
    EXPECT_GT(greenPixels(), 100); // the line across the panel, the dot, the text
    trend.resetBest();
    EXPECT_EQ(greenPixels(), 0);
}

} // namespace
} // namespace quillon
