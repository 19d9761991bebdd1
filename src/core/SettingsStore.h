#pragma once

#include "core/Result.h"

#include <QSettings>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quillon {

// One stored integer value ("DWORD"): its name in the store and the default returned
// when it is missing or unreadable.
struct IntValue
{
    const char *name;
    std::int32_t defaultValue;
};

// One stored text value; number texts ("ENR", "TSoff", "T0") are read with parseDecimal.
struct TextValue
{
    const char *name;
    const char *defaultValue;
};

// The values of the "Setup" group, with their defaults. Fields of Settings first, then
// the values that belong to the measuring pages.
namespace keys {
inline constexpr IntValue WaveInDevice{"WaveInDevice", 0};
inline constexpr IntValue WaveInFormat{"WaveInFormat", 8};
inline constexpr IntValue FFTBlockSize{"FFTBlockSize", 8192};
inline constexpr IntValue UseEnrFile{"UseEnrFile", 0};
inline constexpr IntValue HighPassFilter{"HighPassFilter", 0};
inline constexpr IntValue DecimalPointsInResults{"DecimalPointsInResults", 3};
inline constexpr IntValue AutomateNoiseSelection{"AutomateNoiseSelection", 0};
inline constexpr IntValue AutomateDeviceSelection{"AutomateDeviceSelection", 0};
inline constexpr TextValue WaveInDeviceName{"WaveInDeviceName", "None"};
inline constexpr TextValue EnrCalibrationFile{"EnrCalibrationFile", ""};
inline constexpr TextValue LogResultsFile{"LogResultsFile", ""};
inline constexpr TextValue AutomationDeviceName{"AutomationDeviceName", ""};
inline constexpr TextValue UsbDeviceName{"UsbDeviceName", "ezusb-0"};

inline constexpr IntValue TraceAverageCount{"TraceAverageCount", 1};
inline constexpr IntValue TraceAverageFlag{"TraceAverageFlag", 0};
inline constexpr IntValue ResultFontSize{"ResultFontSize", 24};
inline constexpr IntValue DummyReads{"DummyReads", 1};
inline constexpr TextValue ENR{"ENR", "25.0"};
inline constexpr TextValue TSoff{"TSoff", "293.0"};
inline constexpr TextValue T0{"T0", "290.0"};
inline constexpr IntValue AutomateNoiseSwitchInMeasureFunction{
    "AutomateNoiseSwitchInMeasureFunction", 0};
inline constexpr IntValue AutomateDutSwitchInMeasureFunction{"AutomateDutSwitchInMeasureFunction",
                                                             0};
inline constexpr IntValue AutomateNoiseSwitchInCalibrateFunction{
    "AutomateNoiseSwitchInCalibrateFunction", 0};
// The uncertainty of each result: the stated ENR's 95% half-width in dB (when the ENR file
// gives none), the off temperature's in K; averaging to a precision (the noise figure's
// statistical 95% half-width in dB, and the longest counted time of a reading in s); the
// automatic dummy reads.
inline constexpr TextValue EnrUncertainty{"EnrUncertainty", "0.0"};
inline constexpr TextValue TSoffUncertainty{"TSoffUncertainty", "0.0"};
inline constexpr IntValue AveragePrecisionFlag{"AveragePrecisionFlag", 0};
inline constexpr TextValue AveragePrecision{"AveragePrecision", "0.05"};
inline constexpr TextValue AveragePrecisionMaxTime{"AveragePrecisionMaxTime", "60"};
inline constexpr IntValue AutomaticDummyReads{"AutomaticDummyReads", 0};
// Measure Device takes every ON reading in two halves around its OFF partner.
inline constexpr IntValue DriftCancellingOrder{"DriftCancellingOrder", 0};
// Measure Device's limits (dB; empty: none) and the record of the device measured, kept as
// typed.
inline constexpr TextValue LimitNfMax{"LimitNfMax", ""};
inline constexpr TextValue LimitGainMin{"LimitGainMin", ""};
inline constexpr TextValue LimitGainMax{"LimitGainMax", ""};
inline constexpr TextValue DutName{"DutName", ""};
inline constexpr TextValue DutSerial{"DutSerial", ""};
inline constexpr TextValue DutNotes{"DutNotes", ""};
} // namespace keys

// The per-user settings store: QSettings with organisation "Tremont", application
// "Quillon" (on Linux ~/.config/Tremont/Quillon.conf), one group per section ("Setup" for
// everything the pages keep; the virtual bench has its own). Integers are stored as
// integers, texts as texts. Window thread only.
//
// Every write replaces the file at once and is checked, so that a caller saving several values
// can attempt all of them and still know whether any failed; a write that fails leaves the
// file as it was (updateSettingsFile).
class SettingsStore
{
public:
    // The user's store, section `group`.
    explicit SettingsStore(const char *group = "Setup");
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // A missing or unreadable value gives the default. Integers are read as 32-bit
    // values the way a DWORD reads: 4294967295 reads as -1.
    std::int32_t read(const IntValue &value) const;
    std::string read(const TextValue &value) const;
    // The text value read as a number (longest decimal prefix, locale-free; no number = 0).
    double readNumber(const TextValue &value) const;

    // Each returns false when the value could not be written to the file.
    bool write(const IntValue &value, std::int32_t v);
    bool write(const TextValue &value, const std::string &text);
    // Writes a number as text with `decimals` decimals ("%.3f" style, locale-free).
    bool writeNumber(const TextValue &value, double v, int decimals);

    // Valid until the write after a failed one, which replaces the object.
    QSettings &qsettings() { return *m_settings; }

    // Called after every write with the value's name and whether it was written; lets a
    // caller (and the tests) see the order and outcome of a batch of writes.
    void setWriteObserver(std::function<void(const char *name, bool ok)> observer)
    {
        m_observer = std::move(observer);
    }

private:
    bool store(const char *name, const QVariant &v);
    void open();
    void reopenAfterFailure();

    QString m_group;
    std::unique_ptr<QSettings> m_settings;
    bool m_failed = false; // the last write failed
    std::function<void(const char *, bool)> m_observer;
};

// A run of writes that are all attempted. outcome() is kMsgNone when every write
// succeeded, else kMsgSaveFailed ("Saving parameters to the registry failed for some
// reason.") with the detail "<file>: could not write <name>, <name>"; result() is its code
// alone.
class SaveBatch
{
public:
    explicit SaveBatch(SettingsStore &store) : m_store(store) {}
    void write(const IntValue &value, std::int32_t v) { note(value.name, m_store.write(value, v)); }
    void write(const TextValue &value, const std::string &text)
    {
        note(value.name, m_store.write(value, text));
    }
    void writeNumber(const TextValue &value, double v, int decimals)
    {
        note(value.name, m_store.writeNumber(value, v, decimals));
    }
    Result outcome() const;
    int result() const { return outcome().code; }

private:
    void note(const char *name, bool ok);
    SettingsStore &m_store;
    std::string m_failed; // the names of the values not written, ", " between them
};

} // namespace quillon
