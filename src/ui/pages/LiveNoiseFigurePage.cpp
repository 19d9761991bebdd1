#include "ui/pages/LiveNoiseFigurePage.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "measure/CorrectionSettings.h"
#include "measure/QuillonEngine.h"
#include "measure/SeriesReadings.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "ui/MessageBox.h"
#include "ui/PostToWindow.h"

#include <QDateTime>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

// Groups of the receiver calibration "Calibrate" takes: 16 groups of 4 blocks.
constexpr int kCalibrationGroups = 16;
constexpr int kMaxAgeMinutesLimit = 24 * 60;

QString fixed(double value, int decimals)
{
    return std::isfinite(value) ? QString::fromStdString(formatFixed(value, decimals))
                                : QStringLiteral("—");
}

QString halfWidth(const Uncertain &u, const char *unit)
{
    return QString::fromStdString(halfWidthText(u.totalHalfWidth(), unit));
}

QLabel *digits(const char *name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("—"), parent);
    label->setObjectName(QLatin1String(name));
    QFont font = label->font();
    font.setPointSize(34);
    font.setBold(true);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMinimumWidth(QFontMetrics(font).horizontalAdvance(QStringLiteral("-00.00 dB")));
    return label;
}

QLabel *text(const char *name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

QString calibrationAgeText(double seconds)
{
    const long s = std::isfinite(seconds) && seconds > 0.0 ? std::lround(std::floor(seconds)) : 0;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

LiveNoiseFigurePage::LiveNoiseFigurePage(const PageContext &context, QWidget *parent)
    : PropertyPage(QStringLiteral("Live Noise Figure"), QStringLiteral("live-noise-figure"),
                   parent),
      m_engine(context.engine), m_store(context.store), m_shared(context.shared),
      m_meter(std::make_unique<LiveMeter>(context.engine))
{
    m_nfCaption = new QLabel(QStringLiteral("DUT NF"), this);
    m_nfCaption->setObjectName(QStringLiteral("nfCaption"));
    m_nfValue = digits("nfValue", this);
    m_nfHalfWidth = text("nfHalfWidth", this);
    m_gainValue = digits("gainValue", this);
    m_gainHalfWidth = text("gainHalfWidth", this);
    m_nfHalfWidth->setWordWrap(false);
    m_gainHalfWidth->setWordWrap(false);
    QFont captionFont = m_nfCaption->font();
    captionFont.setPointSize(16);
    m_nfCaption->setFont(captionFont);
    auto *gainCaption = new QLabel(QStringLiteral("DUT Gain"), this);
    gainCaption->setFont(m_nfCaption->font());
    m_modeLabel = text("modeLabel", this);
    m_verdictLabel = text("verdictLabel", this);
    m_verdictLabel->setToolTip(QStringLiteral(
        "Against Measure Device's limits: PASS when the whole 95% interval meets the limit, "
        "FAIL when it misses it, INDETERMINATE when the interval holds the limit"));
    m_groupsLabel = text("groupsLabel", this);

    m_smoothing = new QSpinBox(this);
    m_smoothing->setObjectName(QStringLiteral("smoothing"));
    m_smoothing->setRange(kLiveMinSmoothing, kLiveMaxSmoothing);
    m_smoothing->setKeyboardTracking(false); // a value once typed, not every digit
    m_smoothing->setToolTip(
        QStringLiteral("Groups of ON, OFF, OFF, ON averaged into the readout, 1 to 32"));
    m_smoothing->setValue(std::clamp(m_store.read(keys::LiveSmoothingGroups), kLiveMinSmoothing,
                                     kLiveMaxSmoothing));
    m_maxAge = new QSpinBox(this);
    m_maxAge->setObjectName(QStringLiteral("maxAge"));
    m_maxAge->setRange(1, kMaxAgeMinutesLimit);
    m_maxAge->setSuffix(QStringLiteral(" min"));
    m_maxAge->setKeyboardTracking(false);
    m_maxAge->setToolTip(
        QStringLiteral("A receiver calibration older than this is called too old"));
    m_maxAge->setValue(
        std::clamp(m_store.read(keys::LiveCalibrationMaxAgeMinutes), 1, kMaxAgeMinutesLimit));

    const auto button = [this](const QString &caption, const char *name) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_startButton = button(QStringLiteral("Start"), "startLive");
    m_stopButton = button(QStringLiteral("Stop"), "stopLive");
    m_calibrateButton = button(QStringLiteral("Calibrate"), "calibrate");
    m_calibrateButton->setToolTip(QStringLiteral(
        "Take a receiver calibration now: the DUT is switched out of circuit meanwhile"));
    m_resetBestButton = button(QStringLiteral("Reset best"), "resetBest");
    m_bestLabel = text("bestLabel", this);
    m_calibrationLabel = text("calibrationLabel", this);
    m_conditionsLabel = text("conditionsLabel", this);
    m_warningLabel = text("warningLabel", this);
    m_warningLabel->setStyleSheet(QStringLiteral("color: #a00000;"));
    m_statusLabel = text("statusLabel", this);
    m_strip = new LiveTrendStrip(m_trend, this);
    m_strip->setObjectName(QStringLiteral("trendStrip"));

    // Layout: the digits at the top, the controls and texts left, the trend right.
    // Each value's caption with its ± under it, left of the digits.
    auto *readout = new QGridLayout;
    readout->addWidget(m_nfCaption, 0, 0, Qt::AlignBottom);
    readout->addWidget(m_nfHalfWidth, 1, 0, Qt::AlignTop);
    readout->addWidget(m_nfValue, 0, 1, 2, 1);
    readout->addWidget(gainCaption, 2, 0, Qt::AlignBottom);
    readout->addWidget(m_gainHalfWidth, 3, 0, Qt::AlignTop);
    readout->addWidget(m_gainValue, 2, 1, 2, 1);
    readout->addWidget(m_modeLabel, 4, 0, 1, 2);
    readout->addWidget(m_verdictLabel, 5, 0, 1, 2);
    readout->setColumnStretch(1, 1);

    auto *runBox = new QGroupBox(QStringLiteral("Switching"), this);
    auto *runGrid = new QGridLayout(runBox);
    runGrid->addWidget(new QLabel(QStringLiteral("Smoothing (groups)"), runBox), 0, 0);
    runGrid->addWidget(m_smoothing, 0, 1);
    runGrid->addWidget(m_groupsLabel, 1, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_stopButton);
    buttons->addWidget(m_calibrateButton);
    runGrid->addLayout(buttons, 2, 0, 1, 2);
    runGrid->addWidget(m_statusLabel, 3, 0, 1, 2);

    auto *calibrationBox = new QGroupBox(QStringLiteral("Receiver calibration"), this);
    auto *calibrationGrid = new QGridLayout(calibrationBox);
    calibrationGrid->addWidget(m_calibrationLabel, 0, 0, 1, 2);
    calibrationGrid->addWidget(m_conditionsLabel, 1, 0, 1, 2);
    calibrationGrid->addWidget(new QLabel(QStringLiteral("Too old after"), calibrationBox), 2, 0);
    calibrationGrid->addWidget(m_maxAge, 2, 1);
    calibrationGrid->addWidget(m_warningLabel, 3, 0, 1, 2);

    auto *left = new QVBoxLayout;
    left->addLayout(readout);
    left->addWidget(runBox);
    left->addWidget(calibrationBox);
    left->addStretch();
    auto *bestRow = new QHBoxLayout;
    bestRow->addWidget(m_bestLabel, 1);
    bestRow->addWidget(m_resetBestButton);
    auto *right = new QVBoxLayout;
    right->addWidget(m_strip, 1);
    right->addLayout(bestRow);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 2);
    layout->addLayout(right, 3);

    connect(m_startButton, &QPushButton::clicked, this, &LiveNoiseFigurePage::start);
    connect(m_stopButton, &QPushButton::clicked, this, &LiveNoiseFigurePage::stop);
    connect(m_calibrateButton, &QPushButton::clicked, this, &LiveNoiseFigurePage::calibrate);
    connect(m_resetBestButton, &QPushButton::clicked, this, [this] {
        m_trend.resetBest();
        showBest();
        m_strip->update();
    });
    connect(m_smoothing, &QSpinBox::valueChanged, this, [this](int groups) {
        if (m_running)
            m_meter->setSmoothing(groups);
        if (!m_store.write(keys::LiveSmoothingGroups, groups))
            showMessageBox(kMsgSaveFailed, this);
    });
    connect(m_maxAge, &QSpinBox::valueChanged, this, [this](int minutes) {
        showCalibration();
        if (!m_store.write(keys::LiveCalibrationMaxAgeMinutes, minutes))
            showMessageBox(kMsgSaveFailed, this);
    });
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &LiveNoiseFigurePage::showCalibration);
    setRunning(false);
}

