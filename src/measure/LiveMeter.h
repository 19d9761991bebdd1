#pragma once

#include "measure/SeriesReadings.h"
#include "nf/Uncertainty.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

namespace quillon {

class QuillonEngine;

// Live noise figure: the noise source is switched continuously, one capture block per
// state, in groups ON, OFF, OFF, ON. Each group's Y factor is (ON1 + ON2) / (OFF1 + OFF2), in
// which a receiver gain drifting linearly over the group cancels exactly (and a drift linear
// in dB to first order). The capture runs at half the chosen length, two half-blocks a state;
// the half-blocks captured, fully or partly, before a switch took effect are dropped (one per
// switch in real time, so a group takes 0.5 s at 100 ms blocks), and with autoDummy those
// whose level still trends. The last N groups (1..32) are averaged into the readout.
//
// With a receiver calibration (the receiver alone: noise source ON and OFF with the DUT out
// of circuit), the readout is the DUT's own noise figure and gain, the receiver's
// contribution removed; without one, the noise figure of the whole chain (system).
//
// Threads: the capture's delivery thread measures the blocks and hands groups and switch
// requests to the meter's own live thread, which sets the switch outputs (they are the
// meter's while it runs) and calls the listener.

inline constexpr int kLiveMinSmoothing = 1;
inline constexpr int kLiveMaxSmoothing = 32;

// The receiver alone, as Measure Device's readings 0 and 1 (or the live view's "Calibrate")
// took it, with the conditions it was taken under.
struct ReceiverCalibration
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    bool valid = false;
    double onPower = kNaN;  // linear, full-scale units
    double offPower = kNaN;
    ReadingError onError;   // the readings' noise, for the uncertainty
    ReadingError offError;
    double enrDb = kNaN;        // ENR in effect when taken, dB
    double t0 = 290.0;          // K
    double tsOff = kNaN;        // K
    double frequencyMHz = kNaN; // NaN: not known (no ENR file in use)
    std::chrono::system_clock::time_point takenAt{};
};

// What a live run measures under.
struct LivePlan
{
    SeriesConditions conditions; // Device kind; ENR, T0 and TSoff in effect now
    StatedUncertainty stated;
    double frequencyMHz = ReceiverCalibration::kNaN; // where the ENR is taken now
    int smoothingGroups = 8;  // 1..32 (held within)
    bool autoDummy = false;   // further blocks after a switch discarded while they settle
    // Groups of a receiver calibration (DUT switched out) to take before the first DUT group,
    // as calibrate() would take them; 0 = none.
    int calibrateFirst = 0;
};

// Why a calibration does not fit the conditions now; all false = it fits.
struct CalibrationCheck
{
    bool missing = false;
    bool tooOld = false;
    bool otherFrequency = false; // more than 0.5% (or 0.01 MHz) apart
    bool otherEnr = false;       // more than 0.005 dB apart
    bool otherTsOff = false;     // more than 0.05 K apart
    double ageSeconds = 0.0;
    // What was compared: the calibration's conditions and the plan's.
    double calibrationFrequencyMHz = ReceiverCalibration::kNaN;
    double frequencyMHz = ReceiverCalibration::kNaN;
    double calibrationEnrDb = ReceiverCalibration::kNaN;
    double enrDb = ReceiverCalibration::kNaN;
    double calibrationTsOff = ReceiverCalibration::kNaN;
    double tsOff = ReceiverCalibration::kNaN;
    bool fits() const { return !missing && !tooOld && !otherFrequency && !otherEnr && !otherTsOff; }
};
CalibrationCheck checkCalibration(const ReceiverCalibration &calibration, const LivePlan &plan,
                                  std::chrono::system_clock::time_point now,
                                  std::chrono::seconds maxAge);
// One plain sentence per reason, for the page and the CLI; "" when it fits.
std::string calibrationWarningText(const CalibrationCheck &check);

// One update of the readout: after every group.
struct LiveUpdate
{
    int group = 0;        // groups completed since start, from 1
    int groupsUsed = 0;   // in the average now (fills up to the smoothing)
    double seconds = 0.0; // since start, s (the trend's time axis)
    Uncertain ySystemDb;  // the Y factor of the chain now, dB
    Uncertain systemNf;   // the whole chain (DUT and receiver), dB
    Uncertain systemTe;   // K
    bool corrected = false; // a calibration was in use: the three below are filled
    Uncertain dutNf;      // dB, the receiver's contribution removed
    Uncertain dutTe;      // K
    Uncertain dutGainDb;  // dB
    std::uint64_t discardedBlocks = 0; // since start
    std::uint64_t lostFrames = 0;      // since start
};

// The part of a live run's corrections (its plan's) that the readout applies: all of them to
// the DUT's results, which a receiver calibration gives (`corrected`); none to the system's
// noise figure shown without one, whose groups are the whole DUT-in chain as it stands (the
// calibration path, whose loss Measure Device's system mode removes, is not measured then).
ChainCorrections liveAppliedCorrections(const ChainCorrections &corrections, bool corrected);

// What a caller of the live meter shows. Called on the live meter's own thread: must not
// wait for the window thread (a page posts to it).
class LiveListener
{
public:
    virtual ~LiveListener() = default;
    virtual void update(const LiveUpdate &update) = 0;
    // A "Calibrate" requested with calibrate() has been taken (and is the meter's now).
    virtual void calibrated(const ReceiverCalibration &calibration);
    // The run ended by itself: the device stopped delivering, a block over range, a switch
    // that cannot be set. The message's number; the source has been left OFF.
    virtual void failed(int messageId);
};

// Window thread (the CLI's main thread) unless said otherwise. The switch outputs belong to
// the live meter while it runs.
class LiveMeter
{
public:
    explicit LiveMeter(QuillonEngine &engine);
    ~LiveMeter(); // stops
    LiveMeter(const LiveMeter &) = delete;
    LiveMeter &operator=(const LiveMeter &) = delete;

    // Starts switching and capturing with the DUT in circuit. `calibration` (may be invalid)
    // is used for the correction. Returns 0, or the message number of why it could not start
    // (no switch port or noise-source automation, device does not open).
    int start(const LivePlan &plan, const ReceiverCalibration &calibration, LiveListener &listener);
    // Stops switching and the capture, leaves the noise source OFF; returns when both have
    // stopped (no listener call after it). No effect while not running.
    void stop();
    bool running() const;

    // Any thread while running: the smoothing from the next group on (1..32); restarts the
    // average (not the trend).
    void setSmoothing(int groups);
    // Any thread while running: take a receiver calibration now, with the DUT switched out,
    // over `groups` groups; the readout resumes with it (listener calibrated()).
    void calibrate(int groups = 16);
    // The calibration in use (any thread).
    ReceiverCalibration calibration() const;
    // Blocks dropped since start (any thread): captured before a switch took effect, or
    // judged unsettled after it.
    std::uint64_t discardedBlocks() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillon
