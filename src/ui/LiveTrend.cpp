#include "ui/LiveTrend.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quillon {

void LiveTrend::add(const LiveTrendPoint &point)
{
    if (!m_points.empty() && point.seconds < m_points.back().seconds)
        m_points.clear();
    m_points.push_back(point);
    while (m_points.size() > kMaxPoints ||
           m_points.front().seconds < point.seconds - m_span)
        m_points.pop_front();
    if (point.full && std::isfinite(point.nfDb) && (!m_hasBest || point.nfDb < m_best.nfDb)) {
        m_best = point;
        m_hasBest = true;
    }
}

void LiveTrend::clear()
{
    m_points.clear();
    m_hasBest = false;
}

std::vector<TimeTick> timeTicks(double from, double to)
{
    std::vector<TimeTick> ticks;
    if (!(to > from) || !std::isfinite(from) || !std::isfinite(to))
        return ticks;
    const bool minutes = to - from >= 120.0;
    static constexpr double kSecondSteps[] = {1, 2, 5, 10, 15, 30};
    static constexpr double kMinuteSteps[] = {60, 120, 300, 600, 1200, 3000, 6000};
    double step = minutes ? kMinuteSteps[std::size(kMinuteSteps) - 1] : 30.0;
    auto fits = [&](double s) {
        return std::floor(to / s) - std::ceil(from / s) + 1 <= 6;
    };
    if (minutes) {
        for (const double s : kMinuteSteps)
            if (fits(s)) {
                step = s;
                break;
            }
    } else {
        for (const double s : kSecondSteps)
            if (fits(s)) {
                step = s;
                break;
            }
    }
    for (double k = std::ceil(from / step); k * step <= to; k += 1.0) {
        const double t = k * step;
        ticks.push_back({t, minutes ? QStringLiteral("%1 min").arg(std::lround(t / 60.0))
                                    : QStringLiteral("%1 s").arg(std::lround(t))});
    }
    return ticks;
}

LiveTrendStrip::LiveTrendStrip(const LiveTrend &trend, QWidget *parent)
    : QWidget(parent), m_trend(trend)
{
    setMinimumSize(520, 230);
}

namespace {

// One panel of the strip: `value` of the points against time, in [from, to] s.
void drawPanel(QPainter &p, const QRect &area, const LiveTrend &trend, double from, double to,
               const QString &title, const QColor &colour, double LiveTrendPoint::*value,
               bool withBest, bool withTimeLabels)
{
    const QRect plot = area.adjusted(58, 18, -12, withTimeLabels ? -20 : -4);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawText(area.adjusted(6, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, title);
    p.drawRect(plot);

    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const LiveTrendPoint &point : trend.points())
        if (std::isfinite(point.*value)) {
            lo = std::min(lo, point.*value);
            hi = std::max(hi, point.*value);
        }
    if (withBest && trend.hasBest()) {
        lo = std::min(lo, trend.best().nfDb);
        hi = std::max(hi, trend.best().nfDb);
    }
    const auto x = [&](double t) {
        return plot.left() + (t - from) / (to - from) * plot.width();
    };
    for (const TimeTick &tick : timeTicks(from, to)) {
        p.setPen(QPen(Qt::lightGray, 0, Qt::DotLine));
        p.drawLine(QPointF(x(tick.seconds), plot.top()), QPointF(x(tick.seconds), plot.bottom()));
        if (withTimeLabels) {
            p.setPen(Qt::black);
            p.drawText(QRectF(x(tick.seconds) - 40, plot.bottom() + 2, 80, 16), Qt::AlignCenter,
                       tick.label);
        }
    }
    if (lo > hi)
        return; // nothing to draw yet
    const double margin = std::max(0.1 * (hi - lo), 0.02);
    lo -= margin;
    hi += margin;
    const auto y = [&](double v) {
        return plot.bottom() - (v - lo) / (hi - lo) * plot.height();
    };
    p.setPen(Qt::black);
    for (const double t : {0.0, 0.5, 1.0}) {
        const double v = lo + t * (hi - lo);
        p.drawText(QRectF(area.left(), y(v) - 8, 54, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', 2));
    }

    p.save();
    p.setClipRect(plot);
    // Polylines one pixel wide, broken where a point has no value: a full trend (600 points a
    // panel) costs about 1 ms to draw; antialiased at 1.5 pixels it cost 49 ms, twice a
    // second on the window thread.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 1.0));
    QPolygonF line;
    const auto flush = [&] {
        if (line.size() > 1)
            p.drawPolyline(line);
        line.clear();
    };
    for (const LiveTrendPoint &point : trend.points()) {
        if (!std::isfinite(point.*value)) {
            flush();
            continue;
        }
        line << QPointF(x(point.seconds), y(point.*value));
    }
    flush();
    if (withBest && trend.hasBest()) {
        const LiveTrendPoint &best = trend.best();
        p.setPen(QPen(Qt::darkGreen, 1.0, Qt::DashLine));
        p.drawLine(QPointF(plot.left(), y(best.nfDb)), QPointF(plot.right(), y(best.nfDb)));
        if (best.seconds >= from && best.seconds <= to) {
            p.setBrush(Qt::darkGreen);
            p.drawEllipse(QPointF(x(best.seconds), y(best.nfDb)), 3.5, 3.5);
        }
    }
    p.restore();
    if (withBest && trend.hasBest()) {
        p.setPen(Qt::darkGreen);
        p.drawText(area.adjusted(0, 2, -14, 0), Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("best so far %1 dB (dashed)")
                       .arg(QString::number(trend.best().nfDb, 'f', 2)));
    }
}

} // namespace

void LiveTrendStrip::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const auto &points = m_trend.points();
    // From Start until the span is full, then the last span.
    double to = points.empty() ? 0.0 : points.back().seconds;
    const double from = std::max(0.0, to - m_trend.spanSeconds());
    to = std::max(to, from + 10.0);
    const int half = height() / 2;
    drawPanel(p, QRect(0, 0, width(), half), m_trend, from, to, QStringLiteral("NF (dB)"),
              Qt::darkBlue, &LiveTrendPoint::nfDb, true, false);
    drawPanel(p, QRect(0, half, width(), height() - half), m_trend, from, to,
              QStringLiteral("Gain (dB), against time since Start"), Qt::darkRed,
              &LiveTrendPoint::gainDb, false, true);
}

} // namespace quillon
