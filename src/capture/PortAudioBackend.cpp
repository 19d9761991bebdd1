#include "capture/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace quillon {

namespace {

void dropAlsaMessage(const char *, int, const char *, int, const char *, ...) {}

void dropJackMessage(const char *) {}

// Points file descriptor 2 at /dev/null while it lives (every thread's stderr). PortAudio's
// ALSA scan opens ALSA's "jack" device, and libjack then sets up its metadata store with
// Berkeley DB in /dev/shm; where that folder cannot be written (containers, chroots) Berkeley
// DB prints "/dev/shm/jack_db-<uid>/__db.001: No such file or directory" straight to stderr,
// past the ALSA and JACK handlers. Used only around Pa_Initialize.
class QuietStderr
{
public:
    QuietStderr()
    {
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0)
            return;
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (m_saved >= 0)
            ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
    }
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int m_saved = -1;
};

// Maps a PortAudio error of Pa_OpenStream / Pa_StartStream to the capture error codes.
int captureError(PaError err)
{
    switch (err) {
    case paNoError:
        return kCaptureOk;
    case paInvalidDevice:
        return kCaptureBadDevice;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paBadIODeviceCombination:
    case paIncompatibleStreamHostApi:
        return kCaptureBadFormat;
    case paDeviceUnavailable:
        return kCaptureAllocated;
    case paInsufficientMemory:
        return kCaptureNoMemory;
    default:
        return kCaptureError;
    }
}

// One open PortAudio input stream. Its real-time callback copies whole frames into the
// header that is filling (taken from the queue's free ring), hands the header to the
// delivery thread when it holds bufferLength bytes, and drops audio while no header is
// free. It never blocks, allocates or locks.
class PortAudioStream final : public InputStream
{
public:
    PortAudioStream(BlockQueue &queue, std::uint32_t frameBytes)
        : InputStream(queue), m_frameBytes(frameBytes)
    {
    }
    ~PortAudioStream() override
    {
        if (m_stream != nullptr) {
            Pa_AbortStream(m_stream);
            Pa_CloseStream(m_stream);
        }
    }

    PaError openStream(const PaStreamParameters &input, double sampleRate)
    {
        // No clipping or dithering: the samples reach the buffer as the device gave them.
        const PaError err =
            Pa_OpenStream(&m_stream, &input, nullptr, sampleRate, paFramesPerBufferUnspecified,
                          paClipOff | paDitherOff, &PortAudioStream::streamCallback, this);
        if (err != paNoError)
            m_stream = nullptr;
        return err;
    }

    int prepare(CaptureHeader &h) override
    {
        if (h.bufferLength < m_frameBytes)
            return kCaptureInvalidParam; // could never hold a frame
        return InputStream::prepare(h);
    }

    int start() override
    {
        m_filling = nullptr;
        m_filled = 0;
        m_dropping = false;
        return captureError(Pa_StartStream(m_stream));
    }

    void reset() override
    {
        // Pa_AbortStream returns once the callback thread has ended: from then on no
        // header is touched. A partly filled header is abandoned.
        if (m_stream != nullptr)
            Pa_AbortStream(m_stream);
        m_filling = nullptr;
        m_filled = 0;
    }

    void close() override
    {
        if (m_stream != nullptr)
            Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }

private:
    static int streamCallback(const void *input, void *, unsigned long frames,
                              const PaStreamCallbackTimeInfo *, PaStreamCallbackFlags, void *self)
    {
        static_cast<PortAudioStream *>(self)->consume(static_cast<const std::uint8_t *>(input),
                                                      frames);
        return paContinue;
    }

    // PortAudio's callback thread.
    void consume(const std::uint8_t *input, unsigned long frames)
    {
        while (frames > 0) {
            if (m_filling == nullptr) {
                m_filling = queue().tryPopFree();
                m_filled = 0;
                if (m_filling == nullptr) {
                    queue().addLostFrames(frames, !m_dropping);
                    m_dropping = true;
                    return;
                }
                m_dropping = false;
            }
            CaptureHeader &h = *m_filling;
            const std::uint32_t room = (h.bufferLength - m_filled) / m_frameBytes; // frames
            const std::uint32_t n =
                static_cast<std::uint32_t>(std::min<unsigned long>(frames, room));
            const std::size_t bytes = std::size_t{n} * m_frameBytes;
            if (input != nullptr) {
                std::memcpy(h.data + m_filled, input, bytes);
                input += bytes;
            } else {
                std::memset(h.data + m_filled, 0, bytes); // input underflow: silence
            }
            m_filled += static_cast<std::uint32_t>(bytes);
            frames -= n;
            if (h.bufferLength - m_filled < m_frameBytes) {
                // Full: whole frames only, so the next block starts on a frame.
                h.bytesRecorded = m_filled;
                queue().pushFull(&h);
                m_filling = nullptr;
            }
        }
    }

