#include "ui/SweepPlot.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quillon {

SweepPlot::SweepPlot(const std::vector<SweepRow> &rows, QWidget *parent)
    : QWidget(parent), m_rows(rows)
{
    setMinimumSize(460, 300);
}

void SweepPlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    const int half = height() / 2;
    panel(p, QRect(0, 0, width(), half), QStringLiteral("NF (dB)"), Qt::darkBlue, &SweepRow::nfDb,
          &SweepRow::nfUncertaintyDb);
    panel(p, QRect(0, half, width(), height() - half), QStringLiteral("Gain (dB)"), Qt::darkRed,
          &SweepRow::gainDb, &SweepRow::gainUncertaintyDb);
}

void SweepPlot::panel(QPainter &p, const QRect &area, const QString &title, const QColor &colour,
                      double SweepRow::*value, double SweepRow::*uncertainty)
{
    const QRect plot = area.adjusted(62, 22, -14, -30);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawText(area.adjusted(6, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               title + QStringLiteral("  against frequency (MHz); bars ±1 standard uncertainty"));
    p.drawRect(plot);
    double fLo = HUGE_VAL, fHi = -HUGE_VAL, vLo = HUGE_VAL, vHi = -HUGE_VAL;
    for (const SweepRow &r : m_rows) {
        const double v = r.*value;
        if (!std::isfinite(v))
            continue;
        const double u = std::isfinite(r.*uncertainty) ? r.*uncertainty : 0.0;
        fLo = std::min(fLo, r.frequencyMHz);
        fHi = std::max(fHi, r.frequencyMHz);
        vLo = std::min(vLo, v - u);
        vHi = std::max(vHi, v + u);
    }
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
        p.setBrush(colour);
        p.drawEllipse(at, 2.5, 2.5);
        last = at;
        haveLast = true;
    }
}

} // namespace quillon
