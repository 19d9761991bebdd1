#pragma once

#include "bench/VirtualBench.h"
#include "capture/AudioBackend.h"

namespace quillon {

// The virtual bench as a sound-input device: one device that captures every one of the 20
// formats of WaveFormatTable. Each open stream runs its own generator thread that writes
// the bench's noise, in whole frames, into the headers the engine queues, paced by the
// bench's Speed (read at open): 1 = real time, a late consumer losing audio as with a real
// device; 0 = as fast as headers come back, never losing audio; other values scale real
// time. The bench must outlive the backend and every stream it opened.
class VirtualBenchBackend : public AudioBackend
{
public:
    static constexpr const char *kProductName = "Quillon virtual bench";
    // kFormat*16 bits of every 16-bit row; the 24-bit rows open as well.
    static constexpr std::uint32_t kAllFormats =
        kFormat1M16 | kFormat1S16 | kFormat2M16 | kFormat2S16 | kFormat4M16 | kFormat4S16 |
        kFormat48M16 | kFormat48S16 | kFormat96M16 | kFormat96S16;

    explicit VirtualBenchBackend(VirtualBench &bench) : m_bench(bench) {}

    int deviceCount() override { return 1; }
    bool deviceCaps(int device, DeviceCaps &caps) override;
    // kCaptureBadDevice for a device other than 0; kCaptureBadFormat for a format that is
    // not one of the 20 rows (PCM, 1 or 2 channels, 16 or 24 bits, a table rate, consistent
    // block align and byte rate).
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override;

    // True when `format` is one the bench captures.
    static bool supports(const CaptureFormat &format);

private:
    VirtualBench &m_bench;
};

} // namespace quillon
