#include "ui/pages/SkyPage.h"

#include "capture/DeviceList.h"
#include "capture/WaveFormat.h"
#include "core/Messages.h"
#include "core/NumberText.h"
#include "measure/DeviceResultsText.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingGuards.h"
#include "measure/SharedValues.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"
#include "ui/PostToWindow.h"
#include "ui/ReportSaving.h"
#include "ui/pages/ReadingPageWidgets.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace quillon {

namespace {

QLineEdit *numberField(const char *name, const QString &text, const QString &expected,
                       bool emptyAllowed, QWidget *parent)
{
    auto *field = new QLineEdit(text, parent);
    field->setObjectName(QLatin1String(name));
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000000.000")));
    watchNumberField(field, expected, emptyAllowed);
    return field;
}

// A typed number, NaN for an empty field or text that is not one.
double numberOf(const QLineEdit *field)
{
    const QString text = field->text().trimmed();
    if (text.isEmpty() || !isNumberText(text))
        return kSkyNaN;
    return parseDecimal(text.toStdString());
}

QString positionText(const char *name, const BodyPosition &b, bool withDistance)
{
    QString s = QStringLiteral("%1: azimuth %2°, elevation %3°, %4")
                    .arg(QLatin1String(name), QString::fromStdString(formatFixed(b.azimuthDeg, 1)),
                         QString::fromStdString(formatFixed(b.elevationDeg, 1)),
                         b.aboveHorizon ? QStringLiteral("above the horizon")
                                        : QStringLiteral("below the horizon"));
    if (withDistance)
        s += QStringLiteral("; %1 km, %2° across")
                 .arg(QString::fromStdString(formatFixed(b.distanceKm, 0)),
                      QString::fromStdString(formatFixed(b.diameterDeg, 3)));
    return s;
}

} // namespace

SkyPage::SkyPage(const PageContext &context, QWidget *parent)
    : PropertyPage(QStringLiteral("Antenna and Sky"), QStringLiteral("antenna-and-sky"), parent),
      m_engine(context.engine), m_store(context.store), m_shared(context.shared),
      m_dialog(context.waitDialog), m_runner(m_engine, m_engine.settings(), m_engine.resultLine()),
      m_clock([] { return static_cast<double>(QDateTime::currentSecsSinceEpoch()); })
{
    m_runner.setLog(m_log);
    m_measurements[0].target = SkyTarget::Sun;
    m_measurements[1].target = SkyTarget::Moon;
    m_measurements[2].target = SkyTarget::Ground;

    // Station, frequency, beam, and where to point.
    auto *station = new QGroupBox(QStringLiteral("Station and antenna"), this);
    auto *form = new QGridLayout(station);
    m_locator = new QLineEdit(station);
    m_locator->setObjectName(QStringLiteral("locator"));
    m_locator->setPlaceholderText(QStringLiteral("e.g. JO01 or IO91wm"));
    m_locator->setMaximumWidth(
        m_locator->fontMetrics().horizontalAdvance(QStringLiteral("IO91wm48xxxx")));
    m_frequency = numberField("frequency", QStringLiteral("144"),
                              QStringLiteral("the frequency measured in MHz"), false, station);
    m_beam = numberField("beamwidth", QString(),
                         QStringLiteral("the half-power beamwidth in degrees"), true, station);
    form->addWidget(makeCaption(QStringLiteral("Locator"), m_locator, station), 0, 0);
    form->addWidget(m_locator, 0, 1);
    form->addWidget(makeCaption(QStringLiteral("Frequency (MHz)"), m_frequency, station), 0, 2);
    form->addWidget(m_frequency, 0, 3);
    form->addWidget(makeCaption(QStringLiteral("Beamwidth (deg)"), m_beam, station), 0, 4);
    form->addWidget(m_beam, 0, 5);
    m_where = new QLabel(station);
    m_where->setObjectName(QStringLiteral("whereToPoint"));
    m_where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addWidget(m_where, 1, 0, 1, 6);
    // Averaging to a precision of Y, which every result of the three follows.
    m_precisionEnable = new QCheckBox(QStringLiteral("Averaging to a precision"), station);
    m_precisionEnable->setObjectName(QStringLiteral("precisionEnable"));
    m_precisionEnable->setToolTip(QStringLiteral(
        "Each reading takes blocks until Y's statistical 95% half-width will be at most the "
        "target, or its time is up"));
    m_precisionEnable->setChecked(m_store.read(keys::SkyPrecisionFlag) != 0);
    m_precisionTarget =
        numberField("precisionTarget", QString(),
                    QStringLiteral("Y's 95% half-width in dB, e.g. 0.05"), false, station);
    m_precisionMaxTime =
        numberField("precisionMaxTime", QString(),
                    QStringLiteral("the longest counted time of one reading in s"), false, station);
    form->addWidget(m_precisionEnable, 2, 0, 1, 2);
    form->addWidget(makeCaption(QStringLiteral("Y \u00b1 (dB, 95%)"), m_precisionTarget, station),
                    2, 2);
    form->addWidget(m_precisionTarget, 2, 3);
    form->addWidget(makeCaption(QStringLiteral("Max time (s)"), m_precisionMaxTime, station), 2, 4);
    form->addWidget(m_precisionMaxTime, 2, 5);
    form->setColumnStretch(6, 1);
    auto *saveReport = new QPushButton(QStringLiteral("Save Report..."), station);
    saveReport->setObjectName(QStringLiteral("saveReport"));
    saveReport->setToolTip(QStringLiteral("The measurements taken, with their conditions, as an "
                                          "HTML file and a JSON file beside it"));
    form->addWidget(saveReport, 0, 7);
    connect(saveReport, &QPushButton::clicked, this, &SkyPage::saveReport);
    m_reportDialog = [this] { return askReportPath(this); };

    // The Sun's inputs.
    auto *sunInputs = new QWidget(this);
    auto *sunForm = new QFormLayout(sunInputs);
    sunForm->setContentsMargins(0, 0, 0, 0);
    m_flux = new QLineEdit(sunInputs);
    m_flux->setObjectName(QStringLiteral("flux"));
    m_flux->setToolTip(QStringLiteral(
        "The solar flux in sfu at the frequency, or published values as MHz:sfu, MHz:sfu, ..."));
    m_fluxUncertainty =
        numberField("fluxUncertainty", QStringLiteral("10"),
                    QStringLiteral("the flux's 95% half-width in percent"), true, sunInputs);
    m_k = numberField("k", QString(),
                      QStringLiteral("the beam-size correction K (empty: from the beam)"), true,
                      sunInputs);
    m_gain = numberField("gain", QString(), QStringLiteral("the antenna gain in dBi (empty: none)"),
                         true, sunInputs);
    sunForm->addRow(QStringLiteral("Flux (sfu)"), m_flux);
    sunForm->addRow(QStringLiteral("Flux ± (%, 95%)"), m_fluxUncertainty);
    sunForm->addRow(QStringLiteral("K"), m_k);
    sunForm->addRow(QStringLiteral("Gain (dBi)"), m_gain);

    auto *moonInputs = new QWidget(this);
    auto *moonForm = new QFormLayout(moonInputs);
    moonForm->setContentsMargins(0, 0, 0, 0);
    m_moonTemperature = numberField(
        "moonTemperature", QString::fromStdString(formatShortest(kDefaultMoonTemperatureK)),
        QStringLiteral("the Moon's brightness temperature in K"), false, moonInputs);
    m_tsys =
        numberField("tsys", QString(), QStringLiteral("the system temperature in K (empty: none)"),
                    true, moonInputs);
    moonForm->addRow(QStringLiteral("Moon (K)"), m_moonTemperature);
    moonForm->addRow(QStringLiteral("Tsys (K)"), m_tsys);

    auto *groundInputs = new QWidget(this);
    auto *groundForm = new QFormLayout(groundInputs);
    groundForm->setContentsMargins(0, 0, 0, 0);
    m_groundTemperature = numberField(
        "groundTemperature", QString::fromStdString(formatShortest(kDefaultGroundTemperatureK)),
        QStringLiteral("the ground's temperature in K"), false, groundInputs);
    m_skyTemperature = numberField(
        "skyTemperature", QString::fromStdString(formatShortest(kDefaultColdSkyTemperatureK)),
        QStringLiteral("the cold sky's temperature in K"), false, groundInputs);
    groundForm->addRow(QStringLiteral("Ground (K)"), m_groundTemperature);
    groundForm->addRow(QStringLiteral("Cold sky (K)"), m_skyTemperature);

    auto *row = new QHBoxLayout;
    row->addWidget(makeMeasurement(m_measurements[0], QStringLiteral("Sun: G/T"),
                                   QStringLiteral("the Sun"), sunInputs));
    row->addWidget(makeMeasurement(m_measurements[1], QStringLiteral("Moon noise"),
                                   QStringLiteral("the Moon"), moonInputs));
    row->addWidget(makeMeasurement(m_measurements[2], QStringLiteral("Cold sky and ground: Tsys"),
                                   QStringLiteral("the ground"), groundInputs));
    auto *page = new QVBoxLayout(this);
    page->addWidget(station);
    page->addLayout(row, 1);

    for (const auto &[field, key] : {std::pair{m_locator, &keys::SkyLocator},
                                     {m_frequency, &keys::SkyFrequency},
                                     {m_beam, &keys::SkyBeamwidth},
                                     {m_flux, &keys::SkyFlux},
                                     {m_fluxUncertainty, &keys::SkyFluxUncertainty},
                                     {m_k, &keys::SkyK},
                                     {m_gain, &keys::SkyGain},
                                     {m_moonTemperature, &keys::SkyMoonTemperature},
                                     {m_tsys, &keys::SkyTsys},
                                     {m_skyTemperature, &keys::SkyColdSkyTemperature},
                                     {m_groundTemperature, &keys::SkyGroundTemperature},
                                     {m_precisionTarget, &keys::SkyPrecision},
                                     {m_precisionMaxTime, &keys::SkyPrecisionMaxTime}})
        keepInStore(field, *key);
    connect(m_precisionEnable, &QCheckBox::clicked, this, [this](bool checked) {
        if (!m_store.write(keys::SkyPrecisionFlag, checked ? 1 : 0))
            showMessageBox(kMsgSaveFailed, this);
    });

    m_positionTimer = new QTimer(this);
    m_positionTimer->setInterval(10000);
    connect(m_positionTimer, &QTimer::timeout, this, &SkyPage::updatePositions);
    connect(m_locator, &QLineEdit::textChanged, this, &SkyPage::updatePositions);
    updatePositions();
}

SkyPage::~SkyPage()
{
    m_runner.cancel();
}

QGroupBox *SkyPage::makeMeasurement(Measurement &m, const QString &title, const QString &sourceName,
                                    QWidget *inputs)
{
    auto *box = new QGroupBox(title, this);
    const QString name = QString::fromLatin1(skyTargetName(m.target)).toLower();
    box->setObjectName(name + QStringLiteral("Group"));
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(inputs);
    auto *grid = new QGridLayout;
    const QString captions[2] = {QStringLiteral("On %1").arg(sourceName),
                                 QStringLiteral("On cold sky")};
    for (int i = 0; i < 2; ++i) {
        auto *field = new QLineEdit(box);
        field->setObjectName(name + (i == 0 ? QStringLiteral("Source") : QStringLiteral("Cold")));
        makeShownValue(field);
        auto *button = new QPushButton(QStringLiteral("Measure"), box);
        button->setObjectName(
            name + (i == 0 ? QStringLiteral("MeasureSource") : QStringLiteral("MeasureCold")));
        button->setToolTip(
            i == 0 ? QStringLiteral("Point the antenna at %1, then measure").arg(sourceName)
                   : QStringLiteral("Point the antenna at cold sky, then measure"));
        grid->addWidget(new QLabel(captions[i] + QStringLiteral(" (dB)"), box), i, 0);
        grid->addWidget(field, i, 1);
        grid->addWidget(button, i, 2);
        m.fields[static_cast<std::size_t>(i)] = field;
        m.buttons[static_cast<std::size_t>(i)] = button;
        connect(button, &QPushButton::clicked, this, [this, &m, i] { run(m, i); });
    }
    layout->addLayout(grid);
    m.results = new QLabel(box);
    m.results->setObjectName(name + QStringLiteral("Results"));
    m.results->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m.results->setWordWrap(true);
    m.results->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(m.results, 1);
    return box;
}

void SkyPage::keepInStore(QLineEdit *field, const TextValue &key)
{
    field->setText(QString::fromStdString(m_store.read(key)));
    connect(field, &QLineEdit::editingFinished, this, [this, field, &key] {
        if (!m_store.write(key, field->text().trimmed().toStdString()))
            showMessageBox(kMsgSaveFailed, this);
    });
}

void SkyPage::setClock(std::function<double()> clock)
{
    m_clock = std::move(clock);
    updatePositions();
}

