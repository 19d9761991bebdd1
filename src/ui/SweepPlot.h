#pragma once

#include "measure/SweepCsv.h"

#include <QWidget>

#include <vector>

class QPainter;

namespace quillon {

// The Sweep page's plot: NF (upper panel) and gain (lower panel) against frequency, each
// point with an error bar of one standard uncertainty where the sweep gives one. Draws the
// rows it is given, which the page owns and fills; the page calls update() as points
// arrive. Window thread.
class SweepPlot : public QWidget
{
public:
    explicit SweepPlot(const std::vector<SweepRow> &rows, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void panel(QPainter &p, const QRect &area, const QString &title, const QColor &colour,
               double SweepRow::*value, double SweepRow::*uncertainty);

    const std::vector<SweepRow> &m_rows;
};

} // namespace quillon
