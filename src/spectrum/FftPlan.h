#pragma once

#include <cstddef>

// FFTW's plan type, without pulling <fftw3.h> into every user of the spectrum library.
struct fftw_plan_s;

namespace quillon {

// One forward real-to-complex FFTW 3 plan (fftw_plan_dft_r2c_1d) of size n with its own
// input and output arrays (SIMD-aligned, allocated when the plan is made, freed with it).
// Planned with FFTW_ESTIMATE, which does not touch the arrays.
//
// Threads: FFTW's planner keeps process-wide state, so making and destroying plans (and
// allocating their arrays) must not run on two threads at once. The program makes and
// destroys plans on the window thread only, at page activation and deactivation, while no
// capture runs; a process-wide mutex around those calls keeps even other callers (tests,
// the CLI) safe. execute() and power() touch only this plan's data and may run on another
// thread (the capture delivery thread) as long as one thread at a time uses the plan and
// the plan is handed over with a happens-before (starting the capture does that).
//
// Move-only: the plan and its arrays have exactly one owner.
class FftPlan
{
public:
    // No plan: valid() is false.
    FftPlan() = default;
    // A plan for size `n` (n >= 2). When FFTW cannot make it, valid() is false.
    explicit FftPlan(int n);
    ~FftPlan();
    FftPlan(FftPlan &&other) noexcept;
    FftPlan &operator=(FftPlan &&other) noexcept;
    FftPlan(const FftPlan &) = delete;
    FftPlan &operator=(const FftPlan &) = delete;

    bool valid() const { return m_plan != nullptr; }
    int size() const { return m_n; }
    // Bins of the power spectrum: n/2 + 1 (0 .. n/2 for an even n, 0 .. (n-1)/2 for an odd n).
    int binCount() const { return m_n / 2 + 1; }

    // The n input values; execute() leaves them as they are.
    double *input() { return m_in; }
    const double *input() const { return m_in; }
    // The raw, unnormalised output: n/2 + 1 complex values, real and imaginary parts
    // interleaved (n + 2 doubles).
    const double *output() const { return m_out; }

    // Transforms input() into output(). Allocates nothing.
    void execute();

    // The power of every bin of the last transform, unnormalised: P(0) = out(0)^2,
    // P(k) = Re(k)^2 + Im(k)^2 for 0 < k < n/2, and P(n/2) = out(n/2)^2 for an even n.
    // Writes binCount() values to `power`.
    void power(double *power) const;

private:
    void release();

    fftw_plan_s *m_plan = nullptr;
    double *m_in = nullptr;
    double *m_out = nullptr;
    int m_n = 0;
};

} // namespace quillon