LiveNoiseFigurePage::~LiveNoiseFigurePage()
{
    // Before the widgets go: the meter's thread posts to this page until it has stopped.
    m_meter.reset();
}

void LiveNoiseFigurePage::initializePage()
{
    m_statusLabel->setText(QStringLiteral("Stopped. Start switches the noise source ON, OFF, "
                                          "OFF, ON continuously with the DUT in circuit."));
}

void LiveNoiseFigurePage::activatePage()
{
    pickCalibration();
    m_plan = currentPlan(); // the conditions change only on other pages
    readLimits();           // and so do the limits
    showCalibration();
    m_clock.start();
}

void LiveNoiseFigurePage::deactivatePage()
{
    // The next page may use the capture and the switches at once; stop() returns once the
    // meter's thread has ended and the noise source is OFF.
    m_clock.stop();
    stop();
}

LivePlan LiveNoiseFigurePage::currentPlan() const
{
    const Settings &s = m_engine.settings();
    LivePlan plan;
    plan.conditions.kind = SeriesKind::Device;
    plan.conditions.enrDb = enrForEntry(m_shared.enrEntry(), s, m_engine.enrTable());
    plan.conditions.t0 = m_shared.t0();
    plan.conditions.tsOff = m_shared.tsOff();
    plan.stated = statedUncertainty(m_shared.enrEntry(), s.useEnrFile, m_engine.enrTable(),
                                    m_store.readNumber(keys::EnrUncertainty),
                                    m_store.readNumber(keys::TSoffUncertainty));
    if (s.useEnrFile && m_engine.enrTable().count > 0)
        plan.frequencyMHz = m_shared.enrEntry();
    plan.smoothingGroups = m_smoothing->value();
    plan.autoDummy = m_store.read(keys::AutomaticDummyReads) != 0;
    return plan;
}

