// quillon-cli level: the Measure Noise page's block readings of a WAV file.

#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/ReadingHistory.h"
#include "capture/ResultText.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/StoredValues.h"
#include "cli/WavFile.h"
#include "core/Messages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace quillon::cli {

namespace {

// The texts of one row as the page shows them.
struct RowText
{
    std::string dB, average, crest, peak;
};

RowText rowText(const BlockStats &s, double current, bool averaging, int decimals)
{
    RowText t;
    t.dB = resultText(showsWait(s.dB), s.dB, kMsgWait, decimals);
    if (averaging)
        t.average = resultText(showsWait(current), current, kMsgWait, decimals);
    t.crest = resultText(showsCrestError(s.C), s.C, kMsgResultError, decimals);
    t.peak = resultText(!std::isfinite(s.P), s.P, kMsgResultError, decimals);
    return t;
}

void jsonStats(Json &doc, const BlockStats &s)
{
    doc.key("frames").value(static_cast<long long>(s.N));
    doc.key("level").value(s.L).key("dB").value(s.dB);
    doc.key("peakTerm").value(s.P).key("crestFactor").value(s.C);
    doc.key("peak").value(static_cast<long long>(s.peak));
    doc.key("mean").value(s.N > 0 ? static_cast<double>(s.sum) / static_cast<double>(s.N)
                                  : std::nan(""));
    doc.key("overRange").value(isOverRange(s));
}

} // namespace

