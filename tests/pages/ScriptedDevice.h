#pragma once

// A capture device that plays a script of blocks as fast as the engine hands buffers back:
// block k of a capture holds 16-bit samples dc + a, dc - a, dc + a, ... with a the script's
// k-th amplitude (the last one repeats). With dc 0 and an even frame count each block's
// level is exactly a / 32768 and its peak a.

#include "capture/AudioBackend.h"

#include <cstdint>
#include <thread>
#include <vector>

namespace quillon::test {

class ScriptedDevice : public AudioBackend
{
public:
    std::vector<int> amplitudes{1000};
    int dc = 0;
    bool openFails = false;  // the probe fails
    bool startFails = false; // the probe passes, the start does not
    bool silent = false;     // started, but never delivers a block

    int deviceCount() override { return 1; }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        caps.productName = "Scripted";
        caps.formats = ~0u;
        return device == 0;
    }
    int open(int device, const CaptureFormat &, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        if (device != 0 || openFails)
            return kCaptureBadDevice;
        stream = std::make_unique<Stream>(*this, queue);
        return kCaptureOk;
    }

private:
    class Stream : public InputStream
    {
    public:
        Stream(ScriptedDevice &owner, BlockQueue &queue) : InputStream(queue), m_owner(owner) {}
        ~Stream() override { reset(); }
        int start() override
        {
            if (m_owner.startFails)
                return kCaptureError;
            if (!m_owner.silent)
                m_producer = std::thread([this] { run(); });
            return kCaptureOk;
        }
        void reset() override
        {
            queue().shutdown(); // wakes the producer's wait
            if (m_producer.joinable())
                m_producer.join();
        }
        void close() override {}

    private:
        void run()
        {
            for (std::size_t k = 0;; ++k) {
                CaptureHeader *h = queue().waitPopFree();
                if (h == nullptr)
                    return;
                const auto &script = m_owner.amplitudes;
                const int a = script[std::min(k, script.size() - 1)];
                const std::uint32_t frames = h->bufferLength / 2;
                for (std::uint32_t i = 0; i < frames; ++i) {
                    const auto v = static_cast<std::int16_t>(m_owner.dc + (i % 2 ? -a : a));
                    h->data[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
                    h->data[2 * i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
                }
                h->bytesRecorded = frames * 2;
                queue().pushFull(h);
            }
        }

        ScriptedDevice &m_owner;
        std::thread m_producer;
    };
};

} // namespace quillon::test