    const std::uint32_t m_frameBytes;
    PaStream *m_stream = nullptr;
    // Producer state: written by start()/reset() while the callback does not run.
    CaptureHeader *m_filling = nullptr;
    std::uint32_t m_filled = 0; // bytes in *m_filling
    bool m_dropping = false;    // the previous period was dropped
};

} // namespace

void silenceAudioLibraryMessages()
{
    snd_lib_error_set_handler(&dropAlsaMessage);
    // libjack comes with PortAudio's JACK host; without a server its client prints
    // "Cannot connect to server ..." for every probe. Do not try to start one either.
    setenv("JACK_NO_START_SERVER", "1", 0);
    using SetHandler = void (*)(void (*)(const char *));
    for (const char *name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void *fn = dlsym(RTLD_DEFAULT, name))
            reinterpret_cast<SetHandler>(fn)(&dropJackMessage);
    }
}

std::vector<std::string> uniqueDeviceNames(const std::vector<std::string> &names)
{
    std::set<std::string> taken(names.begin(), names.end());
    std::set<std::string> seen;
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const std::string &name : names) {
        if (seen.insert(name).second) {
            out.push_back(name);
            continue;
        }
        for (int n = 2;; ++n) {
            std::string candidate = name + " (" + std::to_string(n) + ")";
            if (!taken.count(candidate)) {
                taken.insert(candidate);
                out.push_back(std::move(candidate));
                break;
            }
        }
    }
    return out;
}

PortAudioBackend::PortAudioBackend()
{
    silenceAudioLibraryMessages();
    {
        const QuietStderr quiet;
        m_initialised = Pa_Initialize() == paNoError;
    }
    if (!m_initialised)
        return;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    std::vector<std::string> names;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
        if (info == nullptr || info->maxInputChannels < 1)
            continue;
        Device d;
        d.paIndex = i;
        d.maxInputChannels = info->maxInputChannels;
        // The high latency: a noise meter wants no dropped periods, not a fast response.
        d.latency = info->defaultHighInputLatency;
        m_devices.push_back(d);
        names.push_back(info->name != nullptr ? info->name : "");
    }
    names = uniqueDeviceNames(names);
    for (std::size_t i = 0; i < m_devices.size(); ++i)
        m_devices[i].name = std::move(names[i]);
}

PortAudioBackend::~PortAudioBackend()
{
    if (m_initialised)
        Pa_Terminate();
}

int PortAudioBackend::deviceCount()
{
    return static_cast<int>(m_devices.size());
}

bool PortAudioBackend::deviceCaps(int device, DeviceCaps &caps)
{
    if (device < 0 || device >= deviceCount())
        return false;
    Device &d = m_devices[static_cast<std::size_t>(device)];
    if (!d.formatsKnown) {
        d.formats = 0;
        for (const WaveFormatRow &row : WaveFormatTable) {
            if (row.bitsPerSample != 16)
                continue;
            PaStreamParameters p{};
            p.device = d.paIndex;
            p.channelCount = row.stereo ? 2 : 1;
            p.sampleFormat = paInt16;
            p.suggestedLatency = d.latency;
            if (p.channelCount <= d.maxInputChannels &&
                Pa_IsFormatSupported(&p, nullptr, row.sampleRate) == paFormatIsSupported)
                d.formats |= row.capabilityFlag;
        }
        d.formatsKnown = true;
    }
    caps.productName = d.name;
    caps.formats = d.formats;
    return true;
}

std::string PortAudioBackend::productName(int device)
{
    if (device < 0 || device >= deviceCount())
        return {};
    return m_devices[static_cast<std::size_t>(device)].name;
}

int PortAudioBackend::open(int device, const CaptureFormat &format, BlockQueue &queue,
                           std::unique_ptr<InputStream> &stream)
{
    stream.reset();
    if (device < 0 || device >= deviceCount())
        return kCaptureBadDevice;
    const Device &d = m_devices[static_cast<std::size_t>(device)];
    PaStreamParameters p{};
    p.device = d.paIndex;
    p.channelCount = format.channels;
    p.suggestedLatency = d.latency;
    if (format.bitsPerSample == 16)
        p.sampleFormat = paInt16;
    else if (format.bitsPerSample == 24)
        p.sampleFormat = paInt24; // packed, 3 bytes per sample
    else
        return kCaptureBadFormat;
    if (format.formatTag != 1 || format.channels < 1 || format.channels > 2 ||
        format.channels > d.maxInputChannels || format.samplesPerSec == 0 ||
        format.blockAlign != format.channels * format.bitsPerSample / 8)
        return kCaptureBadFormat;

    auto s = std::make_unique<PortAudioStream>(queue, format.blockAlign);
    const int rc = captureError(s->openStream(p, format.samplesPerSec));
    if (rc != kCaptureOk)
        return rc;
    stream = std::move(s);
    return kCaptureOk;
}

} // namespace quillon
