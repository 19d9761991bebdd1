#pragma once

#include "measure/Limits.h"
#include "measure/ReferenceTrace.h"
#include "measure/SweepCsv.h"

#include <QColor>
#include <QWidget>

#include <vector>

class QPainter;

namespace quillon {

// The Sweep page's plot: NF (upper panel) and gain (lower panel) against frequency, each
// point with an error bar of one standard uncertainty where the sweep gives one. With limits
// each panel draws its limit lines (dashed) and marks each point by its verdict's shape as
// well as its colour (circle PASS, diamond INDETERMINATE, cross FAIL, hollow square no
// verdict); reference traces from earlier sweeps are drawn as thin lines, one colour each,
// named in a legend. Draws the rows it is given, which the page owns and fills; the page
// calls update() as points arrive. Window thread.
class SweepPlot : public QWidget
{
public:
    explicit SweepPlot(const std::vector<SweepRow> &rows, QWidget *parent = nullptr);

    void setLimits(const Limits &limits);
    void setReferences(const std::vector<ReferenceTrace> &references);

    // The colour of the reference trace at `index` (the legend's and the line's).
    static QColor referenceColour(std::size_t index);

    // What a panel draws, in data units: a limit line's corners at the points' frequencies
    // (the table's rows between them included), and each point's verdict.
    struct LimitLine
    {
        std::vector<QPointF> points; // x MHz, y dB; a gap where the limit is not given
    };
    std::vector<LimitLine> limitLines(bool gain) const;
    struct Mark
    {
        double frequencyMHz;
        double value;
        Verdict verdict;
    };
    std::vector<Mark> marks(bool gain) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void panel(QPainter &p, const QRect &area, const QString &title, const QColor &colour,
               bool gain);

    const std::vector<SweepRow> &m_rows;
    Limits m_limits;
    std::vector<ReferenceTrace> m_references;
};

} // namespace quillon
