#include "bench/VirtualBench.h"

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

double dbToRatio(double db)
{
    return std::pow(10.0, db * 0.1);
}
double ratioToDb(double r)
{
    return 10.0 * std::log10(r);
}

double inRangeOr(double v, double lo, double hi, double fallback)
{
    return (std::isfinite(v) && v >= lo && v <= hi) ? v : fallback;
}

// Shortest text that reads back as the same double, "." as decimal point in any locale.
QString numberText(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<int>(r.ptr - buf));
}

double readNumber(const QSettings &s, const char *key, double fallback)
{
    const QVariant v = s.value(QLatin1String(key));
    if (!v.isValid())
        return fallback;
    return parseDecimal(v.toString().toStdString());
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

BenchTruth computeTruth(const BenchParameters &in)
{
    return computeTruth(in, sanitized(in).frequencyMHz);
}

BenchTruth computeTruth(const BenchParameters &in, double frequencyMHz)
{
    BenchParameters p = sanitized(in);
    const BenchCurvePoint c = benchCurvesAt(p, frequencyMHz);
    p.referenceEnrDb = c.referenceEnrDb;
    p.dutGainDb = c.dutGainDb;
    p.dutNfDb = c.dutNfDb;
    BenchTruth t;
    t.frequencyMHz = c.frequencyMHz;
    t.referenceEnrDb = c.referenceEnrDb;
    t.offTemperatureK = p.sourceOffTemperatureK;
    t.unknownOffTemperatureK = p.unknownOffTemperatureK;
    // The same hot temperature the Y-factor formulas assume: the excess noise on top of the
    // source's own physical temperature.
    t.hotReferenceK = dbToRatio(p.referenceEnrDb) * kBenchT0 + p.sourceOffTemperatureK;
    t.hotUnknownK = dbToRatio(p.unknownEnrDb) * kBenchT0 + p.unknownOffTemperatureK;
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
        if (st.dutIn && p.dutSwitchSelects == DutSwitchSelects::Dut)
            st.noiseTemperatureK = t.dutGain * (source + t.dutTeK) + t.receiverTeK;
        else
            st.noiseTemperatureK = source + t.receiverTeK;
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
