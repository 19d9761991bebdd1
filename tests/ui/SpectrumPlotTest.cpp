// The spectrum plot painted into a QImage: grid geometry, trace points, clamping and labels,
// read back from the pixels.
#include "ui/SpectrumPlot.h"
#include "PageTestSupport.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace quillon {
namespace {

const QColor kBackground(0, 0, 128); // neither white, black, grey nor red

const QRgb kBlack = qRgb(0, 0, 0), kGrey = qRgb(192, 192, 192), kRed = qRgb(255, 0, 0);

class SpectrumPlotTest : public test::PageTest
{
protected:
    // The plot rectangle starts at (50, 10) in a 700 x 420 image, as on the page.
    QImage paint(const SpectrumLayout &layout, const std::vector<double> *row)
    {
        QImage image(700, 420, QImage::Format_RGB32);
        image.fill(kBackground);
        QPainter painter(&image);
        m_plot.paint(painter, layout, Qt::black, row ? row->data() : nullptr,
                     row ? static_cast<int>(row->size()) : 0);
        return image;
    }
    // The same image with only `labels` drawn as the plot draws text: to compare a region.
    static QImage labelsOnly(const std::vector<PlotLabel> &labels)
    {
        QImage image(700, 420, QImage::Format_RGB32);
        image.fill(kBackground);
        QPainter painter(&image);
        painter.setPen(Qt::black);
        const int h = painter.fontMetrics().height();
        for (const PlotLabel &l : labels)
            painter.drawText(QRect(l.at.x() - 200, l.at.y(), 200, h), Qt::AlignRight, l.text);
        return image;
    }
    static QStringList texts(const std::vector<PlotLabel> &labels, std::size_t from, std::size_t to)
    {
        QStringList out;
        for (std::size_t i = from; i < to && i < labels.size(); ++i)
            out << labels[i].text;
        return out;
    }
    static int lineHeight()
    {
        QImage image(1, 1, QImage::Format_RGB32);
        return QPainter(&image).fontMetrics().height();
    }
    // Red pixels of `image` right of column x.
    static int redRightOf(const QImage &image, int x)
    {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int c = x + 1; c < image.width(); ++c)
                n += image.pixel(c, y) == kRed;
        return n;
    }

    SpectrumPlot m_plot;
};

template <typename Case>
class Param : public SpectrumPlotTest, public ::testing::WithParamInterface<Case>
{
};

struct GridCase
{
    int plotWidth, plotHeight, divisions; // the plot rectangle and the "Div" choice
    int w, h;                             // the drawing rectangle: whole cells
};

// Readable names of the cases in the test list.
void PrintTo(const GridCase &c, std::ostream *out)
{
    *out << c.plotWidth << "x" << c.plotHeight << ", " << c.divisions << " divisions";
}

using SpectrumGrid = Param<GridCase>;

// 250 pixels and 12 divisions: H = 240, lines every 20; with 7 divisions H = 245. A width of
// 537 gives W = 530 and lines every 53. The frame lies on the whole cells, not the rectangle.
TEST_P(SpectrumGrid, HoldsWholeCells)
{
    const GridCase c = GetParam();
    const SpectrumLayout layout(QRect(50, 10, c.plotWidth, c.plotHeight),
                                {.divisions = c.divisions}, 8192, 48000);
    ASSERT_EQ(layout.width(), c.w);
    ASSERT_EQ(layout.height(), c.h);
    const QImage image = paint(layout, nullptr);
    const int left = 50, top = 10, right = left + c.w, bottom = top + c.h;
    const int cellW = c.w / 10, cellH = c.h / c.divisions;
    const int midX = left + cellW / 2, midY = top + cellH / 2;
    // The frame, 2 pixels wide: rows bottom - 1 and bottom, columns right - 1 and right.
    for (int d : {0, 1}) {
        EXPECT_EQ(image.pixel(midX, bottom - d), kBlack);
        EXPECT_EQ(image.pixel(right - d, midY), kBlack);
        EXPECT_EQ(image.pixel(midX, top - 1 + d), kBlack);
    }
    EXPECT_EQ(image.pixel(midX, bottom + 1), kBackground.rgb());
    EXPECT_EQ(image.pixel(right + 1, midY), kBackground.rgb());
    EXPECT_EQ(image.pixel(midX, midY), qRgb(255, 255, 255));
    for (int j = 1; j < c.divisions; ++j)
        EXPECT_EQ(image.pixel(midX, top + j * cellH), kGrey) << "horizontal line " << j;
    for (int j = 1; j < 10; ++j)
        EXPECT_EQ(image.pixel(left + j * cellW, midY), kGrey) << "vertical line " << j;
    // Nothing grey between the lines.
    EXPECT_EQ(image.pixel(midX, top + cellH + cellH / 2), qRgb(255, 255, 255));
}

