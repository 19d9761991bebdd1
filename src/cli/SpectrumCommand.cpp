// quillon-cli spectrum: the Show Spectrum page's rows of a WAV file, and the passband read
// from the last one.

#include "capture/HighPass.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/WavFile.h"
#include "spectrum/Passband.h"
#include "spectrum/SpectrumAnalyzer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quillon::cli {

namespace {

// --fft: one of the sizes the Setup page offers; 8192 (its default) when absent.
int fftSizeArg(const Options &o)
{
    const auto text = o.text("fft");
    if (!text)
        return 8192;
    const int n = parseIntegerArg(*text, "--fft");
    for (const int size : {1024, 2048, 4096, 8192, 16384, 32768}) {
        if (n == size)
            return n;
    }
    throw CliError("--fft must be 1024, 2048, 4096, 8192, 16384 or 32768, not " + *text);
}

// A frequency edge: "300.1 Hz", or where the search ended when the level stayed within 3 dB.
std::string edgeText(bool found, double hz)
{
    return found ? fixed(hz, 1) + " Hz" : "none within 3 dB up to " + fixed(hz, 1) + " Hz";
}

std::string passbandText(const Passband &p)
{
    if (!p.found)
        return "passband: none (no power)\n";
    return "passband: peak " + fixed(p.peakHz, 1) + " Hz at " + fixed(p.peakDb, 2) +
           " dB; -3 dB edges " + edgeText(p.lowEdgeFound, p.lowEdgeHz) + " and " +
           edgeText(p.highEdgeFound, p.highEdgeHz) + "; noise bandwidth " +
           fixed(p.noiseBandwidthHz, 1) + " Hz\n";
}

void jsonPassband(Json &doc, const Passband &p)
{
    doc.key("passband");
    if (!p.found) {
        doc.null();
        return;
    }
    doc.beginObject();
    doc.key("peakBin").value(p.peakBin).key("peakHz").value(p.peakHz).key("peakDb").value(p.peakDb);
    doc.key("lowEdgeHz");
    p.lowEdgeFound ? doc.value(p.lowEdgeHz) : doc.null();
    doc.key("highEdgeHz");
    p.highEdgeFound ? doc.value(p.highEdgeHz) : doc.null();
    doc.key("noiseBandwidthHz").value(p.noiseBandwidthHz);
    doc.endObject();
}

} // namespace

