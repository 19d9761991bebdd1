#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

namespace quillon {

// The plot area of "Show Spectrum": shows the image the page renders (on the window thread)
// and reports the mouse. The plot rectangle sits 50 pixels in from its left edge, 10 from
// its top and right edges, and leaves room below for two rows of labels.
class SpectrumView : public QWidget
{
    Q_OBJECT
public:
    explicit SpectrumView(QWidget *parent = nullptr);

    QRect plotRect() const;
    // The image shown: the view's size, repainted by the page.
    QImage &image() { return m_image; }
    // Where the mouse is over the view, if it is.
    std::optional<QPoint> mouse() const { return m_mouse; }
    // Called on every mouse move over the view and when the mouse leaves it.
    void setMouseHandler(std::function<void()> handler) { m_onMouse = std::move(handler); }
    // Called after a resize, with the image already at the new size.
    void setResizeHandler(std::function<void()> handler) { m_onResize = std::move(handler); }

    QSize sizeHint() const override { return {640, 340}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QImage m_image;
    std::optional<QPoint> m_mouse;
    std::function<void()> m_onMouse;
    std::function<void()> m_onResize;
};

} // namespace quillon
