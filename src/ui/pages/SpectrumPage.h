#pragma once

#include "spectrum/Passband.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "spectrum/SpectrumHandover.h"
#include "ui/SpectrumPlot.h"
#include "ui/pages/PropertyPage.h"

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;

namespace quillon {

class QuillonEngine;
class SharedValues;
class SpectrumView;
class WaveCapture;
struct CaptureHeader;

// "Show Spectrum", third tab: the live audio spectrum of the receiver over a dB grid.
//
// While the page is active it captures blocks of exactly n frames (n = the Setup page's FFT
// size). The capture callback (delivery thread) turns each into a row with the
// SpectrumAnalyzer and publishes the row through a SpectrumHandover; when publish() asks for
// it, it posts one queued repaint. It never waits for the window thread and never drops a
// block for the sake of drawing: when blocks come faster than the window draws, rows the
// window had no time for are skipped, not the blocks. The window thread takes the newest
// whole row, renders frame, grid, labels and trace into the view's image, reads the
// passband from the row and shows it under the plot, and updates the mouse readout. It
// draws at most one row per screen frame (kDefaultFrameMs): a request that comes sooner waits for
// the frame's end and then takes the newest row, so small blocks (94 a second at 1024
// points and 96 kHz) cost the window thread no more than a screen can show.
//
// Nothing here is stored: divisions (12), top dB (0), span ("Full Scan") and "Average" (off)
// keep their values across activations until the program ends. The averaging count is the
// one shared with Measure Noise ("TraceAverageCount", limited to 1 .. 32), read at every
// activation; the texts under the plot and the box's tooltip say so.
//
// Drawing: the plot keeps frame, grid and labels in a cached image, so a row costs a copy of
// the drawing rectangle and the trace, and only that rectangle of the view is repainted.
class SpectrumPage : public PropertyPage
{
    Q_OBJECT
public:
    SpectrumPage(QuillonEngine &engine, SharedValues &shared, QWidget *parent = nullptr);
    ~SpectrumPage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    const SpectrumScale &scale() const { return m_scale; }
    bool averaging() const { return m_analyzer.averaging(); }
    // n of the current (or last) activation.
    int fftSize() const { return m_fftSize; }
    bool capturing() const { return m_capturing; }

    // Counters since the last activation. Blocks delivered to the callback and blocks turned
    // into rows: any thread. Rows drawn (taken from the hand-over and rendered): window
    // thread.
    std::uint64_t blocksDelivered() const { return m_delivered.load(std::memory_order_relaxed); }
    std::uint64_t blocksComputed() const { return m_computed.load(std::memory_order_relaxed); }
    std::uint64_t rowsDrawn() const { return m_rowsDrawn; }
    std::uint64_t repaintRequests() const { return m_handover.requests(); }

    // The passband of the row shown; found == false before the first row. Its noise
    // bandwidth goes to the Calculator only when the error estimate is at most
    // kOfferableBandwidthError.
    const Passband &passband() const { return m_shownPassband; }
    const PassbandError &shownError() const { return m_shownError; }

    // The FFT size the page uses for a stored size: a size the spectrum cannot use (below 2,
    // only a damaged setting holds one) gives the Setup page's default, 8192.
    static int usableFftSize(int stored);

    // Shortest time between two drawn rows, ms: one frame of a 60 Hz screen.
    static constexpr int kDefaultFrameMs = 16;
    // The passband is read and its text laid out at most once in this many frames (a
    // quarter of a second): a text that changes 60 times a second cannot be read, and its
    // layout would cost more than the trace.
    static constexpr int kFramesPerPassband = 15;
    // Another frame time (tests); a row waiting for the frame's end waits for the new one.
    void setFrameInterval(int ms);

private:
    void buildControls();

    // Delivery thread.
    void onBlock(WaveCapture &capture, CaptureHeader &header, int generation);

    // Window thread.
    void startCapture();
    void stopCapture();
    void onRowReady(int generation);
    void drawLatestRow();
    void redraw();
    void showPassband();
    // The "Passband" span from the passband shown: `fresh` when the span is chosen.
    void fitPassbandSpan(bool fresh);
    void showReadout();
    int sampleRate() const;

    QuillonEngine &m_engine;
    SharedValues &m_shared;
    SpectrumAnalyzer m_analyzer; // window thread while idle, delivery thread while capturing
    SpectrumHandover m_handover; // rows from the delivery thread to the window thread
    PassbandAnalyzer m_passbandAnalyzer;
    SpectrumPlot m_plot;
    SpectrumScale m_scale;
    Passband m_shownPassband;
    PassbandError m_shownError;

    // Window-thread state of the running capture.
    bool m_capturing = false;
    int m_generation = 0; // counts capture starts
    int m_fftSize = 8192;
    std::uint64_t m_rowsDrawn = 0;
    int m_frameMs = kDefaultFrameMs;
    QElapsedTimer m_lastFrame;    // when the last row was drawn
    QElapsedTimer m_lastPassband; // when the passband was last read and shown
    QTimer m_frameTimer;       // a row request that came within a frame of the last row
    std::atomic<std::uint64_t> m_delivered{0};
    std::atomic<std::uint64_t> m_computed{0};

    // Controls.
    SpectrumView *m_view = nullptr;
    QComboBox *m_divisionsList = nullptr;
    QComboBox *m_topList = nullptr;
    QComboBox *m_spanList = nullptr;
    QCheckBox *m_averageBox = nullptr;
    QLabel *m_passbandLabel = nullptr;
    QLabel *m_readoutLabel = nullptr;
};

} // namespace quillon