int runSpectrum(const std::vector<std::string> &args)
{
    const Options o("spectrum", args, {"fft", "average"}, {"highpass", "json", "all"});
    if (o.flag("help"))
        return printHelp("spectrum");
    if (o.positional().size() != 1)
        throw CliError(o.positional().empty()
                           ? "spectrum needs a WAV file: quillon-cli spectrum FILE"
                           : "spectrum takes one WAV file, not " +
                                 std::to_string(o.positional().size()));
    const int n = fftSizeArg(o);
    const auto averageCount = o.integer("average", 1, kSpectrumHistoryRows);
    const bool json = o.flag("json");
    const bool all = o.flag("all");
    const std::string &path = o.positional().front();

    WavReader audio(path); // read block by block: memory does not grow with the file
    const CaptureFormat format = audio.format();
    if (!audio.lengthKnown())
        throw CliError("'" + path + "' does not say how long it is (a WAV written as it is "
                       "recorded): spectrum needs its length; give -d to arecord, or a file");
    const std::int64_t frames = audio.frames();
    if (frames < n)
        throw CliError("'" + path + "' holds " + std::to_string(frames) +
                       " frames, fewer than one FFT block of " + std::to_string(n));
    HighPass1kHz filter;
    filter.selectHighPass(static_cast<std::int32_t>(format.samplesPerSec));
    HighPass1kHz *active = o.flag("highpass") ? &filter : nullptr;

    SpectrumAnalyzer analyzer;
    if (!analyzer.activate(n, averageCount.value_or(1)))
        throw CliError("no FFT plan for " + std::to_string(n) + " points", kExitFailed);
    analyzer.setAveraging(averageCount.has_value());

    const std::int64_t blocks = frames / n;
    const std::int64_t unused = frames - blocks * n;
    const double binHz = static_cast<double>(format.samplesPerSec) / n;
    const double seconds = static_cast<double>(frames) / format.samplesPerSec;
    const int bins = analyzer.shownBins();

    Json doc;
    if (json) {
        doc.beginObject().key("file").value(path);
        doc.key("sampleRate").value(static_cast<int>(format.samplesPerSec));
        doc.key("bitsPerSample").value(static_cast<int>(format.bitsPerSample));
        doc.key("channels").value(static_cast<int>(format.channels));
        doc.key("frames").value(static_cast<long long>(frames));
        doc.key("seconds").value(seconds);
        doc.key("fftSize").value(n).key("binHz").value(binHz);
        doc.key("blocks").value(static_cast<long long>(blocks));
        doc.key("unusedFrames").value(static_cast<long long>(unused));
        doc.key("highPass").value(active != nullptr);
        doc.key("averageCount");
        averageCount ? doc.value(*averageCount) : doc.null();
        doc.key("rows").beginArray();
    } else {
        std::printf("%s: %u Hz, %u-bit, %s, %s s; FFT %d (%s Hz per bin), %lld blocks",
                    path.c_str(), format.samplesPerSec, static_cast<unsigned>(format.bitsPerSample),
                    format.channels == 2 ? "stereo (left channel used)" : "mono",
                    fixed(seconds, 3).c_str(), n, fixed(binHz, 3).c_str(),
                    static_cast<long long>(blocks));
        if (unused > 0)
            std::printf(" (%lld frames after the last block unused)",
                        static_cast<long long>(unused));
        std::printf(", high-pass %s, average %s\n", active ? "on" : "off",
                    averageCount ? ("over " + std::to_string(*averageCount)).c_str() : "off");
        if (all)
            std::printf("%6s %10s  dB of bins 0 to %d\n", "block", "time (s)", bins - 1);
        else
            std::printf("%6s %12s %10s\n", "bin", "freq (Hz)", "dB");
    }

    const auto blockBytes = static_cast<std::uint32_t>(n) * format.blockAlign;
    std::vector<std::uint8_t> buffer(blockBytes);
    for (std::int64_t b = 0; b < blocks; ++b) {
        std::uint32_t got = 0;
        while (got < blockBytes) {
            const std::uint32_t step = audio.read(buffer.data() + got, blockBytes - got);
            if (step == 0)
                throw CliError("'" + path + "' ends before its declared length");
            got += step;
        }
        analyzer.processBlock(buffer.data(), blockBytes, format,
                              active); // whole blocks: always a row
        if (!all && b + 1 < blocks)
            continue;
        const double *row = analyzer.shownRow();
        const double start = static_cast<double>(b * n) / format.samplesPerSec;
        if (json) {
            doc.beginObject().key("block").value(static_cast<long long>(b));
            doc.key("startSeconds").value(start);
            doc.key("rowsAveraged").value(analyzer.shownInfo().rowsAveraged);
            doc.key("dB").beginArray();
            for (int k = 0; k < bins; ++k)
                doc.value(row[k]); // minus infinity (no power) is written as null
            doc.endArray().endObject();
        } else if (all) {
            std::printf("%6lld %10s", static_cast<long long>(b), fixed(start, 3).c_str());
            for (int k = 0; k < bins; ++k)
                std::printf(" %s", fixed(row[k], 2).c_str());
            std::printf("\n");
        } else {
            for (int k = 0; k < bins; ++k)
                std::printf("%6d %12s %10s\n", k, fixed(k * binHz, 3).c_str(),
                            fixed(row[k], 2).c_str());
        }
    }

    PassbandAnalyzer passbandAnalyzer;
    const Passband passband = passbandAnalyzer.analyze(analyzer.shownRow(), bins, binHz);
    if (json) {
        doc.endArray();
        jsonPassband(doc, passband);
        doc.endObject();
        std::fputs(doc.text().c_str(), stdout);
    } else {
        std::fputs(passbandText(passband).c_str(), stdout);
    }
    return kExitOk;
}

} // namespace quillon::cli