int runLevel(const std::vector<std::string> &args)
{
    const Options o("level", args, {"time", "average", "decimals"}, {"highpass", "json"});
    if (o.flag("help"))
        return printHelp("level");
    if (o.positional().size() != 1)
        throw CliError(o.positional().empty() ? "level needs a WAV file: quillon-cli level FILE"
                                              : "level takes one WAV file, not " +
                                                    std::to_string(o.positional().size()));
    const std::uint32_t captureMs = captureTimeArg(o);
    const auto averageCount = o.integer("average", 1, ReadingHistory::kMaxAverageCount);
    const bool averaging = averageCount.has_value();
    std::optional<int> decimals = o.integer("decimals", 0, 3);
    if (!decimals) {
        Settings settings;
        EnrTable table;
        loadStoredValues(settings, table);
        decimals = settings.decimalPointsInResults;
    }
    const bool json = o.flag("json");
    const std::string &path = o.positional().front();

    WavReader wav(path);
    const CaptureFormat &format = wav.format();
    HighPass1kHz filter;
    filter.selectHighPass(static_cast<std::int32_t>(format.samplesPerSec));
    HighPass1kHz *active = o.flag("highpass") ? &filter : nullptr;
    // The whole file as one block, from sums carried across the blocks; with the filter on,
    // through a filter of its own, preset once at the file's first sample.
    LevelSums whole(format);
    HighPass1kHz wholeFilter = filter;

    // Block length as the capture engine makes it: capture time x byte rate, whole frames.
    auto blockBytes =
        static_cast<std::uint32_t>(std::uint64_t{captureMs} * format.avgBytesPerSec / 1000);
    blockBytes -= blockBytes % format.blockAlign;
    // A stream of unknown length is read to its end; its length is known only then.
    const bool known = wav.lengthKnown();
    const auto totalBytes = known ? static_cast<std::uint64_t>(wav.frames()) * format.blockAlign
                                  : UINT64_MAX;
    double seconds = known ? static_cast<double>(wav.frames()) / format.samplesPerSec : 0.0;
    // Blocks are read and measured in pieces small enough to stay in the processor's cache
    // from the read to the measurement; the sums carry across pieces as across blocks. The
    // piece is all the audio held in memory, whatever the file's length.
    std::vector<std::uint8_t> piece(std::size_t{32768} * format.blockAlign);
    const auto pieceBytes = static_cast<std::uint32_t>(piece.size());

    Json doc;
    if (json) {
        doc.beginObject().key("file").value(path);
        doc.key("sampleRate").value(static_cast<int>(format.samplesPerSec));
        doc.key("bitsPerSample").value(static_cast<int>(format.bitsPerSample));
        doc.key("channels").value(static_cast<int>(format.channels));
        doc.key("frames");
        known ? doc.value(static_cast<long long>(wav.frames())) : doc.null();
        doc.key("seconds");
        known ? doc.value(seconds) : doc.null();
        doc.key("captureTimeMs").value(static_cast<int>(captureMs));
        doc.key("highPass").value(active != nullptr);
        doc.key("averageCount");
        averaging ? doc.value(*averageCount) : doc.null();
        doc.key("blocks").beginArray();
    } else {
        std::printf("%s: %u Hz, %u-bit, %s, %s; blocks of %u ms, high-pass %s\n", path.c_str(),
                    format.samplesPerSec, static_cast<unsigned>(format.bitsPerSample),
                    format.channels == 2 ? "stereo (left channel measured)" : "mono",
                    known ? (fixed(seconds, 3) + " s").c_str() : "length unknown", captureMs,
                    active ? "on" : "off");
        std::printf("%6s %10s %10s", "block", "time (s)", "dB");
        if (averaging)
            std::printf(" %10s", "avg dB");
        std::printf(" %10s %10s\n", "crest", "peak");
    }

    // The running average as the page keeps it: the position is the block counter of the
    // capture, 0 for the file's first block.
    ReadingHistory history;
    int position = 0;
    int index = 0;
    std::uint64_t offset = 0;
    for (; offset < totalBytes; offset += blockBytes, ++index) {
        auto bytes =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(blockBytes, totalBytes - offset));
        // The block as measureBlock measures it: with the filter on, preset at its first sample.
        LevelSums blockSums(format);
        std::uint32_t done = 0;
        while (done < bytes) {
            const std::uint32_t got = wav.read(piece.data(), std::min(pieceBytes, bytes - done));
            if (got == 0)
                break; // the end of a stream of unknown length; a file's frames were counted
            if (active) {
                blockSums.addFiltered(piece.data(), got, filter);
                whole.addFiltered(piece.data(), got, wholeFilter);
            } else {
                const BlockStats part = measureBlock(piece.data(), got, format, nullptr);
                blockSums.add(part);
                whole.add(part);
            }
            done += got;
        }
        if (done < bytes) { // a stream's end
            bytes = done;
            if (bytes == 0)
                break;
        }
        const BlockStats s = blockSums.stats();
        const double current =
            history.addReading(position, s.dB, averaging, averageCount.value_or(0));
        position = history.advance(position);
        const double start = static_cast<double>(offset / format.blockAlign) / format.samplesPerSec;
        if (json) {
            doc.beginObject().key("index").value(index).key("startSeconds").value(start);
            jsonStats(doc, s);
            if (averaging)
                doc.key("average").value(current);
            doc.endObject();
            doc.flush(stdout);
        } else {
            const RowText t = rowText(s, current, averaging, *decimals);
            std::printf("%6d %10s %10s", index, fixed(start, 3).c_str(), t.dB.c_str());
            if (averaging)
                std::printf(" %10s", t.average.c_str());
            std::printf(" %10s %10s\n", t.crest.c_str(), t.peak.c_str());
        }
        if (bytes < blockBytes) { // the last, short block
            offset += bytes;
            break;
        }
    }
    if (!known)
        seconds = static_cast<double>(offset / format.blockAlign) / format.samplesPerSec;

    const BlockStats file = whole.stats();
    if (json) {
        doc.endArray().key("whole").beginObject();
        jsonStats(doc, file);
        doc.endObject().endObject();
        std::fputs(doc.text().c_str(), stdout);
    } else {
        const RowText t = rowText(file, file.dB, false, *decimals);
        std::printf("%6s %10s %10s", "file", fixed(seconds, 3).c_str(), t.dB.c_str());
        if (averaging)
            std::printf(" %10s", "");
        std::printf(" %10s %10s\n", t.crest.c_str(), t.peak.c_str());
    }
    return kExitOk;
}

} // namespace quillon::cli
