#include "capture/WaveCapture.h"

#include "core/Settings.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quillon {

namespace {

// The engine whose delivery thread is the calling thread, if any.
thread_local const WaveCapture *t_deliveringEngine = nullptr;

constexpr std::size_t kCaptureMemoryBytes = 2 * std::size_t{kCaptureBufferBytes};

} // namespace

int captureRingDepth(std::uint32_t blockFrames, std::uint32_t sampleRate)
{
    if (blockFrames == 0)
        return 2;
    const std::uint64_t ringFrames = (std::uint64_t{sampleRate} * kCaptureRingMs + 999) / 1000;
    const std::uint64_t blocks = (ringFrames + blockFrames - 1) / blockFrames;
    return static_cast<int>(std::clamp<std::uint64_t>(blocks + 1, 2, kMaxCaptureBuffers));
}

WaveCapture::WaveCapture(const Settings &settings, AudioBackend &devices)
    : m_settings(settings), m_devices(devices)
{
    m_memory = std::make_unique_for_overwrite<std::uint8_t[]>(kCaptureMemoryBytes);
    for (int i = 0; i < kMaxCaptureBuffers; ++i)
        m_headers[static_cast<std::size_t>(i)].index = i;
    m_headers[0].data = m_memory.get();
    deriveFormat();
}

WaveCapture::~WaveCapture()
{
    m_running.store(false, std::memory_order_release);
    releaseCapture();
}

void WaveCapture::deriveFormat()
{
    m_format = quillon::deriveFormat(m_settings);
}

bool WaveCapture::onDeliveryThread() const
{
    return t_deliveringEngine == this;
}

bool WaveCapture::probeDevice()
{
    if (onDeliveryThread())
        return false;
    if (!running())
        releaseCapture();  // a capture stopped from its callback may still hold the device
    BlockQueue probeQueue; // nothing is produced: the stream is never started
    std::unique_ptr<InputStream> stream;
    if (m_devices.open(m_settings.waveInDevice, m_format, probeQueue, stream) != kCaptureOk)
        return false;
    if (stream)
        stream->close();
    return true;
}

int WaveCapture::startCapture(CaptureCallback callback)
{
    // 10 s of 96 kHz stereo 24-bit is 5,760,000,000 before the division: 64 bits.
    const std::uint64_t bytes =
        std::uint64_t{m_settings.captureTimeMs} * m_format.avgBytesPerSec / 1000;
    const std::uint32_t length =
        bytes > kCaptureBufferBytes ? kCaptureBufferBytes + 1 : static_cast<std::uint32_t>(bytes);
    return startCaptureBytes(std::move(callback), length);
}

