#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

class QPainter;

namespace quillon {

// The span list of the Show Spectrum page, in list order.
enum class SpectrumSpan
{
    FullScan = 0, // "Full Scan": 0 to sampleRate / 2
    To4kHz = 1,   // "0 - 4 KHz"
    To1kHz = 2,   // "0 - 1 KHz"
    Passband = 3  // "Passband": 0 to a whole number of kHz just above the passband found
};

// The scale chosen on the page: 10 dB per division, `divisions` divisions (4 .. 12) below the
// top line at `topDb` (0, -10, ..., -80 dB re full scale), and the horizontal span.
struct SpectrumScale
{
    int divisions = 12;
    int topDb = 0;
    SpectrumSpan span = SpectrumSpan::FullScan;
    // The span of "Passband", Hz; 0 (no passband found yet) shows the full scan.
    int passbandSpanHz = 0;
};

// The span that fits a passband whose upper -3 dB edge lies at `highEdgeHz`: 0 to the next
// whole kHz at least 5 % above the edge (so that every grid line falls on a tenth of a kHz
// and the skirt above the edge stays in view), at least 1000 Hz, at most sampleRate / 2.
int passbandSpanHz(double highEdgeHz, int sampleRate);

// Where the plot's parts go, in pixels, for one plot rectangle, scale, FFT size n and sample
// rate. A pure computation:
//   - the drawing rectangle starts at the plot rectangle's top left and holds whole grid
//     cells: W = (plot width / 10) * 10, H = (plot height / divisions) * divisions;
//   - M trace points: n / 2 for "Full Scan", else n * (span / sampleRate) truncated, and no
//     more than the row holds; point k (bin k, k * sampleRate / n Hz) at
//     x = left + k * W / M (integer division);
//   - a level v dB at y = top + (topDb - v) * H * 0.1 / divisions, truncated, limited to
//     top .. bottom (minus infinity and NaN on the bottom edge).
class SpectrumLayout
{
public:
    SpectrumLayout(const QRect &plotRect, const SpectrumScale &scale, int fftSize, int sampleRate);

    int left() const { return m_left; }
    int top() const { return m_top; }
    int width() const { return m_width; }   // W
    int height() const { return m_height; } // H
    int right() const { return m_left + m_width; }
    int bottom() const { return m_top + m_height; }
    int cellWidth() const { return m_width / 10; }
    int cellHeight() const { return m_height / m_scale.divisions; }
    const SpectrumScale &scale() const { return m_scale; }
    int fftSize() const { return m_fftSize; }
    int sampleRate() const { return m_sampleRate; }

    // The span in Hz: sampleRate / 2 (integer division), 4000, 1000 or the passband's span
    // (sampleRate / 2 while there is none, or when it is wider).
    int spanHz() const;
    // Trace points for a row of `rowBins` values.
    int points(int rowBins) const;
    int pointX(int k, int points) const;
    int levelY(double dB) const;
    double binHz() const;
    // The bin whose point lies nearest to x (over M points), or -1 when x is outside the
    // drawing rectangle.
    int binAt(int x, int points) const;

private:
    SpectrumScale m_scale;
    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
    int m_fftSize = 0;
    int m_sampleRate = 0;
};

// One text of the plot: drawn right-aligned, ending at x, with its top at y.
struct PlotLabel
{
    QString text;
    QPoint at;
};

// The labels of a layout, with `lineHeight` the font's line spacing:
//   dB values topDb - 10 j (j = 0 .. divisions - 1) ending 5 pixels left of the frame, each
//   8 pixels above its grid line; "dB" ending at left - 30, at top + H / 2 + 6;
//   "0" under the left edge, the frequency of every vertical grid line in kHz ("%.1f") under
//   that line, and the span in kHz under the right edge, all at bottom + 8;
//   "KHz" ending at the middle line, one text line lower (the middle line's frequency takes
//   the place beside it).
std::vector<PlotLabel> plotLabels(const SpectrumLayout &layout, int lineHeight);

// Draws the plot into a painter (normally on a QImage; the window shows the image):
// the drawing rectangle filled white, the frame (black, 2 pixels), the grid (light grey
// 192/192/192, 2 pixels), the labels in the painter's font and `textColor`, and, when a row
// is given, the trace (red, 1 pixel): one move to point 0 and straight lines through points
// 1 .. M - 1. The point array is allocated once, so drawing allocates nothing per point.
// Window thread (or any one thread at a time).
class SpectrumPlot
{
public:
    SpectrumPlot();

    // `row`: `rowBins` values in dB (bin k at k * sampleRate / n), or null for no trace.
    void paint(QPainter &painter, const SpectrumLayout &layout, const QColor &textColor,
               const double *row, int rowBins);
    // Only the trace (the benchmark times it apart from the frame and labels).
    void paintTrace(QPainter &painter, const SpectrumLayout &layout, const double *row,
                    int rowBins);

    // What the page draws for every row: the whole plot in `image` (the view's), filled with
    // `background` outside the drawing rectangle, exactly as paint() draws it. The frame,
    // grid and labels come from a cached image that is drawn again only when the image's
    // size, the drawing rectangle, the scale, the span, the colours or the font change;
    // otherwise only the drawing rectangle (with the frame around it) is copied back from
    // the cache and the trace drawn over it. Returns the part of `image` that changed.
    QRect render(QImage &image, const SpectrumLayout &layout, const QColor &background,
                 const QColor &textColor, const QFont &font, const double *row, int rowBins);
    // Draw the cached background again at the next render() (the view's image was replaced).
    void invalidateBackground() { m_background = QImage(); }
    // Times the background was drawn (tests: a row alone must not draw it).
    int backgroundDraws() const { return m_backgroundDraws; }

private:
    // Everything the background depends on.
    struct BackgroundKey
    {
        QSize size;
        QRect drawing;
        int divisions = 0;
        int topDb = 0;
        int spanHz = 0;
        QRgb background = 0;
        QRgb text = 0;
        QFont font;
        bool operator==(const BackgroundKey &) const = default;
    };

    // One pixel column of the trace: its x, the y of its first, lowest (smallest y), highest
    // and last point.
    struct Column
    {
        int x, first, low, high, last;
    };

    std::unique_ptr<QPoint[]> m_points;
    std::unique_ptr<Column[]> m_columns;
    QImage m_background;
    BackgroundKey m_key;
    int m_backgroundDraws = 0;
};

} // namespace quillon
