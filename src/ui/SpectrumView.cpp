#include "ui/SpectrumView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace quillon {

SpectrumView::SpectrumView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("spectrumPlot"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent); // the image covers the whole view
    setMinimumSize(sizeHint());
}

QRect SpectrumView::plotRect() const
{
    // Below the plot: a gap of 8 pixels, the row of frequencies and the "KHz" row.
    const int below = 8 + 2 * fontMetrics().height() + 2;
    return QRect(QPoint(50, 10), QPoint(width() - 10 - 1, height() - below - 1));
}

void SpectrumView::paintEvent(QPaintEvent *event)
{
    // A row repaints only the drawing rectangle: copy no more of the image than that.
    QPainter painter(this);
    const QRect part = event->rect();
    painter.drawImage(part.topLeft(), m_image, part);
}

void SpectrumView::resizeEvent(QResizeEvent *)
{
    // Allocated here only, never per drawing.
    m_image = QImage(size(), QImage::Format_RGB32);
    m_image.fill(palette().color(QPalette::Window));
    if (m_onResize)
        m_onResize();
}

void SpectrumView::mouseMoveEvent(QMouseEvent *event)
{
    m_mouse = event->position().toPoint();
    if (m_onMouse)
        m_onMouse();
}

void SpectrumView::leaveEvent(QEvent *)
{
    m_mouse.reset();
    if (m_onMouse)
        m_onMouse();
}

} // namespace quillon