int WaveCapture::startCaptureBytes(CaptureCallback callback, std::uint32_t blockLength)
{
    if (onDeliveryThread())
        return kCaptureError; // a start must join the delivery thread: window thread only

    // 1. A running capture (or one its callback stopped) is stopped first.
    m_running.store(false, std::memory_order_release);
    releaseCapture();

    // Whole frames only: a frame that straddled two blocks would leave the next block
    // byte-shifted. 100 ms of 11.025 kHz mono 16-bit is 2205 bytes, read as 2204.
    const std::uint32_t frameBytes = m_format.blockAlign;
    if (frameBytes == 0 || !callback || blockLength > kCaptureBufferBytes)
        return kCaptureInvalidParam;
    blockLength -= blockLength % frameBytes;
    if (blockLength == 0)
        return kCaptureInvalidParam;

    // 2. The ring: its headers point at consecutive parts of the capture memory. Blocks of
    //    200 ms or more get two buffers of up to kCaptureBufferBytes each; shorter ones
    //    enough for kCaptureRingMs, which is far below the memory's size.
    const int depth = std::min<int>(captureRingDepth(blockLength / frameBytes, m_format.samplesPerSec),
                                    static_cast<int>(kCaptureMemoryBytes / blockLength));
    m_bufferCount = depth;
    for (int i = 0; i < depth; ++i) {
        CaptureHeader &h = m_headers[static_cast<std::size_t>(i)];
        h.data = m_memory.get() + std::size_t{blockLength} * static_cast<std::size_t>(i);
        h.bufferLength = blockLength;
        h.bytesRecorded = 0;
        h.lostFramesBefore = 0;
        h.index = i;
        h.prepared = false;
    }
    // 3. The new capture's reading position and lost-audio count start at 0.
    m_blockCounter.store(0, std::memory_order_relaxed);
    m_queue.reset();
    m_queue.resetLost();
    m_callback = std::move(callback);

    // 4. Open. On error nothing else was done. The stream is kept in m_stream from here
    //    on, before the delivery thread exists, because requeue() reads it there.
    int rc = m_devices.open(m_settings.waveInDevice, m_format, m_queue, m_stream);
    if (rc != kCaptureOk || !m_stream) {
        m_stream.reset();
        m_callback = nullptr;
        return rc != kCaptureOk ? rc : kCaptureError;
    }
    InputStream &stream = *m_stream;
    // 5. Prepare the headers in order; on error unprepare those prepared and close.
    for (int i = 0; i < depth; ++i) {
        rc = stream.prepare(m_headers[static_cast<std::size_t>(i)]);
        if (rc != kCaptureOk) {
            for (int j = 0; j < i; ++j)
                stream.unprepare(m_headers[static_cast<std::size_t>(j)]);
            stream.close();
            m_stream.reset();
            m_callback = nullptr;
            return rc;
        }
    }
    // 6. Queue them in order, up to the first that fails.
    for (int i = 0; i < depth && rc == kCaptureOk; ++i)
        rc = stream.addBuffer(m_headers[static_cast<std::size_t>(i)]);
    // 7. The flag is set before the device starts, so that the first block is delivered.
    m_running.store(true, std::memory_order_release);
    if (rc == kCaptureOk) {
        try {
            m_delivery = std::thread([this] { deliveryLoop(); });
        } catch (const std::system_error &) {
            rc = kCaptureNoMemory;
        }
    }
    // 8. Start.
    if (rc == kCaptureOk) {
        rc = stream.start();
        if (rc == kCaptureOk)
            return kCaptureOk;
    }
    // 9. Add or start failed: clear the flag, unprepare all, close. The delivery thread
    //    (if it was created) has nothing to deliver; it is woken and joined first.
    m_running.store(false, std::memory_order_release);
    m_queue.shutdown();
    if (m_delivery.joinable())
        m_delivery.join();
    for (int i = 0; i < depth; ++i)
        stream.unprepare(m_headers[static_cast<std::size_t>(i)]);
    stream.close();
    m_stream.reset();
    m_callback = nullptr;
    return rc;
}

bool WaveCapture::stopCapture()
{
    if (onDeliveryThread()) {
        // Inside a callback: no further block is delivered once this returns (the
        // delivery loop ends after the callback); the window thread releases the rest.
        const bool wasRunning = m_running.exchange(false, std::memory_order_acq_rel);
        m_queue.shutdown();
        return wasRunning;
    }
    // The flag is cleared first, so that blocks handed over during the reset are
    // neither processed nor re-queued.
    const bool wasRunning = m_running.exchange(false, std::memory_order_acq_rel);
    releaseCapture();
    return wasRunning;
}

void WaveCapture::releaseCapture()
{
    if (!m_stream && !m_delivery.joinable())
        return; // idle: nothing to call
    // Wakes the delivery thread if it waits for a block; it ends once any callback in
    // progress returns.
    m_queue.shutdown();
    if (m_stream)
        m_stream->reset(); // the producer touches no header from here on
    if (m_delivery.joinable())
        m_delivery.join();
    if (m_stream) {
        for (int i = 0; i < m_bufferCount; ++i)
            m_stream->unprepare(m_headers[static_cast<std::size_t>(i)]);
        m_stream->close();
        m_stream.reset();
    }
    m_callback = nullptr;
}

void WaveCapture::requeue(CaptureHeader &header)
{
    if (!running() || !m_stream)
        return;
    header.bytesRecorded = 0;
    m_stream->addBuffer(header);
}

void WaveCapture::deliveryLoop()
{
    t_deliveringEngine = this;
    while (CaptureHeader *h = m_queue.waitPopFull()) {
        // A block that arrives after the flag was cleared is dropped: not processed and
        // not re-queued.
        if (!running())
            continue;
        m_callback(*this, *h);
    }
    t_deliveringEngine = nullptr;
}

} // namespace quillon
