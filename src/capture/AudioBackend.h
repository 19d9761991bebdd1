#pragma once

#include "capture/WaveFormat.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

// Error codes of the capture start sequence and of backends (0 = success). The values
// follow the classic multimedia codes so that they read the same in any report.
inline constexpr int kCaptureOk = 0;
inline constexpr int kCaptureError = 1;         // unspecified failure
inline constexpr int kCaptureBadDevice = 2;     // no such device number
inline constexpr int kCaptureAllocated = 4;     // device busy
inline constexpr int kCaptureNoMemory = 7;      // buffer too small or missing
inline constexpr int kCaptureInvalidParam = 11; // bad header, block length 0
inline constexpr int kCaptureBadFormat = 32;    // format refused by the device

// Most capture buffers in the engine's ring (and slots in each of the queue's rings). The
// smallest block a page asks for, 1024 frames at 96 kHz (10.7 ms), needs 20 for 200 ms.
inline constexpr int kMaxCaptureBuffers = 64;

// One of the engine's capture buffers with its bookkeeping. The engine owns the headers and
// the memory behind them for the program's life; a backend only fills `data` and sets
// `bytesRecorded`.
struct CaptureHeader
{
    std::uint8_t *data = nullptr;    // this buffer's part of the engine's capture memory
    std::uint32_t bufferLength = 0;  // block length in bytes: whole frames only
    std::uint32_t bytesRecorded = 0; // set by the producer before the header is delivered
    // Frames the producer had dropped since the start when it handed this block over. A
    // producer drops audio only between blocks (never inside one), so a block whose count
    // exceeds its predecessor's follows a gap. Stamped by BlockQueue::pushFull.
    std::uint64_t lostFramesBefore = 0;
    int index = 0;         // 0 .. kMaxCaptureBuffers - 1
    bool prepared = false; // window thread only
};

// The hand-over between a backend's producer (PortAudio's real-time callback, or the
// virtual bench's generator thread) and the engine's delivery thread. Two single-producer
// single-consumer rings of header pointers:
//   free: headers queued for filling. Pushed by the engine (window thread before the
//         start, delivery thread when a page callback re-queues); popped by the producer.
//   full: filled headers. Pushed by the producer; popped by the delivery thread.
// Push and pop are lock-free and never allocate, so the real-time callback may use them.
// shutdown() wakes every waiter; waits return nullptr from then on until reset().
class BlockQueue
{
public:
    BlockQueue() = default;
    BlockQueue(const BlockQueue &) = delete;
    BlockQueue &operator=(const BlockQueue &) = delete;

    // Empties both rings and clears the shutdown state. Only while no producer or
    // consumer is running (window thread, capture idle).
    void reset()
    {
        m_free.clear();
        m_full.clear();
        m_filled.store(0, std::memory_order_relaxed);
        m_shutdown.store(false, std::memory_order_release);
    }

    // Queues a header for filling. False when the ring is full (cannot happen with the
    // engine's kMaxCaptureBuffers headers at most).
    bool pushFree(CaptureHeader *h)
    {
        if (!m_free.push(h))
            return false;
        m_freeSignal.fetch_add(1, std::memory_order_release);
        m_freeSignal.notify_all();
        return true;
    }

    // Producer thread: the next header to fill, or nullptr when none is queued.
    CaptureHeader *tryPopFree() { return m_free.pop(); }

    // Producer thread: waits until a header is queued; nullptr after shutdown().
    CaptureHeader *waitPopFree()
    {
        for (;;) {
            const std::uint32_t seen = m_freeSignal.load(std::memory_order_acquire);
            if (m_shutdown.load(std::memory_order_acquire))
                return nullptr;
            if (CaptureHeader *h = m_free.pop())
                return h;
            m_freeSignal.wait(seen, std::memory_order_acquire);
        }
    }

    // Producer thread: hands a filled header to the delivery thread, stamped with the audio
    // lost so far (the producer is the only thread that adds to it).
    void pushFull(CaptureHeader *h)
    {
        h->lostFramesBefore = m_lostFrames.load(std::memory_order_relaxed);
        m_full.push(h);
        m_filled.fetch_add(1, std::memory_order_release);
        m_fullSignal.fetch_add(1, std::memory_order_release);
        m_fullSignal.notify_all();
    }

    // Delivery thread: waits for a filled header; nullptr after shutdown().
    CaptureHeader *waitPopFull()
    {
        for (;;) {
            const std::uint32_t seen = m_fullSignal.load(std::memory_order_acquire);
            if (m_shutdown.load(std::memory_order_acquire))
                return nullptr;
            if (CaptureHeader *h = m_full.pop())
                return h;
            m_fullSignal.wait(seen, std::memory_order_acquire);
        }
    }

    // Wakes every waiting thread; their waits return nullptr.
    void shutdown()
    {
        m_shutdown.store(true, std::memory_order_release);
        m_freeSignal.fetch_add(1, std::memory_order_release);
        m_freeSignal.notify_all();
        m_fullSignal.fetch_add(1, std::memory_order_release);
        m_fullSignal.notify_all();
    }

    bool isShutdown() const { return m_shutdown.load(std::memory_order_acquire); }

    // Blocks the producer has handed over since reset(), delivered or not. Any thread. A
    // block pushed after a read of this count was still being filled when it was read.
    std::uint64_t filledCount() const { return m_filled.load(std::memory_order_acquire); }

