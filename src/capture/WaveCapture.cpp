#include "capture/WaveCapture.h"

#include "core/Settings.h"

#include <system_error>
#include <utility>

namespace quillon {

namespace {

// The engine whose delivery thread is the calling thread, if any.
thread_local const WaveCapture *t_deliveringEngine = nullptr;

} // namespace

WaveCapture::WaveCapture(const Settings &settings, AudioBackend &devices)
    : m_settings(settings), m_devices(devices)
{
    for (int i = 0; i < 2; ++i) {
        m_buffers[i] = std::make_unique_for_overwrite<std::uint8_t[]>(kCaptureBufferBytes);
        m_headers[i].data = m_buffers[i].get();
        m_headers[i].index = i;
    }
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

    // 2. Both headers point at their buffers with the block length.
    for (int i = 0; i < 2; ++i) {
        CaptureHeader &h = m_headers[i];
        h.data = m_buffers[i].get();
        h.bufferLength = blockLength;
        h.bytesRecorded = 0;
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
    // 5. Prepare header 1; on error close.
    rc = stream.prepare(m_headers[0]);
    if (rc != kCaptureOk) {
        stream.close();
        m_stream.reset();
        m_callback = nullptr;
        return rc;
    }
    // 6. Prepare header 2; on error unprepare header 1 and close.
    rc = stream.prepare(m_headers[1]);
    if (rc != kCaptureOk) {
        stream.unprepare(m_headers[0]);
        stream.close();
        m_stream.reset();
        m_callback = nullptr;
        return rc;
    }
    // 7. Queue header 1, then (if that worked) header 2.
    rc = stream.addBuffer(m_headers[0]);
    if (rc == kCaptureOk)
        rc = stream.addBuffer(m_headers[1]);
    // 8. The flag is set before the device starts, so that the first block is delivered.
    m_running.store(true, std::memory_order_release);
    if (rc == kCaptureOk) {
        try {
            m_delivery = std::thread([this] { deliveryLoop(); });
        } catch (const std::system_error &) {
            rc = kCaptureNoMemory;
        }
    }
    // 9. Start.
    if (rc == kCaptureOk) {
        rc = stream.start();
        if (rc == kCaptureOk)
            return kCaptureOk;
    }
    // 10. Add or start failed: clear the flag, unprepare both, close. The delivery thread
    //     (if it was created) has nothing to deliver; it is woken and joined first.
    m_running.store(false, std::memory_order_release);
    m_queue.shutdown();
    if (m_delivery.joinable())
        m_delivery.join();
    stream.unprepare(m_headers[0]);
    stream.unprepare(m_headers[1]);
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
        m_stream->unprepare(m_headers[0]);
        m_stream->unprepare(m_headers[1]);
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
