#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// One coefficient set of the 1 kHz high-pass: a fifth-order Butterworth high-pass, -3 dB at
// 1000 Hz, unity gain in the pass band. The feed-forward part (1, -5, 10, -10, 5, -1) is the
// same for every rate; `g` scales the input, c[0]..c[4] weigh the outputs y0 (oldest) to y4.
struct HighPassCoefficients
{
    std::int32_t sampleRate; // Hz
    double g;
    std::array<double, 5> c;
};

// One row per capture rate. The values are part of the measurement: readings taken with
// the filter on are compared with earlier readings, so they are kept digit for digit.
inline constexpr std::array<HighPassCoefficients, 5> kHighPassTable{{
    {11025,
     0.3914231996685447,
     {0.1532114086, -1.0476163381, 2.9336780567, -4.228661119, 3.1623754658}},
    {22050,
     0.6293909994122653,
     {0.3961330287, -2.3455968096, 5.5947463682, -6.7252708414, 4.0787649342}},
    {44100,
     0.7939203031296961,
     {0.6303094476, -3.4420874194, 7.5333403772, -8.2606609327, 4.5390515205}},
    {48000,
     0.808974948643459,
     {0.6544404672, -3.549366072, 7.7126555779, -8.3942487601, 4.5764874733}},
    {96000,
     0.8994935023148453,
     {0.8090885611, -4.2167989742, 8.794596076, -9.1750976076, 4.7882108624}},
}};

// The coefficient row for `sampleRate`; any rate not in the table gets the 96000 row.
const HighPassCoefficients &highPassCoefficientsFor(std::int32_t sampleRate);

// Input and output history of the filter: x[5] and y[5] are the newest values. The input
// history holds inputs already scaled by g.
struct HighPassHistory
{
    std::array<double, 6> x{};
    std::array<double, 6> y{};
};

// The optional 1 kHz high-pass applied to the first channel before a block is measured
// (and before the spectrum is taken). The program uses one instance (QuillonEngine's); the
// Setup page selects its coefficients on the window thread while no capture runs, and the
// capture delivery thread presets and steps it inside a page callback. Not thread-safe by
// itself: only one capture runs at a time, so only one thread uses it at any moment.
class HighPass1kHz
{
public:
    HighPass1kHz() { selectHighPass(96000); }

    // Makes the row for `sampleRate` active (96000 row for a rate not in the table). Does
    // not touch the history.
    void selectHighPass(std::int32_t sampleRate);

    // Sets all twelve history values to `v` (a decoded sample, in sample units). Called at
    // the start of every block: the history is never carried from one block to the next.
    void presetHighPass(double v)
    {
        m_history.x.fill(v);
        m_history.y.fill(v);
    }

    // One filter step on one value, in the order of the samples. The additions run left to
    // right exactly as written; results are compared bit for bit with earlier readings, so
    // the order must not change.
    double operator()(double x)
    {
        auto &h = m_history;
        h.x[0] = h.x[1];
        h.x[1] = h.x[2];
        h.x[2] = h.x[3];
        h.x[3] = h.x[4];
        h.x[4] = h.x[5];
        h.x[5] = m_coefficients.g * x;
        h.y[0] = h.y[1];
        h.y[1] = h.y[2];
        h.y[2] = h.y[3];
        h.y[3] = h.y[4];
        h.y[4] = h.y[5];
        const auto &c = m_coefficients.c;
        h.y[5] = (h.x[5] - h.x[0]) + 5 * (h.x[1] - h.x[4]) + 10 * (h.x[3] - h.x[2]) +
                 c[0] * h.y[0] + c[1] * h.y[1] + c[2] * h.y[2] + c[3] * h.y[3] + c[4] * h.y[4];
        return h.y[5];
    }

    const HighPassCoefficients &coefficients() const { return m_coefficients; }
    const HighPassHistory &history() const { return m_history; }
    void setHistory(const HighPassHistory &history) { m_history = history; }

private:
    HighPassCoefficients m_coefficients{};
    HighPassHistory m_history{};
};