Result LiveNoiseFigurePage::resolveCorrections(const LivePlan &plan, ChainCorrections &out) const
{
    out = {};
    const CorrectionSettings entered = loadCorrectionSettings(SettingsStore(kCorrectionsGroup));
    if (!entered.any())
        return {};
    LossTables tables;
    if (const Result r = readLossTables(entered, tables); !r.ok())
        return r;
    const Settings &s = m_engine.settings();
    const EnrTable &table = m_engine.enrTable();
    const double typedEnr = plan.conditions.enrDb;
    const auto enrAt = [&](double mhz) {
        return s.useEnrFile ? enrForEntry(mhz, true, table) : typedEnr;
    };
    const double frequency = s.useEnrFile ? m_shared.enrEntry() : entered.frequencyMHz;
    return quillon::resolveCorrections(entered, tables, frequency, enrAt, out);
}

void LiveNoiseFigurePage::pickCalibration()
{
    // The engine keeps the newest: Measure Device's first two readings write it there, and so
    // does this page's Calibrate.
    m_calibration = m_engine.receiverCalibration();
}

void LiveNoiseFigurePage::setRunning(bool on)
{
    m_running = on;
    m_startButton->setEnabled(!on);
    m_stopButton->setEnabled(on);
    m_calibrateButton->setEnabled(!m_calibrating);
}

void LiveNoiseFigurePage::start()
{
    startWith(0);
}

void LiveNoiseFigurePage::startWith(int calibrationGroups)
{
    if (m_running)
        return;
    pickCalibration();
    m_plan = currentPlan();
    // A correction that cannot be applied starts nothing: never an uncorrected figure shown
    // as corrected.
    if (const Result r = resolveCorrections(m_plan, m_plan.conditions.corrections); !r.ok()) {
        showMessageText(QString::fromStdString(r.detail), this);
        return;
    }
    LivePlan plan = m_plan;
    plan.calibrateFirst = calibrationGroups;
    ++m_run; // before the meter's thread exists: calls of an earlier run are dropped
    if (const int rc = m_meter->start(plan, m_calibration, *this); rc != kMsgNone) {
        showMessageBox(rc, this);
        return;
    }
    setRunning(true);
    m_statusLabel->setText(QStringLiteral("Switching: noise source ON, OFF, OFF, ON."));
    showCalibration();
}

void LiveNoiseFigurePage::stop()
{
    m_meter->stop();
    if (!m_running)
        return;
    m_calibrating = false;
    setRunning(false);
    m_statusLabel->setText(QStringLiteral("Stopped: the noise source is OFF."));
}