SkyReportData SkyPage::reportData() const
{
    const Settings &s = m_engine.settings();
    SkyReportData d;
    d.dateTime =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    d.station = m_locator->text().trimmed().toStdString();
    DeviceCaps caps;
    if (m_engine.devices().deviceCaps(s.waveInDevice, caps))
        d.soundDevice = caps.productName;
    if (s.waveInFormat >= 0 && s.waveInFormat < kWaveFormatCount)
        d.format = WaveFormatTable[static_cast<std::size_t>(s.waveInFormat)].label;
    d.captureTimeMs = static_cast<int>(s.captureTimeMs);
    const ReadingPlan plan(m_shared.dummyReadsLimited(), m_shared.averaging(),
                           m_shared.averageCountLimited());
    d.dummyReads = plan.dummyReads;
    d.averageCount = ModalReading::countedBlocks(plan);
    d.highPass = s.highPassFilter;
    d.precision =
        precisionFromText(m_precisionEnable->isChecked(), m_precisionTarget->text().toStdString(),
                          m_precisionMaxTime->text().toStdString());
    for (const Measurement &m : m_measurements)
        if (!m.record.utcText.empty()) // evaluated: both readings taken
            d.records.push_back(m.record);
    return d;
}

void SkyPage::saveReport()
{
    if (m_runner.running())
        return;
    const SkyReportData data = reportData();
    saveReportFiles(this,
                    data.records.empty() ? QStringLiteral("There is no measurement to report "
                                                          "yet: take both readings of one first.")
                                         : QString(),
                    m_reportDialog, [&data](const std::string &path) {
                        return writeSkyReport(path, data);
                    });
}

const SkyRecord &SkyPage::record(SkyTarget target) const
{
    return m_measurements[static_cast<std::size_t>(target)].record;
}

void SkyPage::activatePage()
{
    m_active = true;
    updatePositions();
    m_positionTimer->start();
}

void SkyPage::deactivatePage()
{
    // As ReadingPage: the runner sees the cancel when the slice returns, which the dialog's
    // close makes at once; the capture stops here, without waiting for a block.
    m_active = false;
    m_positionTimer->stop();
    if (m_runner.running()) {
        m_runner.cancel();
        m_dialog.reject();
    }
    m_engine.capture().stopCapture();
}

void SkyPage::updatePositions()
{
    const QString locator = m_locator->text().trimmed();
    if (locator.isEmpty()) {
        m_where->setText(
            QStringLiteral("Type the station's locator to see where the Sun and the Moon are."));
        return;
    }
    const LocatorResult place = parseLocator(locator.toStdString());
    if (!place.ok()) {
        m_where->setText(QString::fromStdString(place.error));
        return;
    }
    const SkyPositions p = skyPositions(place.station, julianDayFromUnix(m_clock()));
    m_where->setText(QStringLiteral("%1 UTC\n%2\n%3")
                         .arg(QString::fromStdString(utcText(m_clock())),
                              positionText("Sun", p.sun, false),
                              positionText("Moon", p.moon, true)));
}

SkySetup SkyPage::setup(SkyTarget target) const
{
    SkySetup s;
    s.target = target;
    s.unixSeconds = m_clock();
    s.frequencyMHz = numberOf(m_frequency);
    const QString locator = m_locator->text().trimmed();
    if (!locator.isEmpty()) {
        const LocatorResult place = parseLocator(locator.toStdString());
        if (place.ok())
            s.station = place.station;
    }
    s.beamDeg = numberOf(m_beam);
    const std::string flux = m_flux->text().trimmed().toStdString();
    if (flux.find(':') != std::string::npos)
        parseFluxTable(flux, s.flux);
    else if (!flux.empty())
        s.flux = {{s.frequencyMHz, isDecimalText(flux) ? parseDecimal(flux) : kSkyNaN}};
    const double percent = numberOf(m_fluxUncertainty);
    s.fluxUncertaintyPercent = std::isfinite(percent) ? percent : 0.0;
    s.k = numberOf(m_k);
    s.gainDbi = numberOf(m_gain);
    s.moonTemperatureK = numberOf(m_moonTemperature);
    s.tsysK = numberOf(m_tsys);
    s.skyTemperatureK = numberOf(m_skyTemperature);
    s.groundTemperatureK = numberOf(m_groundTemperature);
    return s;
}

