#include "cli/WavFile.h"

#include "cli/CliSupport.h"

#include <sndfile.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace quillon::cli {

namespace {

struct SndfileCloser
{
    void operator()(SNDFILE *f) const { sf_close(f); }
};

std::string subtypeName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
        return info.name;
    return "an unknown sample encoding";
}

} // namespace

bool isCaptureRate(int sampleRate)
{
    return std::any_of(WaveFormatTable.begin(), WaveFormatTable.end(),
                       [&](const WaveFormatRow &row) { return row.sampleRate == sampleRate; });
}

WavAudio readWav(const std::string &path)
{
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        std::string reason = sf_strerror(nullptr);
        while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
            reason.pop_back();
        throw CliError("cannot read '" + path + "': " + reason);
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64)
        throw CliError("'" + path + "' is not a WAV file");
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const std::string supported = " (quillon-cli reads 16- or 24-bit PCM, mono or stereo)";
    if (subtype != SF_FORMAT_PCM_16 && subtype != SF_FORMAT_PCM_24)
        throw CliError("unsupported WAV format in '" + path + "': " + subtypeName(info.format) +
                       supported);
    if (info.channels != 1 && info.channels != 2)
        throw CliError("unsupported WAV format in '" + path +
                       "': " + std::to_string(info.channels) + " channels" + supported);
    if (!isCaptureRate(info.samplerate))
        throw CliError("unsupported WAV format in '" + path +
                       "': " + std::to_string(info.samplerate) +
                       " Hz (Quillon captures at 11025, 22050, 44100, 48000 or 96000 Hz)");

    WavAudio audio;
    const unsigned bytesPerSample = subtype == SF_FORMAT_PCM_16 ? 2 : 3;
    audio.format.channels = static_cast<std::uint16_t>(info.channels);
    audio.format.bitsPerSample = static_cast<std::uint16_t>(bytesPerSample * 8);
    audio.format.samplesPerSec = static_cast<std::uint32_t>(info.samplerate);
    audio.format.blockAlign = static_cast<std::uint16_t>(bytesPerSample * info.channels);
    audio.format.avgBytesPerSec = audio.format.blockAlign * audio.format.samplesPerSec;

    const auto frameBytes = static_cast<std::uint64_t>(audio.format.blockAlign);
    if (info.frames < 0 || static_cast<std::uint64_t>(info.frames) * frameBytes >
                               std::numeric_limits<std::uint32_t>::max())
        throw CliError("'" + path + "' is too long: at most 4 GiB of audio can be measured");
    audio.bytes.resize(static_cast<std::size_t>(info.frames) * frameBytes);

    // libsndfile hands out samples scaled to 32 bits; shifting back gives the file's own
    // integers, which are written out in the capture layout.
    const int shift = bytesPerSample == 2 ? 16 : 8;
    constexpr sf_count_t kChunkFrames = 65536;
    std::vector<int> chunk(static_cast<std::size_t>(kChunkFrames * info.channels));
    std::uint8_t *out = audio.bytes.data();
    sf_count_t total = 0;
    for (;;) {
        const sf_count_t got = sf_readf_int(file.get(), chunk.data(), kChunkFrames);
        if (got <= 0)
            break;
        if (total + got > info.frames)
            break;
        const auto samples = static_cast<std::size_t>(got * info.channels);
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::uint32_t>(chunk[i] >> shift);
            *out++ = static_cast<std::uint8_t>(v);
            *out++ = static_cast<std::uint8_t>(v >> 8);
            if (bytesPerSample == 3)
                *out++ = static_cast<std::uint8_t>(v >> 16);
        }
        total += got;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        throw CliError("cannot read '" + path + "': " + sf_strerror(file.get()));
    audio.frames = total;
    audio.bytes.resize(static_cast<std::size_t>(total) * frameBytes);
    return audio;
}

} // namespace quillon::cli
