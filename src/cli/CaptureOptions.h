#pragma once

#include "cli/CliSupport.h"
#include "cli/EnrSource.h"
#include "measure/QuillonEngine.h"
#include "measure/ModalReading.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::cli {

class Options;

// The device options of a command that captures. Every such command takes --device, --format,
// --time, --dummy, --average, --auto-dummy, --highpass, --no-highpass, --enr, --enr-file,
// --enr-uncertainty, --tsoff, --tsoff-uncertainty, --t0 and --log; the set says which others.
struct CaptureOptionSet
{
    // --port, --noise-line, --dut-line: the switch port and its outputs. (A sweep's --port
    // names its receiver; it switches through the stored port.)
    bool switchPort = false;
    // --precision and --max-time: each reading averaged to a precision of the noise figure.
    bool precision = false;
    // AtOneFrequency adds --freq.
    EnrLookup enrLookup = EnrLookup::AtOneFrequency;
    // Averaging always on, 8 blocks unless --average or the stored averaging says otherwise
    // (a sweep's default: a few blocks per reading keep its plot's error bars short).
    bool alwaysAverage = false;
};

// Adds the option names of `set` to a command's lists for Options.
void addCaptureOptionNames(const CaptureOptionSet &set, std::vector<std::string_view> &valued,
                           std::vector<std::string_view> &flags);

// What the device options ask for, with the stored values and the bench's own where none is
// given.
struct CaptureRequest
{
    int device = 0;                     // input device number
    bool onBench = true;                // the device is the virtual bench
    int formatRow = 8;                  // row of WaveFormatTable
    std::uint32_t captureTimeMs = 1000; // 100, 1000 or 10000
    bool highPass = false;              // the 1 kHz filter: --highpass, --no-highpass, or stored
    std::string switchPort;             // a serial device, "USB", "Virtual bench" or "None"
    int noiseLine = 0;                  // noise-source output: 0 RTS, 1 DTR, or a USB bit 0..7
    int dutLine = 1;                    // DUT switch output, as noiseLine
    EnrSource enr;                      // the noise source's ENR and its stated uncertainty
    double tsOff = 293.0;               // K, the noise source's off temperature
    double t0 = 290.0;                  // K
    double tsOffUncertaintyK = 0.0;     // stated 95% half-width of tsOff
    std::optional<std::string> logFile; // --log: append the "NF" lines there
    ReadingPlan plan;                   // dummy reads, averaging or precision, automatic dummies
};

// The engine of a command that captures, with the stored settings loaded and engine messages
// (a switch port that fails) printed on stderr. Measuring the virtual bench needs no sound
// system: the machine's inputs are listed (and PortAudio started) only with --device.
struct CommandEngine
{
    explicit CommandEngine(const Options &o);
    StderrMessageSink messages;
    QuillonEngine engine;
};

// Reads the device options of `set` from `o`, against the engine's loaded settings and
// devices and the stored page values. Throws CliError for bad input; changes nothing.
CaptureRequest parseCaptureOptions(const Options &o, const CaptureOptionSet &set,
                                   QuillonEngine &engine);

// Puts the request into the engine's settings (device, format with its filter, capture time,
// high-pass, switch port and lines, log file) and lets the bench run as fast as the buffers
// come back.
void applyCaptureRequest(const CaptureRequest &request, QuillonEngine &engine);

} // namespace quillon::cli
