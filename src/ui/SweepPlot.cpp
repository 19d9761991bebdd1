#include "ui/SweepPlot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace quillon {

namespace {

// One verdict's colour, as the report and Measure Device show it; its shape says it too.
QColor verdictColour(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        return QColor(0x1b, 0x7f, 0x3a);
    case Verdict::Fail:
        return QColor(0xb0, 0x00, 0x20);
    case Verdict::Indeterminate:
        return QColor(0xb3, 0x6b, 0x00);
    case Verdict::None:
        break;
    }
    return Qt::darkGray;
}

void drawMark(QPainter &p, const QPointF &at, Verdict v, const QColor &plain, bool limited)
{
    if (!limited) {
        p.setBrush(plain);
        p.drawEllipse(at, 2.5, 2.5);
        return;
    }
    const QColor c = verdictColour(v);
    p.setPen(QPen(c, 2));
    switch (v) {
    case Verdict::Pass:
        p.setBrush(c);
        p.drawEllipse(at, 4, 4);
        break;
    case Verdict::Indeterminate: {
        p.setBrush(c);
        const QPointF d[] = {at + QPointF(0, -5), at + QPointF(5, 0), at + QPointF(0, 5),
                             at + QPointF(-5, 0)};
        p.drawPolygon(d, 4);
        break;
    }
    case Verdict::Fail:
        p.drawLine(at + QPointF(-4, -4), at + QPointF(4, 4));
        p.drawLine(at + QPointF(-4, 4), at + QPointF(4, -4));
        break;
    case Verdict::None:
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(at - QPointF(4, 4), QSizeF(8, 8)));
        break;
    }
}

} // namespace

SweepPlot::SweepPlot(const std::vector<SweepRow> &rows, QWidget *parent)
    : QWidget(parent), m_rows(rows)
{
    setMinimumSize(460, 300);
}

void SweepPlot::setLimits(const Limits &limits)
{
    m_limits = limits;
    update();
}

void SweepPlot::setReferences(const std::vector<ReferenceTrace> &references)
{
    m_references = references;
    update();
}

QColor SweepPlot::referenceColour(std::size_t index)
{
    // Apart from the sweep's own blue and red and the verdicts' green and orange.
    static const std::array<QColor, 6> colours{QColor(0x80, 0x00, 0x80), QColor(0x00, 0x80, 0x80),
                                               QColor(0x8b, 0x45, 0x13), QColor(0x60, 0x60, 0x60),
                                               QColor(0xc7, 0x15, 0x85), QColor(0x55, 0x6b, 0x2f)};
    return colours[index % colours.size()];
}

std::vector<SweepPlot::LimitLine> SweepPlot::limitLines(bool gain) const
{
    std::vector<LimitLine> lines;
    if (!m_limits.any() || m_rows.empty())
        return lines;
    // At each point's frequency and at the table's rows between the first and last point.
    std::vector<double> xs;
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const SweepRow &r : m_rows) {
        xs.push_back(r.frequencyMHz);
        lo = std::min(lo, r.frequencyMHz);
        hi = std::max(hi, r.frequencyMHz);
    }
    for (const LimitRow &t : m_limits.table)
        if (t.frequencyMHz > lo && t.frequencyMHz < hi)
            xs.push_back(t.frequencyMHz);
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    for (const int which : {0, 1}) { // NF: its maximum; gain: minimum, maximum
        if (!gain && which == 1)
            break;
        LimitLine line;
        auto flush = [&] {
            if (!line.points.empty())
                lines.push_back(std::move(line));
            line = {};
        };
        for (const double x : xs) {
            const LimitsAt at = limitsAt(m_limits, x);
            const double y = !gain ? at.nfMaxDb : which == 0 ? at.gainMinDb : at.gainMaxDb;
            if (at.covered && std::isfinite(y))
                line.points.emplace_back(x, y);
            else
                flush();
        }
        flush();
    }
    return lines;
}

std::vector<SweepPlot::Mark> SweepPlot::marks(bool gain) const
{
    std::vector<Mark> out;
    for (const SweepRow &r : m_rows) {
        const double v = gain ? r.gainDb : r.nfDb;
        if (!std::isfinite(v))
            continue;
        const ResultVerdict verdict = verdictFor(m_limits, r.frequencyMHz, r.nfDb,
                                                 r.nfHalfWidth95Db, r.gainDb, r.gainHalfWidth95Db);
        out.push_back({r.frequencyMHz, v, gain ? verdict.gain : verdict.nf});
    }
    return out;
}

void SweepPlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    const int half = height() / 2;
    panel(p, QRect(0, 0, width(), half), QStringLiteral("NF (dB)"), Qt::darkBlue, false);
    panel(p, QRect(0, half, width(), height() - half), QStringLiteral("Gain (dB)"), Qt::darkRed,
          true);
}