INSTANTIATE_TEST_SUITE_P(Cases, SpectrumGrid,
                         ::testing::Values(GridCase{537, 250, 12, 530, 240},
                                           GridCase{537, 250, 7, 530, 245},
                                           GridCase{600, 250, 4, 600, 248}));

struct PointsCase
{
    SpectrumSpan span;
    int n, rate, points;
};

void PrintTo(const PointsCase &c, std::ostream *out)
{
    *out << "span " << static_cast<int>(c.span) << ", n " << c.n << ", " << c.rate << " Hz";
}

using SpectrumPoints = Param<PointsCase>;

// M points: n / 2 for "Full Scan", n * (span / rate) truncated otherwise. Each bin k is set to
// a level of its own, 10 dB per point down from -5 dB, so every vertex has its own row; bins
// past M sit near the top, where any extra point would draw red.
TEST_P(SpectrumPoints, OnePointPerBinUpToTheSpan)
{
    const PointsCase c = GetParam();
    const SpectrumLayout layout(QRect(50, 10, 537, 250), {.span = c.span}, c.n, c.rate);
    ASSERT_EQ(layout.points(c.n / 2), c.points);
    if (c.points > 12)
        return; // the pixels are read for the short traces
    std::vector<double> row(c.n / 2, -5.0);
    for (int k = 0; k < c.points; ++k)
        row[k] = -5.0 - 10.0 * k;
    const QImage image = paint(layout, &row);
    for (int k = 0; k < c.points; ++k) {
        const int x = 50 + k * 530 / c.points, y = 10 + 10 + 20 * k; // 2 pixels per dB
        EXPECT_EQ(layout.pointX(k, c.points), x);
        EXPECT_EQ(layout.levelY(row[k]), y);
        // A line stops one pixel short of its end point: the last point is reached by the
        // column before it, within a pixel.
        if (k + 1 < c.points)
            EXPECT_EQ(image.pixel(x, y), kRed) << "point " << k;
        else
            EXPECT_TRUE(image.pixel(x - 1, y) == kRed || image.pixel(x - 1, y - 1) == kRed);
    }
    EXPECT_EQ(redRightOf(image, layout.pointX(c.points - 1, c.points) - 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpectrumPoints,
                         ::testing::Values(PointsCase{SpectrumSpan::To1kHz, 1024, 96000, 10},
                                           PointsCase{SpectrumSpan::To4kHz, 1024, 96000, 42},
                                           PointsCase{SpectrumSpan::FullScan, 8192, 48000, 4096},
                                           PointsCase{SpectrumSpan::To4kHz, 8192, 11025, 2972},
                                           PointsCase{SpectrumSpan::To1kHz, 1024, 11025, 92}));

// Top -20 dB and 4 divisions: labels -20, -30, -40, -50 beside the lines (none for the bottom
// line at -60) and "dB"; a bin at -65 dB, one without power and a NaN lie on the bottom edge,
// one at +10 dB on the top edge.
TEST_F(SpectrumPlotTest, LevelLabelsAndLevelsOffThePlot)
{
    const SpectrumLayout layout(QRect(50, 10, 537, 250), {.divisions = 4, .topDb = -20}, 1024,
                                96000);
    const int top = 10, bottom = 10 + 248;
    const auto labels = plotLabels(layout, lineHeight());
    EXPECT_EQ(texts(labels, 0, 5).join(' '), "-20 -30 -40 -50 dB");
    EXPECT_EQ(labels[3].at, QPoint(45, top + 3 * 62 - 8));

    std::vector<double> row(512, -65.0);
    row[3] = -std::numeric_limits<double>::infinity();
    row[4] = std::nan("");
    row[5] = 10.0;
    const QImage image = paint(layout, &row);
    const int m = layout.points(512);
    for (int k = 0; k + 1 < m; ++k) { // the last point ends a line: not drawn itself
        const int x = layout.pointX(k, m);
        EXPECT_EQ(image.pixel(x, k == 5 ? top : bottom), kRed) << "bin " << k;
    }
    EXPECT_EQ(image.pixel(layout.pointX(100, m), bottom - 2), qRgb(255, 255, 255));

    // Left of the frame: exactly the dB labels, nothing else.
    const QRect leftOfFrame(0, 0, 50 - 2, bottom + 4);
    EXPECT_EQ(image.copy(leftOfFrame),
              labelsOnly({labels.begin(), labels.begin() + 5}).copy(leftOfFrame));
}

struct SpanLabelCase
{
    SpectrumSpan span;
    int rate;
    const char *labels;     // under the plot: "0", the nine grid lines, the span, "KHz"
    int passbandSpanHz = 0; // of "Passband"
};

void PrintTo(const SpanLabelCase &c, std::ostream *out)
{
    *out << "span " << static_cast<int>(c.span) << ", " << c.rate << " Hz";
}

using SpectrumSpanLabels = Param<SpanLabelCase>;

// The span in kHz with "%.1f" under the right edge (22.05 kHz reads "22.1"), the frequency of
// every vertical grid line under it, and "KHz" one row lower, ending at the middle line.
TEST_P(SpectrumSpanLabels, UnderThePlot)
{
    const SpanLabelCase c = GetParam();
    const SpectrumLayout layout(QRect(50, 10, 537, 250),
                                {.span = c.span, .passbandSpanHz = c.passbandSpanHz}, 8192,
                                c.rate);
    const int h = lineHeight();
    const auto labels = plotLabels(layout, h);
    const std::size_t first = 12 + 1; // after the 12 dB labels and "dB"
    ASSERT_EQ(labels.size(), first + 12);
    EXPECT_EQ(texts(labels, first, labels.size()).join(' '), c.labels);
    const int below = 10 + 240 + 8;
    EXPECT_EQ(labels[first].at, QPoint(50, below));
    EXPECT_EQ(labels[first + 5].at, QPoint(50 + 5 * 53, below));
    EXPECT_EQ(labels[first + 10].at, QPoint(50 + 530, below));
    EXPECT_EQ(labels[first + 11].at, QPoint(50 + 265, below + h));

    const QImage image = paint(layout, nullptr);
    const QRect underFrame(0, below - 4, 700, 420 - below + 4);
    EXPECT_EQ(image.copy(underFrame),
              labelsOnly({labels.begin() + first, labels.end()}).copy(underFrame));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpectrumSpanLabels,
    ::testing::Values(SpanLabelCase{SpectrumSpan::FullScan, 44100,
                                    "0 2.2 4.4 6.6 8.8 11.0 13.2 15.4 17.6 19.8 22.1 KHz"},
                      SpanLabelCase{SpectrumSpan::FullScan, 11025,
                                    "0 0.6 1.1 1.7 2.2 2.8 3.3 3.9 4.4 5.0 5.5 KHz"},
                      SpanLabelCase{SpectrumSpan::To4kHz, 48000,
                                    "0 0.4 0.8 1.2 1.6 2.0 2.4 2.8 3.2 3.6 4.0 KHz"},
                      SpanLabelCase{SpectrumSpan::To1kHz, 96000,
                                    "0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1.0 KHz"},
                      SpanLabelCase{SpectrumSpan::Passband, 48000,
                                    "0 0.3 0.6 0.9 1.2 1.5 1.8 2.1 2.4 2.7 3.0 KHz", 3000},
                      // No passband found yet: the full scan.
                      SpanLabelCase{SpectrumSpan::Passband, 48000,
                                    "0 2.4 4.8 7.2 9.6 12.0 14.4 16.8 19.2 21.6 24.0 KHz", 0}));

// "Passband": the next whole kHz at least 5 % above the upper edge, 1 kHz at least, half the
// sample rate at most (and with no edge); the points reach the span's last bin.
TEST(PassbandSpan, FitsTheUpperEdge)
{
    EXPECT_EQ(passbandSpanHz(2731.4, 48000), 3000);
    EXPECT_EQ(passbandSpanHz(2860.0, 48000), 4000); // 3003 Hz with the margin
    EXPECT_EQ(passbandSpanHz(300.0, 8000), 1000);
    EXPECT_EQ(passbandSpanHz(21500.0, 44100), 22050);
    EXPECT_EQ(passbandSpanHz(0.0, 44100), 22050);
    const SpectrumLayout layout(QRect(50, 10, 537, 250),
                                {.span = SpectrumSpan::Passband, .passbandSpanHz = 3000}, 32768,
                                48000);
    EXPECT_EQ(layout.points(16384), 2048);
}

// The page's drawing of a row: frame, grid and labels from the cache, only the drawing
// rectangle copied back and the trace drawn over it. Every step must give the very image a
// fresh paint gives: no trace of the row before, no labels of the scale before; and rows
// alone must not draw the background again.
TEST_F(SpectrumPlotTest, CachedRowsDrawWhatAFreshPaintDraws)
{
    std::vector<double> high(4096, 5.0), low(4096, -200.0), noisy(4096);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> level(-130.0, 10.0);
    for (double &v : noisy)
        v = level(gen);
    const QFont font;
    QImage image(700, 420, QImage::Format_RGB32);
    image.fill(Qt::green);
    const auto step = [&](const SpectrumLayout &layout, const std::vector<double> *row) {
        const QRect changed =
            m_plot.render(image, layout, kBackground, Qt::black, font, row ? row->data() : nullptr,
                          row ? static_cast<int>(row->size()) : 0);
        EXPECT_EQ(image, paint(layout, row));
        return changed;
    };
    const SpectrumLayout first(QRect(50, 10, 600, 360), {}, 8192, 48000);
    EXPECT_EQ(step(first, &high), image.rect());
    // Rows on the top edge (over the frame), on the bottom edge, and all over.
    EXPECT_EQ(step(first, &low), QRect(49, 9, 603, 363));
    EXPECT_EQ(step(first, &noisy), QRect(49, 9, 603, 363));
    EXPECT_EQ(step(first, nullptr), QRect(49, 9, 603, 363));
    EXPECT_EQ(m_plot.backgroundDraws(), 1);
    // Each of the scale, the span (and its sample rate) and the rectangle draws it again.
    step(SpectrumLayout(QRect(50, 10, 600, 360), {.divisions = 7, .topDb = -30}, 8192, 48000),
         &noisy);
    step(SpectrumLayout(QRect(50, 10, 600, 360), {.divisions = 7, .topDb = -30}, 8192, 44100),
         &noisy);
    step(SpectrumLayout(QRect(50, 10, 600, 360),
                        {.divisions = 7, .topDb = -30, .span = SpectrumSpan::To4kHz}, 8192,
                        44100),
         &high);
    step(SpectrumLayout(QRect(50, 10, 500, 300), {}, 8192, 48000), &noisy);
    EXPECT_EQ(m_plot.backgroundDraws(), 5);
}

// 16384 points over 940 pixels are drawn as the lowest and highest point of each column
// joined to its neighbours: the very pixels that lines through every point give, for a noisy
// row that also runs off the top and the bottom.
TEST_F(SpectrumPlotTest, DenseTraceDrawsTheSamePixelsAsLinesThroughEveryPoint)
{
    const SpectrumLayout layout(QRect(50, 10, 940, 540), {.divisions = 6, .topDb = -40}, 32768,
                                48000);
    std::vector<double> row(16384);
    std::mt19937 gen(3);
    std::normal_distribution<double> level(-70.0, 15.0);
    for (double &v : row)
        v = level(gen);
    row[100] = -std::numeric_limits<double>::infinity();
    const auto draw = [&](bool everyPoint) {
        QImage image(1000, 600, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        if (!everyPoint) {
            m_plot.paintTrace(painter, layout, row.data(), 16384);
            return image;
        }
        std::vector<QPoint> points;
        for (int k = 0; k < 16384; ++k)
            points.emplace_back(layout.pointX(k, 16384), layout.levelY(row[k]));
        painter.setPen(QPen(Qt::red, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawPolyline(points.data(), 16384);
        return image;
    };
    const QImage reduced = draw(false);
    EXPECT_GT(redRightOf(reduced, -1), 20000);
    EXPECT_EQ(reduced, draw(true));
}

// The mouse readout's bin: the point nearest the pointer, none outside the drawing rectangle.
TEST_F(SpectrumPlotTest, BinUnderThePointer)
{
    const SpectrumLayout layout(QRect(50, 10, 537, 250), {.span = SpectrumSpan::To1kHz}, 1024,
                                96000);
    const int m = layout.points(512); // 10 points, 53 pixels apart
    EXPECT_EQ(layout.binAt(49, m), -1);
    EXPECT_EQ(layout.binAt(50, m), 0);
    EXPECT_EQ(layout.binAt(50 + 26, m), 0);
    EXPECT_EQ(layout.binAt(50 + 27, m), 1);
    EXPECT_EQ(layout.binAt(50 + 3 * 53, m), 3);
    EXPECT_EQ(layout.binAt(50 + 530, m), 9);
    EXPECT_EQ(layout.binAt(50 + 531, m), -1);
    EXPECT_DOUBLE_EQ(layout.binHz(), 93.75);
}

} // namespace
} // namespace quillon