void LiveNoiseFigurePage::calibrate()
{
    if (m_calibrating)
        return;
    if (m_running)
        m_meter->calibrate(kCalibrationGroups);
    else
        startWith(kCalibrationGroups); // the calibration before the first DUT group
    if (!m_running)
        return;
    m_calibrating = true;
    m_calibrateButton->setEnabled(false);
    m_statusLabel->setText(QStringLiteral(
        "Calibrating: the receiver alone, the DUT switched out of circuit (%1 groups).")
                               .arg(kCalibrationGroups));
}

void LiveNoiseFigurePage::showCalibration()
{
    const LivePlan &plan = m_plan;
    QString now = QStringLiteral("Now: ");
    if (std::isfinite(plan.frequencyMHz))
        now += QStringLiteral("%1 MHz, ENR %2 dB from the calibration file")
                   .arg(fixed(plan.frequencyMHz, 3), fixed(plan.conditions.enrDb, 3));
    else
        now += QStringLiteral("ENR %1 dB").arg(fixed(plan.conditions.enrDb, 3));
    now += QStringLiteral(", TSoff %1 K, T0 %2 K (Measure Device)")
               .arg(fixed(plan.conditions.tsOff, 2), fixed(plan.conditions.t0, 2));
    // What applies to the readout: the DUT's (a calibration in use) is corrected for all of
    // it, the system's noise figure shown without one for none.
    if (const std::string corrected = correctedForText(
            liveAppliedCorrections(plan.conditions.corrections, m_calibration.valid));
        !corrected.empty())
        now += QStringLiteral("; ") + QString::fromStdString(corrected);
    m_conditionsLabel->setText(now);

    const ReceiverCalibration &c = m_calibration;
    const auto wallNow = std::chrono::system_clock::now();
    const CalibrationCheck check = checkCalibration(
        c, plan, wallNow, std::chrono::minutes(m_maxAge->value()));
    if (!c.valid) {
        m_calibrationLabel->setText(QStringLiteral(
            "None taken: press Calibrate (the DUT is switched out meanwhile), or take readings "
            "1 and 2 on Measure Device."));
    } else {
        const QDateTime taken = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(c.takenAt.time_since_epoch())
                .count());
        QString where = std::isfinite(c.frequencyMHz)
                            ? QStringLiteral(" at %1 MHz,").arg(fixed(c.frequencyMHz, 3))
                            : QString();
        m_calibrationLabel->setText(
            QStringLiteral("Taken %1 (%2 ago)%3 ENR %4 dB, TSoff %5 K.")
                .arg(taken.toString(QStringLiteral("H:mm:ss")),
                     calibrationAgeText(check.ageSeconds), where, fixed(c.enrDb, 3),
                     fixed(c.tsOff, 2)));
    }
    const QString warning = QString::fromStdString(calibrationWarningText(check));
    m_warningLabel->setText(warning);
    m_warningLabel->setVisible(!warning.isEmpty());
}

void LiveNoiseFigurePage::showUpdate(const LiveUpdate &update)
{
    m_last = update;
    ++m_updatesShown;
    const bool corrected = update.corrected;
    const Uncertain &nf = corrected ? update.dutNf : update.systemNf;
    m_nfCaption->setText(corrected ? QStringLiteral("DUT NF") : QStringLiteral("System NF"));
    m_nfValue->setText(fixed(nf.value, 2) + QStringLiteral(" dB"));
    m_nfHalfWidth->setText(halfWidth(nf, "dB"));
    if (corrected) {
        m_gainValue->setText(fixed(update.dutGainDb.value, 2) + QStringLiteral(" dB"));
        m_gainHalfWidth->setText(halfWidth(update.dutGainDb, "dB"));
        m_modeLabel->setText(QStringLiteral(
            "The DUT alone: the receiver's contribution removed with the calibration."));
    } else {
        m_gainValue->setText(QStringLiteral("—"));
        m_gainHalfWidth->setText(QStringLiteral("needs a receiver calibration"));
        m_modeLabel->setText(QStringLiteral(
            "No receiver calibration in use: the noise figure of the whole system (DUT and "
            "receiver together); no DUT gain."));
    }
    m_groupsLabel->setText(QStringLiteral("Groups used: %1 of %2")
                               .arg(update.groupsUsed)
                               .arg(m_smoothing->value()));
    if (!m_calibrating) {
        QString status = QStringLiteral("Group %1 at %2 s; %3 blocks discarded")
                             .arg(update.group)
                             .arg(fixed(update.seconds, 1))
                             .arg(update.discardedBlocks);
        if (update.lostFrames > 0)
            status += QStringLiteral("; audio lost: %1 frames").arg(update.lostFrames);
        m_statusLabel->setText(status + QStringLiteral("."));
    }

    // The trend holds one quantity: a change between the system's and the DUT's starts it
    // afresh, best included.
    if (corrected != m_shownCorrected)
        m_trend.clear();
    m_shownCorrected = corrected;
    m_trend.add({update.seconds, nf.value,
                 corrected ? update.dutGainDb.value : LiveTrendPoint::kNaN,
                 update.groupsUsed >= m_smoothing->value()});
    showBest();
    showVerdict();
    m_strip->update();
}