void SkyPage::run(Measurement &m, int button)
{
    if (m_runner.running() || !m_active)
        return;
    // A bad input is said before any reading is taken: one message, no number.
    const SkySetup s = setup(m.target);
    std::string problem;
    const QString locator = m_locator->text().trimmed();
    if (!locator.isEmpty() && !parseLocator(locator.toStdString()).ok())
        problem = parseLocator(locator.toStdString()).error;
    else if (m.target == SkyTarget::Sun && m_flux->text().trimmed().contains(QLatin1Char(':'))) {
        std::vector<FluxPoint> points;
        problem = parseFluxTable(m_flux->text().trimmed().toStdString(), points).error;
    }
    if (problem.empty())
        problem = checkSkySetup(s);
    if (!problem.empty()) {
        m.results->setText(QString::fromStdString(problem));
        return;
    }
    // What an earlier press said of its inputs no longer holds; the results come back when
    // both readings are in.
    if (!m.record.ok() || m.record.utcText.empty())
        m.results->clear();
    const Settings &settings = m_engine.settings();
    const bool onBench = settings.waveInDevice == m_engine.benchDevice();
    if (onBench) {
        BenchParameters p = m_engine.bench().parameters();
        if (!p.skyMode) {
            p.skyMode = true;
            m_engine.bench().setParameters(p);
        }
    }
    SeriesPlan plan;
    plan.conditions.kind = SeriesKind::Sky;
    plan.button = button;
    // On the bench its outputs point the antenna, so one press takes both readings.
    plan.noiseGen = plan.driveSwitches = onBench && settings.switchPortChosen;
    // Dummy reads and averaging as Measure Device keeps them (Measure Noise's Number).
    plan.reading = ReadingPlan(m_shared.dummyReadsLimited(), m_shared.averaging(),
                               m_shared.averageCountLimited());
    plan.precision =
        precisionFromText(m_precisionEnable->isChecked(), m_precisionTarget->text().toStdString(),
                          m_precisionMaxTime->text().toStdString());
    m_running = &m;
    m_runner.run(plan, m.readings, *this);
    m_running = nullptr;
}

void SkyPage::evaluate(Measurement &m)
{
    if (!(m.readings.present(0) && m.readings.present(1)))
        return;
    m.record = evaluateSky(setup(m.target), m.taken[0], m.taken[1]);
    QStringList lines;
    for (const std::string &line : skyResultLines(m.record))
        lines << QString::fromStdString(line);
    if (m.record.ok() && std::isfinite(m.record.elevationDeg))
        lines << QStringLiteral("Elevation %1°, K %2")
                     .arg(QString::fromStdString(formatFixed(m.record.elevationDeg, 1)),
                          QString::fromStdString(formatFixed(m.record.k, 3)));
    const std::string warnings = warningText(m.readings.warnings());
    if (!warnings.empty())
        lines << QString::fromStdString(warnings);
    m.results->setText(lines.join(QLatin1Char('\n')));
    const Settings &s = m_engine.settings();
    if (s.logMeasurements && m_log.appendSky(s.logResultsFile, skyLogFields(m.record)) != kMsgNone)
        showMessageBox(kMsgCannotOpenLog, this);
}

bool SkyPage::beforeReading(int reading, std::string_view label)
{
    m_dialog.arm(QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
    m_dialog.adjustSize();
    (void)reading;
    return m_active;
}

bool SkyPage::waitSlice(ModalReading &reading, std::chrono::milliseconds slice)
{
    return m_dialog.waitSlice(reading, slice, m_active);
}

void SkyPage::afterReading(int)
{
    m_dialog.endRun();
}

void SkyPage::readingDone(const SeriesReadingReport &report)
{
    if (m_running == nullptr || report.reading < 0 || report.reading > 1)
        return;
    Measurement &m = *m_running;
    const auto i = static_cast<std::size_t>(report.reading);
    m.taken[i] = {report.power, report.blocks, report.statistics};
    m.fields[i]->setText(QString::fromStdString(
        readingText(report.power, m_engine.settings().decimalPointsInResults)));
}

void SkyPage::passDone(const SeriesPassReport &pass)
{
    // Once per press, with the readings present: a source measured again goes with the cold
    // sky taken before it, as the reading pages' results do. One SKY line each.
    if (m_running != nullptr && !pass.cutShort)
        evaluate(*m_running);
}

void SkyPage::message(int messageId)
{
    showMessageBox(messageId, this);
}

void SkyPage::progress(const ReadingProgress &progress) // delivery thread
{
    m_dialog.postProgress(progress);
}

void SkyPage::readingEnded(int) // delivery thread
{
    postToWindow(this, [this] { m_dialog.wake(); });
}

} // namespace quillon
