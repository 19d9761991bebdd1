#include "ui/SpectrumPlot.h"

#include "spectrum/SpectrumAnalyzer.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillon {

namespace {

const QColor kGridGrey(192, 192, 192);
const QColor kTraceRed(255, 0, 0);

// A room wide enough for any label; right alignment puts the text's end on its right edge.
constexpr int kLabelRoom = 200;

} // namespace

SpectrumLayout::SpectrumLayout(const QRect &plotRect, const SpectrumScale &scale, int fftSize,
                               int sampleRate)
    : m_scale(scale), m_left(plotRect.left()), m_top(plotRect.top()), m_fftSize(fftSize),
      m_sampleRate(sampleRate)
{
    // The lists offer 4 .. 12; anything else would divide by zero or leave no cell.
    m_scale.divisions = std::clamp(m_scale.divisions, 4, 12);
    m_width = std::max(plotRect.width(), 0) / 10 * 10;
    m_height = std::max(plotRect.height(), 0) / m_scale.divisions * m_scale.divisions;
}

int passbandSpanHz(double highEdgeHz, int sampleRate)
{
    const int full = sampleRate / 2;
    if (!(highEdgeHz > 0.0))
        return full;
    const double kHz = std::ceil(highEdgeHz * 1.05 / 1000.0);
    return std::min(static_cast<int>(std::clamp(kHz, 1.0, 1e6)) * 1000, full);
}

int SpectrumLayout::spanHz() const
{
    switch (m_scale.span) {
    case SpectrumSpan::To4kHz:
        return 4000;
    case SpectrumSpan::To1kHz:
        return 1000;
    case SpectrumSpan::Passband:
        if (m_scale.passbandSpanHz > 0 && m_scale.passbandSpanHz < m_sampleRate / 2)
            return m_scale.passbandSpanHz;
        break;
    case SpectrumSpan::FullScan:
        break;
    }
    return m_sampleRate / 2;
}

int SpectrumLayout::points(int rowBins) const
{
    if (m_sampleRate <= 0 || m_fftSize <= 0)
        return 0;
    int m = m_fftSize / 2;
    if (spanHz() != m_sampleRate / 2)
        m = static_cast<int>(m_fftSize * (static_cast<double>(spanHz()) / m_sampleRate));
    // A span beyond half the sample rate (4 kHz at a rate below 8 kHz) ends with the row.
    return std::clamp(m, 0, std::max(rowBins, 0));
}

int SpectrumLayout::pointX(int k, int points) const
{
    return m_left + static_cast<int>(static_cast<long long>(k) * m_width / points);
}

int SpectrumLayout::levelY(double dB) const
{
    if (std::isnan(dB))
        return bottom();
    // In floating point first: minus infinity (a bin without power) and levels far off the
    // plot must not reach an integer conversion.
    const double y = m_top + (m_scale.topDb - dB) * m_height * 0.1 / m_scale.divisions;
    if (y <= m_top)
        return m_top;
    if (y >= bottom())
        return bottom();
    return static_cast<int>(y); // toward zero
}

double SpectrumLayout::binHz() const
{
    return m_fftSize > 0 ? static_cast<double>(m_sampleRate) / m_fftSize : 0.0;
}

int SpectrumLayout::binAt(int x, int points) const
{
    if (points <= 0 || m_width <= 0 || x < m_left || x > right())
        return -1;
    const long long k = (static_cast<long long>(x - m_left) * points + m_width / 2) / m_width;
    return static_cast<int>(std::min<long long>(k, points - 1));
}

