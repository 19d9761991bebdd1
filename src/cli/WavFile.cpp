#include "cli/WavFile.h"

#include "cli/CliSupport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

std::string subtypeName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
        return info.name;
    return "an unknown sample encoding";
}

// The size the file's data chunk declares and the bytes the file holds after the chunk's
// header. Found by walking the RIFF chunks; `found` is false when the walk does not reach a
// data chunk (libsndfile has already judged the file, so nothing is checked then).
struct DataChunk
{
    bool found = false;
    bool bigEndian = false; // RIFX
    bool streamed = false;  // size 0xFFFFFFFF: up to the end of the file
    std::uint64_t declared = 0;
    std::uint64_t held = 0;
};

// Walks the chunks of the file open on `fd` with positioned reads, leaving the descriptor's
// offset where libsndfile keeps it. Regular files only.
DataChunk findDataChunk(int fd, std::uint64_t fileSize)
{
    DataChunk chunk;
    auto readAt = [&](unsigned char *out, std::size_t bytes, std::uint64_t at) {
        return ::pread(fd, out, bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(bytes);
    };
    std::array<unsigned char, 12> head{};
    if (!readAt(head.data(), head.size(), 0) || std::memcmp(head.data() + 8, "WAVE", 4) != 0)
        return chunk;
    const bool rf64 = std::memcmp(head.data(), "RF64", 4) == 0;
    chunk.bigEndian = std::memcmp(head.data(), "RIFX", 4) == 0;
    if (!rf64 && !chunk.bigEndian && std::memcmp(head.data(), "RIFF", 4) != 0)
        return chunk;
    auto number = [&](const unsigned char *p, int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= std::uint64_t{p[chunk.bigEndian ? bytes - 1 - i : i]} << (8 * i);
        return v;
    };
    std::uint64_t ds64DataSize = 0; // RF64: the real size of a data chunk whose field is full
    for (std::uint64_t pos = 12; pos + 8 <= fileSize;) {
        std::array<unsigned char, 24> header{}; // id, size, and for ds64 the sizes after it
        const std::size_t want = std::min<std::uint64_t>(header.size(), fileSize - pos);
        if (!readAt(header.data(), want, pos))
            return chunk;
        const std::uint64_t size = number(header.data() + 4, 4);
        if (std::memcmp(header.data(), "ds64", 4) == 0 && want == header.size())
            ds64DataSize = number(header.data() + 16, 8); // after the RIFF size
        if (std::memcmp(header.data(), "data", 4) == 0) {
            chunk.found = true;
            chunk.declared = size;
            chunk.streamed = size == 0xFFFFFFFF;
            if (rf64 && chunk.streamed && ds64DataSize != 0) {
                chunk.declared = ds64DataSize;
                chunk.streamed = false;
            }
            chunk.held = fileSize - (pos + 8);
            return chunk;
        }
        pos += 8 + size + (size & 1);
    }
    return chunk;
}

} // namespace

bool isCaptureRate(int sampleRate)
{
    return std::any_of(WaveFormatTable.begin(), WaveFormatTable.end(),
                       [&](const WaveFormatRow &row) { return row.sampleRate == sampleRate; });
}

WavReader::WavReader(const std::string &path) : m_path(path)
{
    // Opened once and read through once: a FIFO or a pipe gives its bytes only once.
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw CliError("cannot read '" + path + "': " + std::strerror(errno));
    struct stat st{};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    SF_INFO info{};
    m_file.reset(sf_open_fd(fd, SFM_READ, &info, standardInput ? SF_FALSE : SF_TRUE));
    if (!m_file) {
        if (!standardInput)
            ::close(fd);
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

    // libsndfile measures a data chunk that runs past the end of the file up to the end and
    // says nothing: such a file was cut short, and its reading would pass for the whole.
    // A stream cannot be measured ahead: there a short data chunk shows when it ends early.
    if (regular) {
        const DataChunk chunk = findDataChunk(fd, static_cast<std::uint64_t>(st.st_size));
        if (chunk.found && !chunk.streamed && chunk.declared > chunk.held)
            throw CliError("'" + path + "' is cut short: its data chunk declares " +
                           std::to_string(chunk.declared) + " bytes of audio, the file holds " +
                           std::to_string(chunk.held));
    }
    m_bigEndian = sf_command(m_file.get(), SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;

    const unsigned bytesPerSample = subtype == SF_FORMAT_PCM_16 ? 2 : 3;
    m_format.channels = static_cast<std::uint16_t>(info.channels);
    m_format.bitsPerSample = static_cast<std::uint16_t>(bytesPerSample * 8);
    m_format.samplesPerSec = static_cast<std::uint32_t>(info.samplerate);
    m_format.blockAlign = static_cast<std::uint16_t>(bytesPerSample * info.channels);
    m_format.avgBytesPerSec = m_format.blockAlign * m_format.samplesPerSec;
    m_frames = std::max<sf_count_t>(info.frames, 0);
    // A WAV written to a pipe as it is recorded (arecord to standard output) declares a data
    // chunk as long as the field holds: it is read up to its end instead.
    if (!regular && static_cast<std::uint64_t>(m_frames) * m_format.blockAlign >= kStreamedBytes)
        m_frames = -1;
}

std::uint32_t WavReader::read(std::uint8_t *out, std::uint32_t bytes)
{
    const std::uint32_t frameBytes = m_format.blockAlign;
    const std::int64_t left = m_frames < 0 ? bytes / frameBytes : m_frames - m_framesRead;
    auto frames = std::min<std::int64_t>(bytes / frameBytes, left);
    if (frames <= 0)
        return 0;
    auto want = static_cast<sf_count_t>(frames * frameBytes);
    // Raw bytes as stored: for little-endian PCM exactly the capture layout.
    const sf_count_t got = sf_read_raw(m_file.get(), out, want);
    if (m_frames < 0 && got >= 0 && got < want && sf_error(m_file.get()) == SF_ERR_NO_ERROR) {
        frames = got / frameBytes; // the end of a stream of unknown length
        want = static_cast<sf_count_t>(frames * frameBytes);
    } else if (got != want) {
        const std::string reason = sf_error(m_file.get()) != SF_ERR_NO_ERROR
                                       ? sf_strerror(m_file.get())
                                       : "the file ended early";
        throw CliError("cannot read '" + m_path + "': " + reason);
    }
    if (m_bigEndian) {
        const unsigned width = m_format.bitsPerSample / 8;
        for (std::uint8_t *p = out; p < out + want; p += width)
            std::reverse(p, p + width);
    }
    m_framesRead += frames;
    return static_cast<std::uint32_t>(want);
}

} // namespace quillon::cli
