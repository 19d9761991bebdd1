// The bench's DUT changed while a stream runs: the stream's next blocks have the new DUT's
// power, the stored parameters and their truth stay, clearing or new parameters go back,
// and a stream opened meanwhile starts with the new DUT.
#include "bench/VirtualBenchBackend.h"
#include "capture/Level.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace quillon {
namespace {

constexpr int kOnIn = switchStateIndex(true, true);

// A stream of the bench backend with its own buffers, taken one block at a time.
class BenchStream
{
public:
    BenchStream(VirtualBenchBackend &backend, std::uint32_t frames)
        : m_memory(kBuffers * frames * 2)
    {
        EXPECT_EQ(backend.open(0, m_format, m_queue, m_stream), kCaptureOk);
        for (int i = 0; i < kBuffers; ++i) {
            CaptureHeader &h = m_headers[static_cast<std::size_t>(i)];
            h.data = m_memory.data() + static_cast<std::size_t>(i) * frames * 2;
            h.bufferLength = frames * 2;
            h.index = i;
            m_stream->prepare(h);
            m_stream->addBuffer(h);
        }
        m_stream->start();
    }
    ~BenchStream()
    {
        m_queue.shutdown();
        m_stream->reset();
        m_stream->close();
    }
    // The mean power of the next `n` blocks; the blocks already filled (up to the ring's
    // depth) are skipped first when `fresh`.
    double power(int n, bool fresh)
    {
        for (int i = 0; fresh && i < kBuffers; ++i)
            next();
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += next();
        return sum / n;
    }

private:
    double next()
    {
        CaptureHeader *h = m_queue.waitPopFull();
        const BlockStats s = measureBlock(h->data, h->bytesRecorded, m_format, nullptr);
        h->bytesRecorded = 0;
        m_stream->addBuffer(*h);
        return s.L * s.L;
    }
    static constexpr int kBuffers = 3;
    CaptureFormat m_format{1, 1, 44100, 88200, 2, 16};
    BlockQueue m_queue;
    std::unique_ptr<InputStream> m_stream;
    std::array<CaptureHeader, kBuffers> m_headers{};
    std::vector<std::uint8_t> m_memory;
};

TEST(BenchLiveDut, ARunningStreamFollowsTheDutAndTheParametersStay)
{
    BenchParameters p;
    p.seed = 7;
    p.speed = 0.0;
    VirtualBench bench(p);
    bench.setOutputs(true, true);
    VirtualBenchBackend backend(bench);
    const double before = bench.truth().states[kOnIn].power;

    BenchStream stream(backend, 44100); // 1 s blocks: about 2% scatter each
    EXPECT_NEAR(stream.power(3, false) / before, 1.0, 0.05);

    // 10 dB more gain and 2 dB more noise figure.
    bench.setLiveDut(3.0, 30.0);
    const double after = bench.liveTruth().states[kOnIn].power;
    EXPECT_GT(after / before, 9.0);
    EXPECT_NEAR(stream.power(3, true) / after, 1.0, 0.05);
    EXPECT_DOUBLE_EQ(bench.parameters().dutNfDb, 1.0);
    EXPECT_DOUBLE_EQ(bench.parameters().dutGainDb, 20.0);
    EXPECT_DOUBLE_EQ(bench.truth().states[kOnIn].power, before);
    EXPECT_NEAR(bench.liveTruth().dutNfDb, 3.0, 1e-12);

    // A stream opened now starts with the new DUT.
    {
        BenchStream second(backend, 44100);
        EXPECT_NEAR(second.power(2, false) / after, 1.0, 0.05);
    }

    // Out of range: held within the DUT's ranges (gain up to 60 dB).
    bench.setLiveDut(1.0, 99.0);
    EXPECT_DOUBLE_EQ(bench.liveTruth().dutGainDb, 20.0); // the default for an unusable value

    bench.clearLiveDut();
    EXPECT_NEAR(stream.power(3, true) / before, 1.0, 0.05);
    EXPECT_DOUBLE_EQ(bench.liveTruth().states[kOnIn].power, before);

    // New parameters end a live DUT as well.
    bench.setLiveDut(3.0, 30.0);
    bench.setParameters(p);
    EXPECT_DOUBLE_EQ(bench.liveTruth().states[kOnIn].power, before);
}

} // namespace
} // namespace quillon