// A filter's coefficients and history copied into plain locals for a tight sample loop.
// Stepping a member array makes every step store and reload twelve values; here the
// history lives in registers. step6() goes further: it treats the history as a ring and
// writes each new value over the oldest instead of shifting, so six steps need no moves at
// all and the ring is back in order after them. Results are bit-identical to
// HighPass1kHz::operator() (same operations, same order). Load from a filter, step, and
// store back so the filter ends the block in the same state as if it had stepped.
class HighPassRun
{
public:
    explicit HighPassRun(const HighPass1kHz &filter)
        : m_g(filter.coefficients().g), m_c0(filter.coefficients().c[0]),
          m_c1(filter.coefficients().c[1]), m_c2(filter.coefficients().c[2]),
          m_c3(filter.coefficients().c[3]), m_c4(filter.coefficients().c[4])
    {
        const auto &h = filter.history();
        m_x0 = h.x[0], m_x1 = h.x[1], m_x2 = h.x[2], m_x3 = h.x[3], m_x4 = h.x[4], m_x5 = h.x[5];
        m_y0 = h.y[0], m_y1 = h.y[1], m_y2 = h.y[2], m_y3 = h.y[3], m_y4 = h.y[4], m_y5 = h.y[5];
    }

    double step(double x)
    {
        m_x0 = m_x1, m_x1 = m_x2, m_x2 = m_x3, m_x3 = m_x4, m_x4 = m_x5;
        m_x5 = m_g * x;
        m_y0 = m_y1, m_y1 = m_y2, m_y2 = m_y3, m_y3 = m_y4, m_y4 = m_y5;
        m_y5 = (m_x5 - m_x0) + 5 * (m_x1 - m_x4) + 10 * (m_x3 - m_x2) + m_c0 * m_y0 + m_c1 * m_y1 +
               m_c2 * m_y2 + m_c3 * m_y3 + m_c4 * m_y4;
        return m_y5;
    }

    // Six steps: each takes its input from next() and hands its output to out(y), in the
    // order of the samples.
    template <typename Next, typename Out> void step6(Next &&next, Out &&out)
    {
        out(ringStep(next(), m_x0, m_x1, m_x2, m_x3, m_x4, m_x5, m_y0, m_y1, m_y2, m_y3, m_y4,
                     m_y5));
        out(ringStep(next(), m_x1, m_x2, m_x3, m_x4, m_x5, m_x0, m_y1, m_y2, m_y3, m_y4, m_y5,
                     m_y0));
        out(ringStep(next(), m_x2, m_x3, m_x4, m_x5, m_x0, m_x1, m_y2, m_y3, m_y4, m_y5, m_y0,
                     m_y1));
        out(ringStep(next(), m_x3, m_x4, m_x5, m_x0, m_x1, m_x2, m_y3, m_y4, m_y5, m_y0, m_y1,
                     m_y2));
        out(ringStep(next(), m_x4, m_x5, m_x0, m_x1, m_x2, m_x3, m_y4, m_y5, m_y0, m_y1, m_y2,
                     m_y3));
        out(ringStep(next(), m_x5, m_x0, m_x1, m_x2, m_x3, m_x4, m_y5, m_y0, m_y1, m_y2, m_y3,
                     m_y4));
    }

    void storeInto(HighPass1kHz &filter) const
    {
        filter.setHistory(
            {{m_x0, m_x1, m_x2, m_x3, m_x4, m_x5}, {m_y0, m_y1, m_y2, m_y3, m_y4, m_y5}});
    }

private:
    // One step on a ring: a* is the oldest slot, f* the newest. The new values go into the
    // a slots; after the step the roles are x0 = xb ... x4 = xf, x5 = xa (and so for y).
    double ringStep(double in, double &xa, double xb, double xc, double xd, double xe, double xf,
                    double &ya, double yb, double yc, double yd, double ye, double yf) const
    {
        xa = m_g * in;
        ya = (xa - xb) + 5 * (xc - xf) + 10 * (xe - xd) + m_c0 * yb + m_c1 * yc + m_c2 * yd +
             m_c3 * ye + m_c4 * yf;
        return ya;
    }

    double m_g, m_c0, m_c1, m_c2, m_c3, m_c4;
    double m_x0, m_x1, m_x2, m_x3, m_x4, m_x5;
    double m_y0, m_y1, m_y2, m_y3, m_y4, m_y5;
};

} // namespace quillon
