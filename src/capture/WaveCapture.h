#pragma once

#include "capture/AudioBackend.h"
#include "capture/WaveFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace quillon {

struct Settings;
class WaveCapture;

// The largest block in bytes. 10 s of 96 kHz stereo 24-bit audio is 5,760,000 bytes.
inline constexpr std::uint32_t kCaptureBufferBytes = 6'000'000;

// Audio the ring of capture buffers holds besides the block a page callback is working on,
// so that a delivery thread kept off the processor for this long loses nothing.
inline constexpr std::uint32_t kCaptureRingMs = 200;

// Capture buffers for blocks of `blockFrames` frames at `sampleRate` Hz: one for the page
// callback plus enough to hold kCaptureRingMs of audio, at least 2 and at most
// kMaxCaptureBuffers (reached only below 320 frames at 96 kHz, which no page asks for).
// 1024 frames at 96 kHz: 20; 100 ms at 11.025 kHz: 4; blocks of 200 ms or more: 2.
int captureRingDepth(std::uint32_t blockFrames, std::uint32_t sampleRate);

// A page's block handler. Runs on the engine's delivery thread, once per filled block:
// header.data holds header.bytesRecorded bytes of whole frames in the capture format.
// To go on capturing it hands the block back with WaveCapture::requeue(header); a
// callback that ends its measurement does not. A callback must finish in bounded time:
// stopCapture waits for a callback that is in the middle of a block, so a callback that
// waits for the window thread must give up once WaveCapture::running() turns false.
using CaptureCallback = std::function<void(WaveCapture &, CaptureHeader &)>;

// The program's one sound-input engine. Derives the capture format from Settings, opens
// device Settings::waveInDevice of `devices`, keeps a ring of captureRingDepth buffers
// queued and hands every filled one, in order, to the CaptureCallback of the page that
// started the capture. The memory behind the buffers (twice kCaptureBufferBytes) is
// allocated once with the engine; each start cuts it into the ring for its block length.
//
// Threads: deriveFormat, probeDevice, startCapture*, stopCapture and the destructor run
// on the window thread. The callback runs on the delivery thread, which exists while a
// capture runs; from there only running(), the block counter, requeue() and stopCapture
// may be called. The running flag is set before the device starts and cleared before it
// is reset; the delivery thread tests it before it hands a block to the callback.
class WaveCapture
{
public:
    // Allocates the capture memory; `settings` and `devices` must outlive the engine.
    WaveCapture(const Settings &settings, AudioBackend &devices);
    ~WaveCapture();
    WaveCapture(const WaveCapture &) = delete;
    WaveCapture &operator=(const WaveCapture &) = delete;

    // Rebuilds the capture format from the format fields of Settings. Callers do this
    // before every probe or start.
    void deriveFormat();
    const CaptureFormat &format() const { return m_format; }

    // Opens device Settings::waveInDevice with the capture format (a real open, not a
    // format query) and closes it at once. Whether it opened. Only while no capture runs.
    bool probeDevice();

    // Starts capturing blocks of Settings::captureTimeMs of audio: captureTimeMs ×
    // avgBytesPerSec / 1000 bytes (64-bit product), rounded down to whole frames, then
    // as startCaptureBytes.
    int startCapture(CaptureCallback callback);
    // Starts capturing blocks of `blockLength` bytes rounded down to whole frames. Stops
    // a running capture first. Returns kCaptureOk when running, else the error code
    // (kCaptureInvalidParam for a length that is 0 after rounding or larger than a
    // buffer, or for an empty callback) and the engine is idle with the device closed.
    int startCaptureBytes(CaptureCallback callback, std::uint32_t blockLength);

    // Stops the capture; true when one was running. On the window thread: once it has
    // returned no callback is running or will run for that capture, and the device is
    // closed. From inside a callback: clears the running flag so that no further block
    // is delivered; the device is released at the next stopCapture, start, probe or
    // destruction on the window thread.
    bool stopCapture();

    // The running flag. Any thread.
    bool running() const { return m_running.load(std::memory_order_acquire); }

    // The block counter: 0 at every start; the callbacks read and advance it as their
    // reading position.
    int blockCounter() const { return m_blockCounter.load(std::memory_order_relaxed); }
    // Counts one block and returns its position in the capture: 0 for the first.
    int nextBlock() { return m_blockCounter.fetch_add(1, std::memory_order_relaxed); }

    // Blocks the device has filled since the last start (delivered to the callback or still
    // waiting in the ring). Any thread. Read right after a switch has taken effect, every
    // block from this number + 1 on was captured wholly after it (the block with this number
    // may have been filling at the time).
    std::uint64_t blocksCaptured() const { return m_queue.filledCount(); }

    // Audio lost since the last start because no buffer was free: frames, and the number
    // of gaps. Any thread.
    std::uint64_t lostFrames() const { return m_queue.lostFrames(); }
    std::uint64_t lostEvents() const { return m_queue.lostEvents(); }

    // The block length of the running (or last) capture in bytes, whole frames.
    std::uint32_t blockLength() const { return m_headers[0].bufferLength; }
    // The capture buffers of the running (or last) capture.
    int bufferCount() const { return m_bufferCount; }

    // Hands a delivered block back for filling (the callback's "add buffer"). Does
    // nothing once the running flag is clear. Delivery thread.
    void requeue(CaptureHeader &header);

private:
    void deliveryLoop();
    // Undoes whatever a start left: shuts the queue down, resets the stream, joins the
    // delivery thread, unprepares the headers and closes the device. Window thread.
    void releaseCapture();
    bool onDeliveryThread() const;

    const Settings &m_settings;
    AudioBackend &m_devices;
    CaptureFormat m_format;

    std::unique_ptr<std::uint8_t[]> m_memory; // 2 x kCaptureBufferBytes
    std::array<CaptureHeader, kMaxCaptureBuffers> m_headers{};
    int m_bufferCount = 2; // headers in use; window thread, set while idle
    BlockQueue m_queue;
    std::unique_ptr<InputStream> m_stream; // open device; window thread only
    CaptureCallback m_callback;            // set before the delivery thread starts
    std::thread m_delivery;

    std::atomic<bool> m_running{false};
    std::atomic<int> m_blockCounter{0};
};

} // namespace quillon
