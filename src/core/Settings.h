#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The one configuration record of the program. Held by the Setup page object for the
// program's life; edited in place on the window thread while no capture runs, read
// without locks by the capture delivery thread while one does.
struct Settings
{
    // Sound-input device number (position in the capture device list); -1 = none chosen.
    std::int32_t waveInDevice = 0;
    // Row of WaveFormatTable, 0..19; -1 = invalid.
    std::int32_t waveInFormat = 8;
    // Derived from waveInFormat's table row; never stored.
    std::int32_t sampleRate = 44100;    // Hz
    std::uint32_t bitsPerSample = 16;   // 16 or 24
    std::uint32_t captureTimeMs = 1000; // 100, 1000 or 10000; not stored
    bool stereo = false;
    // Spectrum transform length in samples; only limited above (32768) at load.
    std::int32_t fftBlockSize = 8192;
    bool useEnrFile = false;
    bool logMeasurements = false; // always off after start; not stored
    bool highPassFilter = false;
    std::string logResultsFile;
    bool switchPortChosen = false;        // switchPortName neither empty nor "None"
    std::int32_t decimalPointsInResults = 3;
    // Output line numbers: serial 0 = RTS, 1 = DTR; USB the data bit 0..7.
    std::int32_t noiseSourceLine = 0;
    std::int32_t dutLine = 0;
    // "None", a serial device path (or "COMn"), a parallel port, "USB" or "Virtual bench".
    std::string switchPortName;
    std::string enrCalibrationFile;
};

} // namespace quillon
