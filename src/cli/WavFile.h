#pragma once

#include "capture/WaveFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::cli {

// A WAV file's audio in the capture engine's byte layout: little-endian interleaved PCM
// frames of 16 or 24 bits (packed), 1 or 2 channels, exactly what a capture block holds, so
// that measureBlock reads it as it reads a block from a sound card.
struct WavAudio
{
    CaptureFormat format;
    std::int64_t frames = 0;
    std::vector<std::uint8_t> bytes; // frames * format.blockAlign bytes
};

// Sample rates a WAV may have: the capture rates of WaveFormatTable.
bool isCaptureRate(int sampleRate);

// Reads `path` with libsndfile: WAV (also WAVEX and RF64) holding 16- or 24-bit PCM, mono or
// stereo, at a capture rate, at most 4 GiB of frames. Throws CliError with a one-line
// message for a file that is missing, unreadable, not WAV or in another format.
WavAudio readWav(const std::string &path);

} // namespace quillon::cli
