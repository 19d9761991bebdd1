#include "capture/HighPass.h"

namespace quillon {

const HighPassCoefficients &highPassCoefficientsFor(std::int32_t sampleRate)
{
    for (const auto &row : kHighPassTable) {
        if (row.sampleRate == sampleRate)
            return row;
    }
    return kHighPassTable.back(); // the 96000 row
}

void HighPass1kHz::selectHighPass(std::int32_t sampleRate)
{
    m_coefficients = highPassCoefficientsFor(sampleRate);
}

} // namespace quillon
