#include "bench/VirtualBench.h"

#include "bench/BenchStoreValues.h"
#include "core/NumberText.h"
#include "core/SettingsFile.h"

#include <QSettings>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

namespace quillon {

namespace {

using benchstore::inRangeOr;
using benchstore::numberText;
using benchstore::readNumber;

double dbToRatio(double db)
{
    return std::pow(10.0, db * 0.1);
}
double ratioToDb(double r)
{
    return 10.0 * std::log10(r);
}

const char *kGroup = "VirtualBench";

// The frequency range of ENR calibration files, MHz.
constexpr double kBandLowMHz = 0.0;
constexpr double kBandHighMHz = 30000.0;

} // namespace

BenchParameters sanitized(const BenchParameters &p)
{
    const BenchParameters d;
    BenchParameters r = p;
    r.referenceEnrDb = inRangeOr(p.referenceEnrDb, 0.0, 50.0, d.referenceEnrDb);
    r.unknownEnrDb = inRangeOr(p.unknownEnrDb, 0.0, 50.0, d.unknownEnrDb);
    r.sourceOffTemperatureK =
        inRangeOr(p.sourceOffTemperatureK, 1.0, 10000.0, d.sourceOffTemperatureK);
    r.unknownOffTemperatureK =
        inRangeOr(p.unknownOffTemperatureK, 1.0, 10000.0, r.sourceOffTemperatureK);
    r.receiverNfDb = inRangeOr(p.receiverNfDb, 0.0, 40.0, d.receiverNfDb);
    r.dutGainDb = inRangeOr(p.dutGainDb, -30.0, 60.0, d.dutGainDb);
    r.dutNfDb = inRangeOr(p.dutNfDb, 0.0, 40.0, d.dutNfDb);
    r.passbandLowHz = inRangeOr(p.passbandLowHz, 10.0, 48000.0, d.passbandLowHz);
    r.passbandHighHz = inRangeOr(p.passbandHighHz, 10.0, 48000.0, d.passbandHighHz);
    if (r.passbandLowHz >= r.passbandHighHz) {
        r.passbandLowHz = d.passbandLowHz;
        r.passbandHighHz = d.passbandHighHz;
    }
    r.loudestLevelDbfs = inRangeOr(p.loudestLevelDbfs, -100.0, 10.0, d.loudestLevelDbfs);
    r.humDbfs = inRangeOr(p.humDbfs, -120.0, -3.0, d.humDbfs);
    r.speed = inRangeOr(p.speed, 0.0, 10000.0, d.speed);
    r.frequencyMHz = inRangeOr(p.frequencyMHz, kBandLowMHz, kBandHighMHz, d.frequencyMHz);
    r.curveCentreMHz = inRangeOr(p.curveCentreMHz, kBandLowMHz, kBandHighMHz, d.curveCentreMHz);
    r.referenceEnrSlopeDbPerMHz =
        inRangeOr(p.referenceEnrSlopeDbPerMHz, -1.0, 1.0, d.referenceEnrSlopeDbPerMHz);
    r.dutGainSlopeDbPerMHz = inRangeOr(p.dutGainSlopeDbPerMHz, -1.0, 1.0, d.dutGainSlopeDbPerMHz);
    r.dutNfCurvatureDbPerMHz2 =
        inRangeOr(p.dutNfCurvatureDbPerMHz2, -0.01, 0.01, d.dutNfCurvatureDbPerMHz2);
    r.faults = sanitized(p.faults);
    r.chain = sanitized(p.chain);
    r.skyColdK = inRangeOr(p.skyColdK, 0.0, 10000.0, d.skyColdK);
    r.skyStepK = inRangeOr(p.skyStepK, 0.1, 1e6, d.skyStepK);
    return r;
}

BenchCurvePoint benchCurvesAt(const BenchParameters &in, double frequencyMHz)
{
    const BenchParameters p = sanitized(in);
    // NaN compares false both ways and would pass through std::clamp: held at the centre.
    const double f = std::isnan(frequencyMHz) ? p.curveCentreMHz
                                              : std::clamp(frequencyMHz, kBandLowMHz, kBandHighMHz);
    const double away = f - p.curveCentreMHz;
    BenchCurvePoint c;
    c.frequencyMHz = f;
    c.referenceEnrDb = std::clamp(p.referenceEnrDb + p.referenceEnrSlopeDbPerMHz * away, 0.0, 50.0);
    c.dutGainDb = std::clamp(p.dutGainDb + p.dutGainSlopeDbPerMHz * away, -30.0, 60.0);
    c.dutNfDb = std::clamp(p.dutNfDb + p.dutNfCurvatureDbPerMHz2 * away * away, 0.0, 40.0);
    return c;
}

namespace {

// The noise temperature (K) at the receiver's input in one switch state with the losses and
// converter of p.chain: each loss a matched attenuator (T / L + (1 - 1/L) T_phys), the
// converter's image band at r times the signal band's gain, its own noise such that its
// single-sideband Te (image termination at T0 counted as noise) is t.dutTeK.
double chainNoiseTemperature(const BenchParameters &p, const BenchTruth &t,
                             const SwitchStateTruth &st, bool unknown)
{
    const BenchChain &c = p.chain;
    const auto through = [](double temperature, double lossDb, double physical) {
        const double l = dbToRatio(lossDb);
        return temperature / l + (1.0 - 1.0 / l) * physical;
    };
    const double off = unknown ? p.unknownOffTemperatureK : p.sourceOffTemperatureK;
    const auto source = [&](double enrDb) {
        if (!st.noiseOn)
            return off;
        return unknown ? t.hotUnknownK : dbToRatio(enrDb) * kBenchT0 + off;
    };
    if (!st.dutIn || p.dutSwitchSelects != DutSwitchSelects::Dut)
        return through(source(t.referenceEnrDb), c.calibrationLossDb,
                       c.calibrationLossTemperatureK) +
               t.receiverTeK;
    const double r = benchImageResponse(c);
    const double signal = through(source(t.enrSignalDb), c.inputLossDb, c.inputLossTemperatureK);
    const double image = through(source(t.enrImageDb), c.inputLossDb, c.inputLossTemperatureK);
    // A converter cannot add less than nothing: Te below r T0 is held at r T0.
    const double own = std::max(0.0, t.dutTeK - r * kBenchT0);
    const double out = t.dutGain * (signal + r * image + own);
    return through(out, c.outputLossDb, c.outputLossTemperatureK) + t.receiverTeK;
}

} // namespace

BenchTruth computeTruth(const BenchParameters &in)
{
    return computeTruth(in, sanitized(in).frequencyMHz);
}

BenchTruth computeTruth(const BenchParameters &in, double frequencyMHz)
{
    BenchParameters p = sanitized(in);
    const BenchCurvePoint c = benchCurvesAt(p, frequencyMHz);
    const BenchChainFrequencies chainAt = benchChainFrequencies(p.chain, c.frequencyMHz);
    // The DUT works at its input frequency (the receiver's, without a converter).
    const BenchCurvePoint atInput = benchCurvesAt(p, chainAt.inputMHz);
    p.referenceEnrDb = c.referenceEnrDb;
    p.dutGainDb = atInput.dutGainDb;
    p.dutNfDb = atInput.dutNfDb;
    BenchTruth t;
    t.inputFrequencyMHz = chainAt.inputMHz;
    t.imageFrequencyMHz = chainAt.imageMHz;
    t.enrSignalDb = atInput.referenceEnrDb;
    t.enrImageDb = benchCurvesAt(p, chainAt.imageMHz).referenceEnrDb;
    t.frequencyMHz = c.frequencyMHz;
    t.referenceEnrDb = c.referenceEnrDb;
    t.offTemperatureK = p.sourceOffTemperatureK;
    t.unknownOffTemperatureK = p.unknownOffTemperatureK;
    // The same hot temperature the Y-factor formulas assume: the excess noise on top of the
    // source's own physical temperature.
    t.hotReferenceK = dbToRatio(p.referenceEnrDb) * kBenchT0 + p.sourceOffTemperatureK;
    t.hotUnknownK = dbToRatio(p.unknownEnrDb) * kBenchT0 + p.unknownOffTemperatureK;
    if (p.skyMode) { // the antenna: cold sky, and the source's step on top of it
        p.sourceOffTemperatureK = p.skyColdK;
        t.offTemperatureK = p.skyColdK;
        t.hotReferenceK = p.skyColdK + p.skyStepK;
    }
    t.receiverTeK = (dbToRatio(p.receiverNfDb) - 1.0) * kBenchT0;
    t.receiverNfDb = p.receiverNfDb;
    t.dutTeK = (dbToRatio(p.dutNfDb) - 1.0) * kBenchT0;
    t.dutNfDb = p.dutNfDb;
    t.dutGain = dbToRatio(p.dutGainDb);
    t.dutGainDb = p.dutGainDb;
    t.chainTeK = t.dutTeK + t.receiverTeK / t.dutGain;
    t.chainNfDb = ratioToDb(t.chainTeK / kBenchT0 + 1.0);
    t.unknownEnrDb = p.unknownEnrDb;

    // Noise at the receiver, referred to its input (K). DUT out: T_source + Te_rx;
    // DUT in: G (T_source + Te_dut) + Te_rx.
    for (int s = 0; s < 4; ++s) {
        SwitchStateTruth &st = t.states[s];
        st.noiseOn = (s & 1) != 0;
        st.dutIn = (s & 2) != 0;
        const bool unknown = st.dutIn && p.dutSwitchSelects == DutSwitchSelects::UnknownSource;
        const double hot = unknown ? t.hotUnknownK : t.hotReferenceK;
        const double cold = unknown ? p.unknownOffTemperatureK : p.sourceOffTemperatureK;
        const double source = st.noiseOn ? hot : cold;
        if (p.chain.any())
            st.noiseTemperatureK = chainNoiseTemperature(p, t, st, unknown);
        else if (st.dutIn && p.dutSwitchSelects == DutSwitchSelects::Dut)
            st.noiseTemperatureK = t.dutGain * (source + t.dutTeK) + t.receiverTeK;
        else
            st.noiseTemperatureK = source + t.receiverTeK;
    }
    // What a meter reads from these states without corrections (the plain formulas):
    // Te = (Thot - Y Toff) / (Y - 1) of each pair, the DUT's Te_chain - Te_sys / G.
    {
        const auto &so = t.states[switchStateIndex(true, false)];
        const auto &sf = t.states[switchStateIndex(false, false)];
        const auto &dO = t.states[switchStateIndex(true, true)];
        const auto &dF = t.states[switchStateIndex(false, true)];
        const double off = p.sourceOffTemperatureK;
        const double hot = dbToRatio(c.referenceEnrDb) * kBenchT0 + off;
        const auto te = [&](double y) { return (hot - y * off) / (y - 1.0); };
        const double g = (dO.noiseTemperatureK - dF.noiseTemperatureK) /
                         (so.noiseTemperatureK - sf.noiseTemperatureK);
        const double dut = te(dO.noiseTemperatureK / dF.noiseTemperatureK) -
                           te(so.noiseTemperatureK / sf.noiseTemperatureK) / g;
        t.uncorrectedDutNfDb = ratioToDb(dut / kBenchT0 + 1.0);
        t.uncorrectedDutGainDb = ratioToDb(g);
    }
    double loudest = 0.0;
    for (const SwitchStateTruth &st : t.states)
        loudest = std::max(loudest, st.noiseTemperatureK);
    t.fullScaleUnitsPerKelvin = dbToRatio(p.loudestLevelDbfs) / loudest;
    t.humPower = p.humOn ? dbToRatio(p.humDbfs) : 0.0;
    for (SwitchStateTruth &st : t.states) {
        st.power = st.noiseTemperatureK * t.fullScaleUnitsPerKelvin + t.humPower;
        st.levelDbfs = ratioToDb(st.power);
    }
    t.ySystem = t.states[switchStateIndex(true, false)].power /
                t.states[switchStateIndex(false, false)].power;
    t.yDutOutput = t.states[switchStateIndex(true, true)].power /
                   t.states[switchStateIndex(false, true)].power;
    return t;
}

std::string formatTruth(const BenchParameters &in, const BenchTruth &t)
{
    const BenchParameters p = sanitized(in);
    const bool dut = p.dutSwitchSelects == DutSwitchSelects::Dut;
    auto f = [](double v, int d) {
        return formatFixed(v, d);
    };
    std::string s;
    s += "Virtual bench truth (T0 290 K, source off " + f(t.offTemperatureK, 1) + " K)\n";
    s += "  Thot reference      " + f(t.hotReferenceK, 3) + " K (ENR " + f(t.referenceEnrDb, 2) +
         " dB)\n";
    s +=
        "  System Te           " + f(t.receiverTeK, 3) + " K, NF " + f(t.receiverNfDb, 3) + " dB\n";
    if (dut) {
        s += "  DUT Te              " + f(t.dutTeK, 3) + " K, NF " + f(t.dutNfDb, 3) +
             " dB, gain " + f(t.dutGainDb, 3) + " dB\n";
        s += "  DUT + receiver Te   " + f(t.chainTeK, 3) + " K, NF " + f(t.chainNfDb, 3) + " dB\n";
    } else {
        s += "  Thot unknown        " + f(t.hotUnknownK, 3) + " K (off " +
             f(t.unknownOffTemperatureK, 1) + " K)\n";
        s += "  Unknown source ENR  " + f(t.unknownEnrDb, 3) + " dB\n";
    }
    if (dut && p.chain.any()) {
        const BenchChain &c = p.chain;
        const auto lossLine = [&](const char *name, double db, double k) {
            if (db != 0.0)
                s += std::string(name) + f(db, 3) + " dB at " + f(k, 1) + " K\n";
        };
        lossLine("  Input loss          ", c.inputLossDb, c.inputLossTemperatureK);
        lossLine("  Output loss         ", c.outputLossDb, c.outputLossTemperatureK);
        lossLine("  Calibration loss    ", c.calibrationLossDb, c.calibrationLossTemperatureK);
        if (c.converterOn) {
            s += "  Converter           " +
                 std::string(c.sideband == BenchSideband::Double
                                 ? "double sideband"
                                 : std::string(benchSidebandName(c.sideband)) +
                                       " sideband, image rejected by " +
                                       f(c.imageRejectionDb, 1) + " dB") +
                 ", LO " + f(c.converterLoMHz, 3) + " MHz\n";
            s += "  Input               " + f(t.inputFrequencyMHz, 3) + " MHz (ENR " +
                 f(t.enrSignalDb, 2) + " dB), image " + f(t.imageFrequencyMHz, 3) + " MHz (ENR " +
                 f(t.enrImageDb, 2) + " dB)\n";
        }
        s += "  Uncorrected reading DUT NF " + f(t.uncorrectedDutNfDb, 3) + " dB, gain " +
             f(t.uncorrectedDutGainDb, 3) + " dB\n";
    }
    s += "  Y system            " + f(t.ySystem, 4) + " (" + f(ratioToDb(t.ySystem), 3) + " dB)\n";
    s += std::string(dut ? "  Y DUT in            " : "  Y unknown source    ") +
         f(t.yDutOutput, 4) + " (" + f(ratioToDb(t.yDutOutput), 3) + " dB)\n";
    s += "  Noise source  " + std::string(dut ? "DUT   " : "Source") +
         "  Power (FS^2)      Level (dBFS)\n";
    static constexpr int kOrder[4] = {1, 0, 3, 2}; // the Measure Device page's order
    for (int s2 : kOrder) {
        const SwitchStateTruth &st = t.states[s2];
        char power[32];
        const auto r =
            std::to_chars(power, power + sizeof power, st.power, std::chars_format::scientific, 6);
        std::string pw(power, r.ptr);
        pw.resize(std::max<std::size_t>(pw.size(), 16), ' ');
        s += std::string("  ") + (st.noiseOn ? "on " : "off") + "           " +
             (dut ? (st.dutIn ? "in    " : "out   ") : (st.dutIn ? "unkn. " : "ref.  ")) + "  " +
             pw + "  " + f(st.levelDbfs, 3) + "\n";
    }
    return s;
}

BenchParameters VirtualBench::parameters() const
{
    BenchParameters p = m_params;
    p.frequencyMHz = frequencyMHz();
    return p;
}

void VirtualBench::setParameters(const BenchParameters &p)
{
    clearLiveDut();
    m_params = sanitized(p);
    m_frequencyMHz.store(m_params.frequencyMHz, std::memory_order_relaxed);
    m_seedStarted = false;
    m_receiverSeconds.store(0.0, std::memory_order_relaxed);
}

namespace {

std::array<double, 4> generatorPowers(const BenchTruth &t)
{
    std::array<double, 4> powers{};
    for (std::size_t s = 0; s < powers.size(); ++s)
        powers[s] = t.states[s].noiseTemperatureK * t.fullScaleUnitsPerKelvin;
    return powers;
}

// The truth with another DUT on the same receiver and sound card: the audio's scale stays
// that of the stored parameters (their loudest state at LoudestLevelDbfs), so a DUT with
// more gain is louder, as it would be.
BenchTruth withDut(const BenchParameters &stored, double nfDb, double gainDb)
{
    BenchParameters p = stored;
    p.dutNfDb = nfDb;
    p.dutGainDb = gainDb;
    p = sanitized(p);
    BenchTruth t = computeTruth(p);
    t.fullScaleUnitsPerKelvin = computeTruth(stored).fullScaleUnitsPerKelvin;
    for (SwitchStateTruth &st : t.states) {
        st.power = st.noiseTemperatureK * t.fullScaleUnitsPerKelvin + t.humPower;
        st.levelDbfs = ratioToDb(st.power);
    }
    return t;
}

} // namespace

void VirtualBench::setLiveDut(double nfDb, double gainDb)
{
    const std::lock_guard lock(m_liveMutex);
    BenchParameters p = parameters();
    p.dutNfDb = nfDb;
    p.dutGainDb = gainDb;
    p = sanitized(p);
    m_liveDut = true;
    m_liveNfDb = p.dutNfDb;
    m_liveGainDb = p.dutGainDb;
    m_live.publish(true, generatorPowers(withDut(parameters(), m_liveNfDb, m_liveGainDb)));
}

void VirtualBench::clearLiveDut()
{
    const std::lock_guard lock(m_liveMutex);
    if (!m_liveDut)
        return;
    m_liveDut = false;
    m_live.publish(false, {});
}

BenchTruth VirtualBench::liveTruth() const
{
    const BenchParameters p = parameters();
    const std::lock_guard lock(m_liveMutex);
    return m_liveDut ? withDut(p, m_liveNfDb, m_liveGainDb) : computeTruth(p);
}

bool VirtualBench::setFrequencyMHz(double frequencyMHz)
{
    if (!(frequencyMHz >= kBandLowMHz && frequencyMHz <= kBandHighMHz))
        return false;
    m_frequencyMHz.store(frequencyMHz, std::memory_order_relaxed);
    return true;
}

GeneratorSetup VirtualBench::nextGeneratorSetup(const CaptureFormat &format)
{
    if (!m_seedStarted) {
        if (m_params.seed != 0) {
            m_seedState = m_params.seed;
        } else {
            std::random_device rd;
            m_seedState = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
        }
        m_seedStarted = true;
    }
    const BenchTruth t = truth();
    GeneratorSetup g;
    g.sampleRate = format.samplesPerSec;
    g.channels = format.channels;
    g.bitsPerSample = format.bitsPerSample;
    g.statePower = generatorPowers(t);
    g.passbandLowHz = m_params.passbandLowHz; // the curves do not move the passband
    g.passbandHighHz = m_params.passbandHighHz;
    g.humPower = t.humPower;
    g.faults = m_params.faults;
    g.seed = splitMix64(m_seedState);
    g.receiverStartSeconds = m_receiverSeconds.load(std::memory_order_relaxed);
    return g;
}

void VirtualBench::load(QSettings &settings)
{
    const BenchParameters d;
    BenchParameters p;
    settings.beginGroup(QLatin1String(kGroup));
    p.referenceEnrDb = readNumber(settings, "ReferenceEnrDb", d.referenceEnrDb);
    p.unknownEnrDb = readNumber(settings, "UnknownEnrDb", d.unknownEnrDb);
    p.sourceOffTemperatureK =
        readNumber(settings, "SourceOffTemperatureK", d.sourceOffTemperatureK);
    p.unknownOffTemperatureK =
        readNumber(settings, "UnknownOffTemperatureK", p.sourceOffTemperatureK);
    p.receiverNfDb = readNumber(settings, "ReceiverNfDb", d.receiverNfDb);
    p.dutGainDb = readNumber(settings, "DutGainDb", d.dutGainDb);
    p.dutNfDb = readNumber(settings, "DutNfDb", d.dutNfDb);
    const QString sel = settings.value(QLatin1String("DutSwitchSelects")).toString();
    p.dutSwitchSelects = sel.compare(QLatin1String("UnknownSource"), Qt::CaseInsensitive) == 0
                             ? DutSwitchSelects::UnknownSource
                             : DutSwitchSelects::Dut;
    p.passbandLowHz = readNumber(settings, "PassbandLowHz", d.passbandLowHz);
    p.passbandHighHz = readNumber(settings, "PassbandHighHz", d.passbandHighHz);
    p.loudestLevelDbfs = readNumber(settings, "LoudestLevelDbfs", d.loudestLevelDbfs);
    p.humOn = readNumber(settings, "HumOn", d.humOn ? 1.0 : 0.0) != 0.0;
    p.humDbfs = readNumber(settings, "HumDbfs", d.humDbfs);
    // The seed is an unsigned 64-bit integer: read its digits exactly, not through a double.
    const std::string seedText =
        settings.value(QLatin1String("Seed"), QStringLiteral("0")).toString().toStdString();
    std::uint64_t seed = 0;
    const char *first = seedText.data();
    while (first != seedText.data() + seedText.size() && *first == ' ')
        ++first;
    std::from_chars(first, seedText.data() + seedText.size(), seed);
    p.seed = seed;
    p.speed = readNumber(settings, "Speed", d.speed);
    p.frequencyMHz = readNumber(settings, "FrequencyMHz", d.frequencyMHz);
    p.curveCentreMHz = readNumber(settings, "CurveCentreMHz", d.curveCentreMHz);
    p.referenceEnrSlopeDbPerMHz =
        readNumber(settings, "ReferenceEnrSlopeDbPerMHz", d.referenceEnrSlopeDbPerMHz);
    p.dutGainSlopeDbPerMHz = readNumber(settings, "DutGainSlopeDbPerMHz", d.dutGainSlopeDbPerMHz);
    p.dutNfCurvatureDbPerMHz2 =
        readNumber(settings, "DutNfCurvatureDbPerMHz2", d.dutNfCurvatureDbPerMHz2);
    loadBenchFaults(settings, p.faults);
    loadBenchChain(settings, p.chain);
    p.skyMode = readNumber(settings, "SkyMode", 0.0) != 0.0;
    p.skyColdK = readNumber(settings, "SkyColdK", d.skyColdK);
    p.skyStepK = readNumber(settings, "SkyStepK", d.skyStepK);
    settings.endGroup();
    setParameters(p);
}

namespace {

void writeParameters(QSettings &settings, const BenchParameters &p)
{
    settings.beginGroup(QLatin1String(kGroup));
    settings.setValue(QLatin1String("ReferenceEnrDb"), numberText(p.referenceEnrDb));
    settings.setValue(QLatin1String("UnknownEnrDb"), numberText(p.unknownEnrDb));
    settings.setValue(QLatin1String("SourceOffTemperatureK"), numberText(p.sourceOffTemperatureK));
    settings.setValue(QLatin1String("UnknownOffTemperatureK"),
                      numberText(p.unknownOffTemperatureK));
    settings.setValue(QLatin1String("ReceiverNfDb"), numberText(p.receiverNfDb));
    settings.setValue(QLatin1String("DutGainDb"), numberText(p.dutGainDb));
    settings.setValue(QLatin1String("DutNfDb"), numberText(p.dutNfDb));
    settings.setValue(QLatin1String("DutSwitchSelects"),
                      p.dutSwitchSelects == DutSwitchSelects::UnknownSource
                          ? QStringLiteral("UnknownSource")
                          : QStringLiteral("DUT"));
    settings.setValue(QLatin1String("PassbandLowHz"), numberText(p.passbandLowHz));
    settings.setValue(QLatin1String("PassbandHighHz"), numberText(p.passbandHighHz));
    settings.setValue(QLatin1String("LoudestLevelDbfs"), numberText(p.loudestLevelDbfs));
    settings.setValue(QLatin1String("HumOn"), p.humOn ? QStringLiteral("1") : QStringLiteral("0"));
    settings.setValue(QLatin1String("HumDbfs"), numberText(p.humDbfs));
    settings.setValue(QLatin1String("Seed"), QString::number(p.seed));
    settings.setValue(QLatin1String("Speed"), numberText(p.speed));
    settings.setValue(QLatin1String("FrequencyMHz"), numberText(p.frequencyMHz));
    settings.setValue(QLatin1String("CurveCentreMHz"), numberText(p.curveCentreMHz));
    settings.setValue(QLatin1String("ReferenceEnrSlopeDbPerMHz"),
                      numberText(p.referenceEnrSlopeDbPerMHz));
    settings.setValue(QLatin1String("DutGainSlopeDbPerMHz"), numberText(p.dutGainSlopeDbPerMHz));
    settings.setValue(QLatin1String("DutNfCurvatureDbPerMHz2"),
                      numberText(p.dutNfCurvatureDbPerMHz2));
    saveBenchFaults(settings, p.faults);
    saveBenchChain(settings, p.chain);
    settings.setValue(QLatin1String("SkyMode"), p.skyMode ? QStringLiteral("1") : QStringLiteral("0"));
    settings.setValue(QLatin1String("SkyColdK"), numberText(p.skyColdK));
    settings.setValue(QLatin1String("SkyStepK"), numberText(p.skyStepK));
    settings.endGroup();
}

} // namespace

bool VirtualBench::save(QSettings &settings) const
{
    const BenchParameters p = parameters();
    // Through the file itself, never settings.sync(), which can leave the file empty on a full
    // disk and report success.
    const FileWriteResult written = updateSettingsFile(
        settings.fileName(), [&p](QSettings &file) { writeParameters(file, p); });
    settings.sync(); // reads the file as it now is
    return written.ok() && settings.status() == QSettings::NoError;
}

} // namespace quillon
