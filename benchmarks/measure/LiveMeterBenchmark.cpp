// The live meter's cost per group: 100 ms blocks at 44.1 kHz and 96 kHz, from a device that
// only copies prepared bench noise into the buffers (the level of the switch state at each
// block's start), so that what is timed is the meter's own work: the delivery thread's block
// measurement and hand-over, the live thread's switching, Y factor, smoothing window of 32
// and uncertainties. Wall time per group with every thread running; the ratio to real time
// is the audio of a group (0.5 s) over that.
#include "bench/NoiseGenerator.h"
#include "capture/AudioBackend.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/LiveMeter.h"
#include "measure/QuillonEngine.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {
namespace {

class ReplayDevice : public AudioBackend
{
public:
    const VirtualBench *bench = nullptr;
    std::array<std::vector<std::uint8_t>, 4> noise; // one block of each state, 16-bit mono

    int deviceCount() override { return 1; }
    bool deviceCaps(int, DeviceCaps &caps) override
    {
        caps.productName = "Replay";
        caps.formats = 0xFFFFF;
        return true;
    }
    int open(int, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        stream = std::make_unique<Stream>(queue, *this, format);
        return kCaptureOk;
    }

    void prepare(const CaptureFormat &format, std::uint32_t frames)
    {
        GeneratorSetup g;
        g.sampleRate = format.samplesPerSec;
        g.statePower = {1e-4, 1e-2, 1e-4, 1e-2};
        BenchGenerator gen(g);
        for (int s = 0; s < 4; ++s) {
            noise[static_cast<std::size_t>(s)].resize(frames * 2u);
            std::atomic<int> state{s};
            gen.generate(noise[static_cast<std::size_t>(s)].data(), frames, state);
        }
    }

private:
    class Stream : public InputStream
    {
    public:
        Stream(BlockQueue &q, const ReplayDevice &d, const CaptureFormat &) : InputStream(q), m_d(d)
        {
        }
        ~Stream() override { reset(); }
        int start() override
        {
            m_thread = std::thread([this] {
                while (CaptureHeader *h = queue().waitPopFree()) {
                    const auto &src = m_d.noise[static_cast<std::size_t>(
                        m_d.bench->stateWord().load(std::memory_order_relaxed) & 3)];
                    const std::size_t n = std::min<std::size_t>(h->bufferLength, src.size());
                    std::copy_n(src.data(), n, h->data);
                    h->bytesRecorded = static_cast<std::uint32_t>(n);
                    queue().pushFull(h);
                }
            });
            return kCaptureOk;
        }
        void reset() override
        {
            if (!m_thread.joinable())
                return;
            queue().shutdown();
            m_thread.join();
        }
        void close() override { reset(); }

    private:
        const ReplayDevice &m_d;
        std::thread m_thread;
    };
};

struct NoSink : MessageSink
{
    void showMessage(int) override {}
};

struct Counter : LiveListener
{
    void update(const LiveUpdate &) override
    {
        {
            const std::lock_guard lock(mutex);
            ++groups;
        }
        changed.notify_all();
    }
    void waitFor(long long n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return groups >= n; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    long long groups = 0;
};

void liveGroups(benchmark::State &state)
{
    ReplayDevice replay;
    NoSink sink;
    EngineOptions options;
    options.portAudio = false;
    options.soundDevices = {&replay};
    QuillonEngine engine(sink, std::move(options));
    replay.bench = &engine.bench();
    Settings &s = engine.settings();
    s.waveInDevice = 0;
    applyFormatRow(s, static_cast<int>(state.range(0)));
    s.captureTimeMs = 100;
    s.switchPortName = "Virtual bench";
    engine.capture().deriveFormat();
    replay.prepare(engine.capture().format(), s.sampleRate / 20);

    LiveMeter meter(engine);
    Counter counter;
    LivePlan plan;
    plan.conditions.enrDb = 15.0;
    plan.smoothingGroups = 32;
    plan.stated = {0.1, 0.5};
    ReceiverCalibration cal;
    cal.valid = true;
    cal.onPower = 1e-3;
    cal.offPower = 1e-4;
    cal.enrDb = 15.0;
    meter.start(plan, cal, counter);
    counter.waitFor(40); // the window full
    long long target = 40;
    for (auto _ : state) {
        target += 1;
        counter.waitFor(target);
    }
    meter.stop();
    state.SetItemsProcessed(state.iterations());
    state.counters["x_realtime"] = benchmark::Counter(
        0.5 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// Format rows: 8 = 44.1 kHz mono 16-bit, 16 = 96 kHz mono 16-bit.
BENCHMARK(liveGroups)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace quillon

BENCHMARK_MAIN();
