#include "bench/VirtualBenchBackend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

// One open bench stream. start/reset/close run on the window thread; run() on the stream's
// own generator thread, which is the only thread that touches the generator and the header
// being filled.
class VirtualBenchStream final : public InputStream
{
public:
    VirtualBenchStream(BlockQueue &queue, const VirtualBench &bench, const CaptureFormat &format,
                       const GeneratorSetup &setup, double speed)
        : InputStream(queue), m_state(bench.stateWord()), m_live(bench.liveStatePowers()),
          m_generator(setup), m_openPowers(setup.statePower),
          m_frameBytes(format.blockAlign), m_rate(format.samplesPerSec), m_speed(speed)
    {
        if (m_speed > 0.0) {
            // About 10 ms of wall time per chunk: fine-grained enough for a late consumer to
            // lose only what it really missed, coarse enough not to wake too often.
            const double frames = std::ceil(m_rate * m_speed * 0.010);
            m_chunkFrames = static_cast<std::uint32_t>(std::clamp(frames, 1.0, 1048576.0));
        } else {
            // Unpaced: the chunk only bounds how long a stop waits for the thread.
            m_chunkFrames = std::max<std::uint32_t>(m_rate / 20, 256);
        }
    }

    ~VirtualBenchStream() override { reset(); }

    // A header must hold at least one frame.
    int prepare(CaptureHeader &h) override
    {
        if (h.data == nullptr || h.bufferLength < m_frameBytes)
            return kCaptureInvalidParam;
        h.prepared = true;
        return kCaptureOk;
    }

    int start() override
    {
        if (m_thread.joinable())
            return kCaptureError;
        m_stop.store(false, std::memory_order_relaxed);
        m_thread = std::thread([this] { run(); });
        return kCaptureOk;
    }

    // Returns promptly whatever the consumer does: the generator waits only on its own
    // stop-aware sleep or on the free ring, and the queue's shutdown wakes the latter.
    void reset() override
    {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard lock(m_mutex);
            m_stop.store(true, std::memory_order_relaxed);
        }
        m_wake.notify_all();
        // An unpaced generator may be waiting for a free header; the engine shuts the queue
        // down before a reset, but a stop must not depend on it.
        if (m_speed <= 0.0 && !queue().isShutdown())
            queue().shutdown();
        m_thread.join();
    }

    void close() override { reset(); }

private:
    void run();
    bool stopping() const { return m_stop.load(std::memory_order_relaxed); }
    // Sleeps until `when`; false when a stop came first.
    bool sleepUntil(Clock::time_point when)
    {
        std::unique_lock lock(m_mutex);
        return !m_wake.wait_until(lock, when, [this] { return stopping(); });
    }
    // Writes up to `frames` frames into the current header; returns how many it wrote.
    std::uint32_t fill(std::uint32_t frames);

    // A DUT changed while the stream runs: looked at before every chunk.
    void followLiveDut()
    {
        bool active = false;
        std::array<double, 4> powers{};
        if (m_live.poll(m_liveSeen, active, powers))
            m_generator.setStatePowers(active ? powers : m_openPowers);
    }

    const std::atomic<int> &m_state;
    const LiveStatePowers &m_live;
    BenchGenerator m_generator;
    const std::array<double, 4> m_openPowers;
    std::uint64_t m_liveSeen = 0; // generator thread
    const std::uint32_t m_frameBytes;
    const std::uint32_t m_rate;
    const double m_speed;
    std::uint32_t m_chunkFrames = 1;

    // Generator thread only.
    CaptureHeader *m_header = nullptr;
    std::uint32_t m_filled = 0; // frames already in m_header

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
};

std::uint32_t VirtualBenchStream::fill(std::uint32_t frames)
{
    const std::uint32_t capacity = m_header->bufferLength / m_frameBytes;
    const std::uint32_t n = std::min(frames, capacity - m_filled);
    m_generator.generate(m_header->data + static_cast<std::size_t>(m_filled) * m_frameBytes, n,
                         m_state);
    m_filled += n;
    if (m_filled == capacity) {
        m_header->bytesRecorded = capacity * m_frameBytes;
        CaptureHeader *full = m_header;
        m_header = nullptr;
        m_filled = 0;
        queue().pushFull(full);
    }
    return n;
}

void VirtualBenchStream::run()
{
    followLiveDut();
    m_generator.warmUp(m_generator.settleFrames(), m_state.load(std::memory_order_relaxed));

    if (m_speed <= 0.0) {
        while (!stopping()) {
            if (m_header == nullptr) {
                m_header = queue().waitPopFree();
                if (m_header == nullptr)
                    break; // queue shut down
                m_filled = 0;
            }
            followLiveDut();
            fill(m_chunkFrames);
        }
        m_header = nullptr;
        return;
    }

    // Real-time schedule: the chunk that ends at audio frame f is delivered at
    // start + f / (rate x speed). Sleeping to an absolute schedule keeps the average rate
    // exact; a generator that fell behind catches up without sleeping.
    const Clock::time_point t0 = Clock::now();
    const double framesPerSecond = static_cast<double>(m_rate) * m_speed;
    std::uint64_t scheduled = 0; // audio frames whose time has come
    std::uint64_t lost = 0;      // frames of the current gap, not yet reported
    while (true) {
        scheduled += m_chunkFrames;
        const auto due =
            t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                     static_cast<double>(scheduled) / framesPerSecond));
        if (!sleepUntil(due))
            break;
        followLiveDut();
        std::uint32_t remaining = m_chunkFrames;
        while (remaining > 0) {
            if (m_header == nullptr) {
                m_header = queue().tryPopFree();
                if (m_header == nullptr) {
                    // No buffer queued: this audio is gone, as on a real device.
                    lost += remaining;
                    break;
                }
                m_filled = 0;
                if (lost > 0) {
                    queue().addLostFrames(lost);
                    lost = 0;
                }
            }
            remaining -= fill(remaining);
        }
    }
    if (lost > 0)
        queue().addLostFrames(lost);
    m_header = nullptr;
}

} // namespace

bool VirtualBenchBackend::deviceCaps(int device, DeviceCaps &caps)
{
    if (device != 0)
        return false;
    caps.productName = kProductName;
    caps.formats = kAllFormats;
    return true;
}

bool VirtualBenchBackend::supports(const CaptureFormat &f)
{
    if (f.formatTag != 1 || (f.channels != 1 && f.channels != 2))
        return false;
    if (f.bitsPerSample != 16 && f.bitsPerSample != 24)
        return false;
    if (f.blockAlign != f.channels * f.bitsPerSample / 8)
        return false;
    if (f.avgBytesPerSec != static_cast<std::uint32_t>(f.blockAlign) * f.samplesPerSec)
        return false;
    return std::any_of(WaveFormatTable.begin(), WaveFormatTable.end(), [&](const auto &row) {
        return row.sampleRate == static_cast<std::int32_t>(f.samplesPerSec);
    });
}

int VirtualBenchBackend::open(int device, const CaptureFormat &format, BlockQueue &queue,
                              std::unique_ptr<InputStream> &stream)
{
    stream.reset();
    if (device != 0)
        return kCaptureBadDevice;
    if (!supports(format))
        return kCaptureBadFormat;
    const GeneratorSetup setup = m_bench.nextGeneratorSetup(format);
    stream = std::make_unique<VirtualBenchStream>(queue, m_bench, format, setup,
                                                  m_bench.parameters().speed);
    return kCaptureOk;
}

} // namespace quillon
