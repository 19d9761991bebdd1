#include "spectrum/FftPlan.h"

#include <fftw3.h>

#include <mutex>
#include <utility>

namespace quillon {

namespace {

// Serialises every FFTW call other than execution (planner, destruction, allocation).
std::mutex &plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

FftPlan::FftPlan(int n)
{
    if (n < 2)
        return;
    const std::lock_guard lock(plannerMutex());
    // r2c writes n/2 + 1 complex values: n + 2 doubles.
    const std::size_t outDoubles = static_cast<std::size_t>(n) + 2;
    m_in = fftw_alloc_real(static_cast<std::size_t>(n));
    m_out = fftw_alloc_real(outDoubles);
    if (m_in != nullptr && m_out != nullptr) {
        // FFTW_ESTIMATE plans without running trial transforms, so the arrays need no
        // contents yet; zero them so that a transform before the first block is defined.
        for (int i = 0; i < n; ++i)
            m_in[i] = 0.0;
        for (std::size_t i = 0; i < outDoubles; ++i)
            m_out[i] = 0.0;
        m_plan =
            fftw_plan_dft_r2c_1d(n, m_in, reinterpret_cast<fftw_complex *>(m_out), FFTW_ESTIMATE);
    }
    if (m_plan == nullptr) {
        fftw_free(m_in);
        fftw_free(m_out);
        m_in = m_out = nullptr;
        return;
    }
    m_n = n;
}

FftPlan::~FftPlan()
{
    release();
}

FftPlan::FftPlan(FftPlan &&other) noexcept
    : m_plan(std::exchange(other.m_plan, nullptr)), m_in(std::exchange(other.m_in, nullptr)),
      m_out(std::exchange(other.m_out, nullptr)), m_n(std::exchange(other.m_n, 0))
{
}

FftPlan &FftPlan::operator=(FftPlan &&other) noexcept
{
    if (this != &other) {
        release();
        m_plan = std::exchange(other.m_plan, nullptr);
        m_in = std::exchange(other.m_in, nullptr);
        m_out = std::exchange(other.m_out, nullptr);
        m_n = std::exchange(other.m_n, 0);
    }
    return *this;
}

void FftPlan::release()
{
    if (m_plan == nullptr)
        return;
    const std::lock_guard lock(plannerMutex());
    fftw_destroy_plan(m_plan);
    fftw_free(m_in);
    fftw_free(m_out);
    m_plan = nullptr;
    m_in = m_out = nullptr;
    m_n = 0;
}

void FftPlan::execute()
{
    if (m_plan != nullptr)
        fftw_execute(m_plan);
}

void FftPlan::power(double *power) const
{
    if (m_plan == nullptr)
        return;
    const int n = m_n;
    const int half = (n + 1) / 2; // bins 1 .. half - 1 have an imaginary part
    const double *out = m_out;
    power[0] = out[0] * out[0];
    for (int k = 1; k < half; ++k)
        power[k] = out[2 * k] * out[2 * k] + out[2 * k + 1] * out[2 * k + 1];
    if (n % 2 == 0)
        power[n / 2] = out[n] * out[n];
}

} // namespace quillon