void SweepPlot::panel(QPainter &p, const QRect &area, const QString &title, const QColor &colour,
                      bool gain)
{
    double SweepRow::*value = gain ? &SweepRow::gainDb : &SweepRow::nfDb;
    double SweepRow::*uncertainty =
        gain ? &SweepRow::gainUncertaintyDb : &SweepRow::nfUncertaintyDb;
    const QRect plot = area.adjusted(62, 22, -14, -30);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawText(area.adjusted(6, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               title + QStringLiteral("  against frequency (MHz); bars ±1 standard uncertainty"));
    p.drawRect(plot);
    double fLo = HUGE_VAL, fHi = -HUGE_VAL, vLo = HUGE_VAL, vHi = -HUGE_VAL;
    auto include = [&](double f, double lowV, double highV) {
        fLo = std::min(fLo, f);
        fHi = std::max(fHi, f);
        vLo = std::min(vLo, lowV);
        vHi = std::max(vHi, highV);
    };
    for (const SweepRow &r : m_rows) {
        const double v = r.*value;
        if (!std::isfinite(v))
            continue;
        const double u = std::isfinite(r.*uncertainty) ? r.*uncertainty : 0.0;
        include(r.frequencyMHz, v - u, v + u);
    }
    for (const ReferenceTrace &t : m_references)
        for (const ReferencePoint &q : t.points)
            if (const double v = gain ? q.gainDb : q.nfDb; std::isfinite(v))
                include(q.frequencyMHz, v, v);
    const std::vector<LimitLine> limits = limitLines(gain);
    for (const LimitLine &l : limits)
        for (const QPointF &q : l.points)
            include(q.x(), q.y(), q.y());
    if (fLo > fHi)
        return; // nothing to draw yet
    if (fHi - fLo < 1e-6) {
        fLo -= 0.5;
        fHi += 0.5;
    }
    const double margin = std::max(0.1 * (vHi - vLo), 0.05);
    vLo -= margin;
    vHi += margin;
    auto x = [&](double f) {
        return plot.left() + (f - fLo) / (fHi - fLo) * plot.width();
    };
    auto y = [&](double v) {
        return plot.bottom() - (v - vLo) / (vHi - vLo) * plot.height();
    };

    // Axis labels: the ends and the middle.
    p.setPen(Qt::black);
    for (const double t : {0.0, 0.5, 1.0}) {
        const double v = vLo + t * (vHi - vLo), f = fLo + t * (fHi - fLo);
        p.drawText(QRectF(area.left(), y(v) - 8, 58, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', 2));
        p.drawText(QRectF(x(f) - 40, plot.bottom() + 4, 80, 16), Qt::AlignCenter,
                   QString::number(f, 'g', 8));
        p.setPen(QPen(Qt::lightGray, 0, Qt::DotLine));
        p.drawLine(QPointF(plot.left(), y(v)), QPointF(plot.right(), y(v)));
        p.setPen(Qt::black);
    }
    p.save();
    p.setClipRect(plot);

    // The reference traces under the sweep's own, thin, each in its colour.
    for (std::size_t i = 0; i < m_references.size(); ++i) {
        p.setPen(QPen(referenceColour(i), 1.2));
        QPointF last;
        bool haveLast = false;
        for (const ReferencePoint &q : m_references[i].points) {
            const double v = gain ? q.gainDb : q.nfDb;
            if (!std::isfinite(v)) {
                haveLast = false;
                continue;
            }
            const QPointF at(x(q.frequencyMHz), y(v));
            if (haveLast)
                p.drawLine(last, at);
            p.drawRect(QRectF(at - QPointF(1.5, 1.5), QSizeF(3, 3)));
            last = at;
            haveLast = true;
        }
    }
    // The limits, dashed.
    p.setPen(QPen(verdictColour(Verdict::Fail), 1.5, Qt::DashLine));
    for (const LimitLine &l : limits) {
        if (l.points.size() == 1) {
            const QPointF at(x(l.points[0].x()), y(l.points[0].y()));
            p.drawLine(at - QPointF(20, 0), at + QPointF(20, 0));
        }
        for (std::size_t k = 1; k < l.points.size(); ++k)
            p.drawLine(QPointF(x(l.points[k - 1].x()), y(l.points[k - 1].y())),
                       QPointF(x(l.points[k].x()), y(l.points[k].y())));
    }

    p.setPen(QPen(colour, 1.5));
    QPointF last;
    bool haveLast = false;
    for (const SweepRow &r : m_rows) {
        const double v = r.*value;
        if (!std::isfinite(v)) {
            haveLast = false;
            continue;
        }
        const QPointF at(x(r.frequencyMHz), y(v));
        if (haveLast)
            p.drawLine(last, at);
        if (std::isfinite(r.*uncertainty)) {
            const double top = y(v + r.*uncertainty), bottom = y(v - r.*uncertainty);
            p.drawLine(QPointF(at.x(), top), QPointF(at.x(), bottom));
            p.drawLine(QPointF(at.x() - 3, top), QPointF(at.x() + 3, top));
            p.drawLine(QPointF(at.x() - 3, bottom), QPointF(at.x() + 3, bottom));
        }
        last = at;
        haveLast = true;
    }
    const bool limited = m_limits.any();
    for (const Mark &m : marks(gain)) {
        p.setPen(QPen(colour, 1.5));
        drawMark(p, QPointF(x(m.frequencyMHz), y(m.value)), m.verdict, colour, limited);
    }
    p.restore();

    // The legend: the sweep, then each reference, top right inside the panel.
    if (!m_references.empty()) {
        const QFontMetrics fm = p.fontMetrics();
        int row = 0;
        auto entry = [&](const QColor &c, const QString &name) {
            const int ty = plot.top() + 4 + row++ * (fm.height() + 2);
            const int w = fm.horizontalAdvance(name);
            const int tx = plot.right() - 8 - w;
            p.fillRect(QRect(tx - 24, ty, w + 30, fm.height()), QColor(255, 255, 255, 220));
            p.setPen(QPen(c, 2));
            p.drawLine(tx - 20, ty + fm.height() / 2, tx - 4, ty + fm.height() / 2);
            p.setPen(Qt::black);
            p.drawText(QRect(tx, ty, w + 2, fm.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
        };
        entry(colour, QStringLiteral("this sweep"));
        for (std::size_t i = 0; i < m_references.size(); ++i)
            entry(referenceColour(i), QString::fromStdString(m_references[i].name));
    }
}

} // namespace quillon