std::vector<PlotLabel> plotLabels(const SpectrumLayout &layout, int lineHeight)
{
    std::vector<PlotLabel> labels;
    const int left = layout.left(), top = layout.top();
    const int divisions = layout.scale().divisions;
    for (int j = 0; j < divisions; ++j)
        labels.push_back({QString::number(layout.scale().topDb - 10 * j),
                          {left - 5, top + j * layout.cellHeight() - 8}});
    labels.push_back({QStringLiteral("dB"), {left - 30, top + layout.height() / 2 + 6}});

    const int below = layout.bottom() + 8;
    const double spanKHz = layout.spanHz() * 0.001;
    labels.push_back({QStringLiteral("0"), {left, below}});
    for (int j = 1; j < 10; ++j)
        labels.push_back(
            {QString::asprintf("%.1f", spanKHz * j / 10), {left + j * layout.cellWidth(), below}});
    labels.push_back({QString::asprintf("%.1f", spanKHz), {layout.right(), below}});
    labels.push_back({QStringLiteral("KHz"), {left + layout.width() / 2, below + lineHeight}});
    return labels;
}

// At most four points per column, and no more than twice the points of the row; at most one
// column per point.
SpectrumPlot::SpectrumPlot()
    : m_points(std::make_unique<QPoint[]>(2 * kMaxShownBins)),
      m_columns(std::make_unique<Column[]>(kMaxShownBins))
{
}

void SpectrumPlot::paint(QPainter &painter, const SpectrumLayout &layout, const QColor &textColor,
                         const double *row, int rowBins)
{
    const int left = layout.left(), top = layout.top();
    const int right = layout.right(), bottom = layout.bottom();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(left, top, layout.width(), layout.height()), Qt::white);

    QPen frame(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    painter.setPen(frame);
    const QPoint corners[5] = {
        {left, top}, {left, bottom}, {right, bottom}, {right, top}, {left, top}};
    painter.drawPolyline(corners, 5);

    painter.setPen(QPen(kGridGrey, 2, Qt::SolidLine, Qt::FlatCap));
    for (int j = 1; j < layout.scale().divisions; ++j) {
        const int y = top + j * layout.cellHeight();
        painter.drawLine(left + 1, y, right - 2, y);
    }
    for (int j = 1; j < 10; ++j) {
        const int x = left + j * layout.cellWidth();
        painter.drawLine(x, top + 1, x, bottom - 2);
    }

    painter.setPen(textColor);
    const int lineHeight = painter.fontMetrics().height();
    for (const PlotLabel &label : plotLabels(layout, lineHeight))
        painter.drawText(QRect(label.at.x() - kLabelRoom, label.at.y(), kLabelRoom, lineHeight),
                         Qt::AlignRight | Qt::AlignTop, label.text);

    if (row != nullptr)
        paintTrace(painter, layout, row, rowBins);
}

QRect SpectrumPlot::render(QImage &image, const SpectrumLayout &layout, const QColor &background,
                           const QColor &textColor, const QFont &font, const double *row,
                           int rowBins)
{
    const BackgroundKey key{image.size(),
                            QRect(layout.left(), layout.top(), layout.width(), layout.height()),
                            layout.scale().divisions,
                            layout.scale().topDb,
                            layout.spanHz(),
                            background.rgb(),
                            textColor.rgb(),
                            font};
    QRect changed;
    if (m_background.isNull() || !(key == m_key)) {
        m_background = QImage(image.size(), QImage::Format_RGB32);
        m_background.fill(background);
        QPainter painter(&m_background);
        painter.setFont(font);
        paint(painter, layout, textColor, nullptr, 0);
        painter.end();
        m_key = key;
        ++m_backgroundDraws;
        changed = image.rect();
    } else {
        // The trace stays within the drawing rectangle (levels are limited to top .. bottom);
        // the frame's 2-pixel pen reaches one pixel outside it.
        changed = QRect(layout.left() - 1, layout.top() - 1, layout.width() + 3,
                        layout.height() + 3)
                      .intersected(image.rect());
    }
    // Both 32 bits a pixel from here on.
    if (image.size() != m_background.size() || image.format() != m_background.format())
        image = QImage(m_background.size(), m_background.format());
    // Line by line: QPainter would hand a copy this large to its thread pool, and waking
    // those threads 60 times a second costs more than the copy.
    const qsizetype bytes = qsizetype{changed.width()} * 4;
    for (int y = changed.top(); y <= changed.bottom(); ++y)
        std::memcpy(image.scanLine(y) + qsizetype{changed.left()} * 4,
                    m_background.constScanLine(y) + qsizetype{changed.left()} * 4, bytes);
    QPainter painter(&image);
    if (row != nullptr)
        paintTrace(painter, layout, row, rowBins);
    return changed;
}