void LiveNoiseFigurePage::readLimits()
{
    // As Measure Device reads its fields: empty or not a number is no limit.
    auto limit = [this](const TextValue &key) {
        const std::string text = m_store.read(key);
        return isDecimalText(text) ? parseDecimal(text) : LimitRow::kNone;
    };
    m_limits = {};
    m_limits.nfMaxDb = limit(keys::LimitNfMax);
    m_limits.gainMinDb = limit(keys::LimitGainMin);
    m_limits.gainMaxDb = limit(keys::LimitGainMax);
    showVerdict();
}

void LiveNoiseFigurePage::showVerdict()
{
    if (!m_limits.any() || m_updatesShown == 0) {
        m_verdictLabel->clear();
        m_verdictLabel->setStyleSheet(QString());
        return;
    }
    // The DUT's noise figure and gain with a calibration; without one the system's noise
    // figure alone, as Measure Device judges its system mode.
    const LiveUpdate &u = m_last;
    const Uncertain &nf = u.corrected ? u.dutNf : u.systemNf;
    const ResultVerdict v = verdictFor(
        m_limits, m_plan.frequencyMHz, nf.value, nf.totalHalfWidth(),
        u.corrected ? u.dutGainDb.value : LimitRow::kNone,
        u.corrected ? u.dutGainDb.totalHalfWidth() : LimitRow::kNone);
    const char *colour = v.overall == Verdict::Pass   ? "#1b7f3a"
                         : v.overall == Verdict::Fail ? "#b00020"
                         : v.overall == Verdict::Indeterminate ? "#b36b00"
                                                               : "#555555";
    m_verdictLabel->setText(
        QStringLiteral("Verdict: ") +
        (v.overall != Verdict::None
             ? QString::fromLatin1(verdictText(v.overall))
             : QString::fromStdString(v.message.empty() ? "no verdict" : v.message)));
    m_verdictLabel->setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }")
                                      .arg(QLatin1String(colour)));
}

void LiveNoiseFigurePage::showBest()
{
    if (!m_trend.hasBest()) {
        m_bestLabel->setText(QStringLiteral("Best so far: none since the reset."));
        return;
    }
    const LiveTrendPoint &best = m_trend.best();
    QString text = QStringLiteral("Best so far: %1 dB NF").arg(fixed(best.nfDb, 2));
    if (std::isfinite(best.gainDb))
        text += QStringLiteral(", gain %1 dB").arg(fixed(best.gainDb, 2));
    text += QStringLiteral(", at %1 s").arg(fixed(best.seconds, 1));
    m_bestLabel->setText(text);
}

void LiveNoiseFigurePage::runFailed(int messageId)
{
    m_meter->stop(); // the run has ended: joins its thread
    m_calibrating = false;
    setRunning(false);
    m_statusLabel->setText(QStringLiteral("Stopped: the noise source is OFF."));
    if (isVisible())
        showMessageBox(messageId, this);
}

// ---- LiveListener: the meter's thread ----

void LiveNoiseFigurePage::update(const LiveUpdate &update)
{
    postToWindow(this, [this, update, run = m_run.load()] {
        if (run == m_run.load() && m_running)
            showUpdate(update);
    });
}

void LiveNoiseFigurePage::calibrated(const ReceiverCalibration &calibration)
{
    postToWindow(this, [this, calibration, run = m_run.load()] {
        if (run != m_run.load())
            return;
        m_calibration = calibration; // taken now, whether or not the run is still on
        m_engine.receiverCalibration() = calibration;
        // No readout came while it was taken: the trend's line breaks there.
        if (!m_trend.points().empty())
            m_trend.add({m_trend.points().back().seconds, LiveTrendPoint::kNaN,
                         LiveTrendPoint::kNaN, false});
        m_calibrating = false;
        m_calibrateButton->setEnabled(true);
        showCalibration();
    });
}

void LiveNoiseFigurePage::failed(int messageId)
{
    postToWindow(this, [this, messageId, run = m_run.load()] {
        if (run == m_run.load() && m_running)
            runFailed(messageId);
    });
}

} // namespace quillon
