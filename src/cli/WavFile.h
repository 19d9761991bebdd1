#pragma once

#include "capture/WaveFormat.h"

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::cli {

// Sample rates a WAV may have: the capture rates of WaveFormatTable.
bool isCaptureRate(int sampleRate);

// A WAV file (also WAVEX and RF64) holding 16- or 24-bit PCM, mono or stereo, at a capture
// rate, read block by block in the capture engine's byte layout: little-endian interleaved
// PCM frames, 24-bit samples packed, exactly what a capture block holds, so that
// measureBlock reads it as it reads a block from a sound card. The samples are copied as they
// are stored (bytes swapped only for a big-endian RIFX file), never converted. Memory does
// not grow with the file's length.
class WavReader
{
public:
    // Opens `path` with libsndfile. Throws CliError with a one-line message for a file that
    // is missing, unreadable, not WAV, in another format, or shorter than its data chunk
    // declares (a declared size of 0xFFFFFFFF, the mark of a WAV written as a stream of
    // unknown length, means "up to the end of the file").
    // `path` "-" is standard input. The file is opened once and read straight through, so a
    // FIFO or a pipe works as well as a file; only a regular file is checked ahead for a cut
    // data chunk (a stream that ends early fails in read()).
    explicit WavReader(const std::string &path);

    const CaptureFormat &format() const { return m_format; }
    // The frames the file holds; -1 for a stream of unknown length, read until it ends.
    std::int64_t frames() const { return m_frames; }
    bool lengthKnown() const { return m_frames >= 0; }

    // Reads the next frames, at most `bytes` bytes (a multiple of the frame size), into
    // `out`; returns the bytes read, 0 after the last frame. Throws CliError when the file
    // cannot be read.
    std::uint32_t read(std::uint8_t *out, std::uint32_t bytes);

private:
    // Declared data bytes from which a stream's length counts as unknown: the header of a
    // recording of open end fills the size field (0x7FFFFFFF or 0xFFFFFFFF).
    static constexpr std::uint64_t kStreamedBytes = 0x7FFF0000;
    struct Closer
    {
        void operator()(SNDFILE *f) const { sf_close(f); }
    };

    std::string m_path;
    std::unique_ptr<SNDFILE, Closer> m_file;
    CaptureFormat m_format;
    std::int64_t m_frames = 0;
    std::int64_t m_framesRead = 0;
    bool m_bigEndian = false;
};

} // namespace quillon::cli