void SpectrumPlot::paintTrace(QPainter &painter, const SpectrumLayout &layout, const double *row,
                              int rowBins)
{
    // One point is a move without a line: nothing to draw.
    const int m = layout.points(std::min(rowBins, kMaxShownBins));
    if (m < 2)
        return;
    // Where many points share a pixel column (16384 points over 1000 pixels), the lines
    // between them only cover that column from their lowest to their highest point, and the
    // line from a column's last point to the next column's first adds the pixels between.
    // Each column is therefore reduced to first, lowest, highest and last point.
    Column *columns = m_columns.get();
    int count = 0;
    for (int k = 0; k < m;) {
        const int x = layout.pointX(k, m);
        const int first = layout.levelY(row[k]);
        Column c{x, first, first, first, first};
        int next = k + 1;
        for (; next < m && layout.pointX(next, m) == x; ++next) {
            c.last = layout.levelY(row[next]);
            c.low = std::min(c.low, c.last);
            c.high = std::max(c.high, c.last);
        }
        columns[count++] = c;
        k = next;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kTraceRed, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));

    // On a plain 32-bit image the column spans are written straight into its pixels (the
    // raster engine draws a 1-pixel line pixel by pixel, which made up most of a row's cost).
    auto *image = painter.device() && painter.device()->devType() == QInternal::Image
                      ? static_cast<QImage *>(painter.device())
                      : nullptr;
    const bool direct = image != nullptr &&
                        (image->format() == QImage::Format_RGB32 ||
                         image->format() == QImage::Format_ARGB32 ||
                         image->format() == QImage::Format_ARGB32_Premultiplied) &&
                        image->devicePixelRatio() == 1.0 && painter.transform().isIdentity() &&
                        !painter.hasClipping() && painter.opacity() == 1.0 &&
                        painter.compositionMode() == QPainter::CompositionMode_SourceOver;
    QPoint *out = m_points.get();
    int points = 0;
    const auto add = [&](int x, int y) {
        if (points == 0 || out[points - 1] != QPoint(x, y))
            out[points++] = QPoint(x, y);
    };
    if (direct) {
        // The spans of all columns but the last are written straight into the pixels; the
        // polyline then only runs from each column's first to its last point (inside the
        // span) and on to the next column, which draws the joins exactly as a line through
        // every point would. The last column goes whole into the polyline: a polyline leaves
        // out its very last pixel (flat cap), and so must the trace.
        const QRgb red = kTraceRed.rgba();
        const int width = image->width(), height = image->height();
        const qsizetype stride = image->bytesPerLine() / 4;
        auto *bits = reinterpret_cast<QRgb *>(image->bits());
        for (int i = 0; i + 1 < count; ++i) {
            const Column &c = columns[i];
            if (c.x >= 0 && c.x < width) {
                const int from = std::max(c.low, 0), to = std::min(c.high, height - 1);
                QRgb *pixel = bits + from * stride + c.x;
                for (int y = from; y <= to; ++y, pixel += stride)
                    *pixel = red;
            }
            add(c.x, c.first);
            add(c.x, c.last);
        }
        const Column &end = columns[count - 1];
        add(end.x, end.first);
        add(end.x, end.low);
        add(end.x, end.high);
        add(end.x, end.last);
        painter.drawPolyline(out, points);
        return;
    }

    for (int i = 0; i < count; ++i) {
        const Column &c = columns[i];
        add(c.x, c.first);
        add(c.x, c.low);
        add(c.x, c.high);
        add(c.x, c.last);
    }
    painter.drawPolyline(out, points);
}

} // namespace quillon
