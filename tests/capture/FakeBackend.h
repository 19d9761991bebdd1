#pragma once

#include "capture/AudioBackend.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillon::test {

// A capture backend whose one stream is driven by the test: produce() plays the part of
// the device's producer thread. Records every call the engine makes, in order, and fails
// the step chosen in `failAt` with `failCode`.
class FakeBackend : public AudioBackend
{
public:
    enum class Step
    {
        None,
        Open,
        Prepare1,
        Prepare2,
        Add1,
        Add2,
        Start
    };

    struct Log
    {
        std::mutex mutex;
        std::vector<std::string> calls;
        void add(std::string call)
        {
            std::lock_guard lock(mutex);
            calls.push_back(std::move(call));
        }
        std::vector<std::string> take()
        {
            std::lock_guard lock(mutex);
            return std::exchange(calls, {});
        }
    };

    class Stream : public InputStream
    {
    public:
        Stream(FakeBackend &owner, BlockQueue &queue) : InputStream(queue), m_owner(owner) {}
        ~Stream() override
        {
            m_stopProducer = true;
            if (m_producer.joinable())
                m_producer.join();
            m_owner.m_stream = nullptr;
        }

        int prepare(CaptureHeader &h) override
        {
            m_owner.log.add("prepare " + std::to_string(h.index + 1));
            if (m_owner.failAt == (h.index == 0 ? Step::Prepare1 : Step::Prepare2))
                return m_owner.failCode;
            return InputStream::prepare(h);
        }
        int unprepare(CaptureHeader &h) override
        {
            m_owner.log.add("unprepare " + std::to_string(h.index + 1));
            return InputStream::unprepare(h);
        }
        // Also the callbacks' re-queue: logged only before the start, so that the log
        // shows the engine's own sequence; re-queues are counted.
        int addBuffer(CaptureHeader &h) override
        {
            if (!m_started) {
                m_owner.log.add("add " + std::to_string(h.index + 1));
                if (m_owner.failAt == (h.index == 0 ? Step::Add1 : Step::Add2))
                    return m_owner.failCode;
            } else {
                ++m_owner.requeues;
            }
            return InputStream::addBuffer(h);
        }
        int start() override
        {
            m_owner.log.add("start");
            if (m_owner.failAt == Step::Start)
                return m_owner.failCode;
            m_started = true;
            if (m_owner.autoProduce)
                m_producer = std::thread([this] { produceUntilReset(); });
            return kCaptureOk;
        }
        // Like a device: once reset() has returned the producer touches no header.
        void reset() override
        {
            m_owner.log.add("reset");
            m_stopProducer = true;
            if (m_producer.joinable())
                m_producer.join();
        }
        void close() override { m_owner.log.add("close"); }

        // Producer side: fills the next free header with `bytes` bytes of `value` and hands
        // it over. False (and the frames counted as lost) when no header is free.
        bool produce(std::uint8_t value, std::uint32_t bytes = 0)
        {
            CaptureHeader *h = queue().tryPopFree();
            if (h == nullptr) {
                queue().addLostFrames(1);
                return false;
            }
            const std::uint32_t n = bytes != 0 ? bytes : h->bufferLength;
            std::memset(h->data, value, n);
            h->bytesRecorded = n;
            queue().pushFull(h);
            return true;
        }

    private:
        // A device that runs much faster than real time: block n holds bytes of value
        // n & 0xFF; audio is lost while the callback holds both blocks.
        void produceUntilReset()
        {
            std::uint8_t next = 0;
            while (!m_stopProducer) {
                if (produce(next))
                    ++next;
                std::this_thread::yield();
            }
        }

        FakeBackend &m_owner;
        std::atomic<bool> m_started{false};
        std::atomic<bool> m_stopProducer{false};
        std::thread m_producer;
    };

    int deviceCount() override { return static_cast<int>(names.size()); }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        if (device < 0 || device >= deviceCount())
            return false;
        caps.productName = names[static_cast<std::size_t>(device)];
        caps.formats = 0x4;
        return true;
    }
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        log.add("open " + std::to_string(device));
        lastFormat = format;
        if (device < 0 || device >= deviceCount())
            return kCaptureBadDevice;
        if (failAt == Step::Open)
            return failCode;
        auto s = std::make_unique<Stream>(*this, queue);
        m_stream = s.get();
        stream = std::move(s);
        return kCaptureOk;
    }

    // The open stream, or nullptr. Valid between a successful start and the stop.
    Stream *stream() { return m_stream; }

    std::vector<std::string> names{"Fake A"};
    Step failAt = Step::None;
    int failCode = kCaptureError;
    Log log;
    std::atomic<int> requeues{0};
    bool autoProduce = false; // the stream runs its own producer thread once started
    CaptureFormat lastFormat;

private:
    Stream *m_stream = nullptr;
};

} // namespace quillon::test