    // Audio that could not be captured because no buffer was free, in frames.
    // Producer thread adds; any thread reads. `newGap` is false when these frames extend
    // the gap of the previous call (a producer that drops over several of its periods
    // counts one gap).
    void addLostFrames(std::uint64_t frames, bool newGap = true)
    {
        m_lostFrames.fetch_add(frames, std::memory_order_relaxed);
        if (newGap)
            m_lostEvents.fetch_add(1, std::memory_order_relaxed);
    }
    std::uint64_t lostFrames() const { return m_lostFrames.load(std::memory_order_relaxed); }
    // How many times audio was dropped (each a gap in the captured stream).
    std::uint64_t lostEvents() const { return m_lostEvents.load(std::memory_order_relaxed); }
    void resetLost()
    {
        m_lostFrames.store(0, std::memory_order_relaxed);
        m_lostEvents.store(0, std::memory_order_relaxed);
    }

private:
    // Lock-free single-producer single-consumer ring of header pointers.
    class Ring
    {
    public:
        bool push(CaptureHeader *h)
        {
            const std::size_t tail = m_tail.load(std::memory_order_relaxed);
            if (tail - m_head.load(std::memory_order_acquire) >= kCapacity)
                return false;
            m_slots[tail % kCapacity] = h;
            m_tail.store(tail + 1, std::memory_order_release);
            return true;
        }
        CaptureHeader *pop()
        {
            const std::size_t head = m_head.load(std::memory_order_relaxed);
            if (head == m_tail.load(std::memory_order_acquire))
                return nullptr;
            CaptureHeader *h = m_slots[head % kCapacity];
            m_head.store(head + 1, std::memory_order_release);
            return h;
        }
        void clear()
        {
            m_head.store(0, std::memory_order_relaxed);
            m_tail.store(0, std::memory_order_release);
        }

    private:
        static constexpr std::size_t kCapacity = kMaxCaptureBuffers;
        std::array<CaptureHeader *, kCapacity> m_slots{};
        std::atomic<std::size_t> m_head{0};
        std::atomic<std::size_t> m_tail{0};
    };

    Ring m_free;
    Ring m_full;
    std::atomic<std::uint32_t> m_freeSignal{0};
    std::atomic<std::uint32_t> m_fullSignal{0};
    std::atomic<bool> m_shutdown{false};
    std::atomic<std::uint64_t> m_filled{0};
    std::atomic<std::uint64_t> m_lostFrames{0};
    std::atomic<std::uint64_t> m_lostEvents{0};
};

// An open input device. The engine calls every method on the window thread, in the order
// of its start and stop sequences: prepare (per header), addBuffer (per header), start;
// and reset, unprepare, close. The stream's producer fills headers it pops from the
// queue's free ring, whole frames only, sets bytesRecorded and pushes them to the full
// ring; when no header is free it drops the audio and counts it with addLostFrames.
class InputStream
{
public:
    explicit InputStream(BlockQueue &queue) : m_queue(queue) {}
    virtual ~InputStream() = default;
    InputStream(const InputStream &) = delete;
    InputStream &operator=(const InputStream &) = delete;

    virtual int prepare(CaptureHeader &h)
    {
        if (h.data == nullptr || h.bufferLength == 0)
            return kCaptureInvalidParam;
        h.prepared = true;
        return kCaptureOk;
    }
    virtual int unprepare(CaptureHeader &h)
    {
        h.prepared = false;
        return kCaptureOk;
    }
    // Queues a header for filling. Also called on the delivery thread when a page
    // callback re-queues its block, so it must not block.
    virtual int addBuffer(CaptureHeader &h)
    {
        if (!h.prepared)
            return kCaptureInvalidParam;
        return m_queue.pushFree(&h) ? kCaptureOk : kCaptureError;
    }
    // Starts producing.
    virtual int start() = 0;
    // Stops producing. Returns promptly; once it has returned the producer touches no
    // header. Filled headers may still sit in the full ring; the engine discards them.
    virtual void reset() = 0;
    // Releases the device. After reset.
    virtual void close() = 0;

protected:
    BlockQueue &queue() { return m_queue; }

private:
    BlockQueue &m_queue;
};

// What a device says of itself.
struct DeviceCaps
{
    std::string productName;   // stable across runs: stored as "WaveInDeviceName"
    std::uint32_t formats = 0; // kFormat*16 bits of the 16-bit formats it supports
};

// A family of input devices chosen at run time (PortAudio, the virtual bench, a test
// backend). Device numbers run from 0 to deviceCount() - 1 within the backend. Window
// thread only.
class AudioBackend
{
public:
    virtual ~AudioBackend() = default;
    virtual int deviceCount() = 0;
    // False when the device's capabilities cannot be read ("Unknown Device").
    virtual bool deviceCaps(int device, DeviceCaps &caps) = 0;
    // The product name alone, "" when unknown. Backends whose format query opens the
    // device override this with a cheaper look-up.
    virtual std::string productName(int device)
    {
        DeviceCaps caps;
        return deviceCaps(device, caps) ? caps.productName : std::string();
    }
    // Opens `device` for `format`; the stream produces into `queue`. A real open: the
    // format is refused here if the device cannot capture it. Returns kCaptureOk and the
    // stream, or an error code and no stream.
    virtual int open(int device, const CaptureFormat &format, BlockQueue &queue,
                     std::unique_ptr<InputStream> &stream) = 0;
};

} // namespace quillon
