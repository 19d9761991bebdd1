// Calculator page: values typed into the real fields with key clicks, in a shown, active
// window (the Simple mode's rules follow the keyboard focus).
#include "ui/pages/CalculatorPage.h"
#include "PageTestSupport.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "ui/HelpDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include <utility>
#include <vector>

namespace quillon {
namespace {

// One user action: type `text` into the field `name`, or (text null) click the mode button.
struct Step
{
    const char *name;
    const char *text = nullptr;
};
using Shown = std::vector<std::pair<const char *, const char *>>; // field, text

class CalculatorPageTest : public test::PageTest
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
    }

    // Settings and shared values as the program loads them; shown, active, activated.
    CalculatorPage &makePage()
    {
        SettingsStore store;
        m_engine->loadSettings(store);
        m_shared.load(store);
        QFont font;
        font.setPixelSize(30);
        m_page = std::make_unique<CalculatorPage>(*m_engine, m_shared, font);
        m_page->show();
        m_page->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_page.get()));
        m_page->activate();
        return *m_page;
    }
    QLineEdit *field(const char *name) { return child<QLineEdit>(m_page.get(), name); }
    QString text(const char *name) { return field(name)->text(); }
    QLabel *caption(const char *name)
    {
        for (QLabel *label : m_page->findChildren<QLabel *>())
            if (label->buddy() == field(name))
                return label;
        return nullptr;
    }
    // As a user would: click into the field, select what it holds, type over it.
    void type(const char *name, const QString &typed)
    {
        QLineEdit *f = field(name);
        QTest::mouseClick(f, Qt::LeftButton);
        QTest::keyClick(f, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(f, typed);
    }
    // A click on the button's circle (a radio button takes clicks on its circle and text).
    void chooseMode(const char *name)
    {
        auto *button = child<QRadioButton>(m_page.get(), name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    void run(const std::vector<Step> &steps)
    {
        for (const Step &s : steps) {
            if (s.text == nullptr)
                chooseMode(s.name);
            else
                type(s.name, QString::fromUtf8(s.text));
        }
    }
    void expectShown(const Shown &shown, const char *what)
    {
        for (const auto &[name, expected] : shown)
            EXPECT_EQ(text(name), QString::fromUtf8(expected)) << what << ": " << name;
    }
    QString focusName() const
    {
        QWidget *w = QApplication::focusWidget();
        return w != nullptr ? w->objectName() : QString();
    }

    std::unique_ptr<QuillonEngine> m_engine;
    SharedValues m_shared;
    std::unique_ptr<CalculatorPage> m_page;
};

// Defaults: ENR 25 dB, T0 290 K, TSoff 293 K, 3 decimals. Every row starts on a new page.
TEST_F(CalculatorPageTest, TypedValuesShowTheWorkedResultsOrError)
{
    const Step system{"systemMode"}, device{"deviceMode"}, calibrate{"calibrateMode"};
    const char *const error = messageText(kMsgResultError);
    const auto readings = [](const char *a, const char *b, const char *c, const char *d) {
        return std::vector<Step>{
            {"reading1", a}, {"reading2", b}, {"reading3", c}, {"reading4", d}};
    };
    const auto with = [](std::vector<Step> first, const std::vector<Step> &then) {
        first.insert(first.end(), then.begin(), then.end());
        return first;
    };
    const struct
    {
        const char *what;
        std::vector<Step> steps;
        Shown shown;
    } rows[] = {
        // clang-format off
        {"start: Te 0, F 1, NF 0; the thermal floor at 1 kHz", {{"bandwidthField", "1"}},
         {{"teField", " 0.000"}, {"fField", " 1.000"}, {"nfField", " 0.000"},
          {"floorField", " -143.975"}, {"gainField", ""}}},
        {"simple, NF typed", {{"nfField", "3"}, {"bandwidthField", "2.4"}},
         {{"fField", " 1.995"}, {"teField", " 288.626"}, {"nfField", " 3.000"},
          {"floorField", " -137.173"}}},
        {"system", {system, {"reading1", "10"}, {"reading2", "0"}, {"bandwidthField", "2.4"}},
         {{"teField", " 9896.561"}, {"fField", " 35.126"}, {"nfField", " 15.456"},
          {"floorField", " -124.717"}, {"gainField", ""}}},
        {"device", with({device}, readings("10", "0", "25", "10")),
         {{"teField", " 2410.842"}, {"fField", " 9.313"}, {"nfField", " 9.691"},
          {"gainField", " 15.318"}}},
        {"calibrate: warmer unknown source; Te, F, NF and the floor are not its results",
         with({calibrate}, with(readings("10", "0", "8", "0"),
                                {{"unknownTsOff", "303"}, {"bandwidthField", "1"}})),
         {{"gainField", " 22.712"}, {"teField", ""}, {"floorField", ""}}},
        {"calibrate works at the shared T0 (290 K), not the page's field",
         with({calibrate}, with(readings("10", "0", "8", "0"),
                                {{"unknownTsOff", "2930"}, {"t0", "300"}})),
         {{"gainField", " 23.708"}}},
        {"system, equal readings (Y = 1)",
         {system, {"bandwidthField", "1"}, {"reading1", "5"}, {"reading2", "5"}},
         {{"teField", error}, {"fField", error}, {"nfField", error},
          {"floorField", error}}},
        {"device, gain -60 dB: the DUT's Te fails", with({device}, readings("70", "60", "10", "0")),
         {{"teField", error}, {"gainField", error}}},
        {"device, gain +60 dB: shown while the DUT's Te passes",
         with({device}, readings("10", "0", "70", "60")),
         {{"teField", " 9896.551"}, {"gainField", " 60.000"}}},
        {"calibrate, unknown Y = 1", with({calibrate}, readings("10", "0", "8", "8")),
         {{"gainField", error}}},
        {"a bandwidth of 0 takes the floor away",
         {{"bandwidthField", "1"}, {"bandwidthField", "0"}}, {{"floorField", ""}}},
        // clang-format on
    };
    for (const auto &row : rows) {
        makePage();
        run(row.steps);
        expectShown(row.shown, row.what);
    }
    EXPECT_EQ(field("teField")->font().pixelSize(), 30); // the result font it was given
}

// Only typing counts in Te, F and NF; after a T0 change the quantity typed last stays.
TEST_F(CalculatorPageTest, SimpleModeFollowsTheFieldTheUserTyped)
{
    makePage();
    type("nfField", "3");
    field("teField")->setText("5"); // set while it has no focus: not read
    expectShown({{"fField", " 1.995"}, {"nfField", "3"}}, "text set without focus");
    type("t0", "300"); // NF keeps the text typed
    expectShown({{"nfField", "3"}, {"teField", " 298.579"}, {"fField", " 1.995"}}, "T0 300");
    type("teField", "290");
    type("t0", "290");
    expectShown({{"teField", "290"}, {"fField", " 2.000"}, {"nfField", " 3.010"}}, "Te kept");

    // With readings that decide all three, a new T0 shows all three anew: NF moves too.
    chooseMode("systemMode");
    run({{"reading1", "10"}, {"reading2", "0"}, {"t0", "300"}});
    expectShown({{"teField", " 10247.926"}, {"fField", " 35.160"}, {"nfField", " 15.460"}},
                "system at T0 300");
}

TEST_F(CalculatorPageTest, TabGoesDownTheFieldsTheModeUses)
{
    makePage();
    const std::pair<const char *, QStringList> chains[] = {
        {nullptr, {"t0", "teField", "fField", "nfField", "bandwidthField"}},
        {"deviceMode",
         {"reading1", "reading2", "reading3", "reading4", "enrEntry", "referenceTsOff", "t0",
          "bandwidthField"}},
        {"systemMode", {"reading2", "enrEntry"}},
        {"calibrateMode", {"referenceTsOff", "unknownTsOff", "t0", "bandwidthField"}},
    };
    for (const auto &[mode, chain] : chains) {
        if (mode != nullptr)
            chooseMode(mode);
        QTest::mouseClick(field(chain.front().toLatin1().constData()), Qt::LeftButton);
        QStringList visited{focusName()};
        while (visited.size() < chain.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << focusName();
        }
        EXPECT_EQ(visited, chain) << (mode ? mode : "simpleMode");
    }
}

// Switching modes keeps every typed text; no text makes the page crash, hang or show
// anything but a number or " Error".
TEST_F(CalculatorPageTest, TypedTextSurvivesModesAndAnyTextIsSafe)
{
    makePage();
    chooseMode("deviceMode");
    run({{"reading1", "10"}, {"reading2", "0"}, {"reading3", "25"}, {"reading4", "10"}});
    for (const char *mode : {"simpleMode", "systemMode", "calibrateMode", "deviceMode"})
        chooseMode(mode);
    expectShown({{"reading1", "10"}, {"reading2", "0"}, {"reading3", "25"}, {"reading4", "10"}},
                "back in Y Factor Device");
    expectShown({{"gainField", " 15.318"}, {"teField", " 2410.842"}}, "its results");

    const QString texts[] = {
        "abc", "-", "e", "1e999", "-1e999", "1e-999", QString(200, '9'), "1" + QString(130, '0')};
    const QRegularExpression shownText(
        "^(" + QRegularExpression::escape(messageText(kMsgResultError)) + R"(| -?\d+\.\d{3})?$)");
    const char *const inputs[] = {"reading1",       "reading2",       "reading3",     "reading4",
                                  "enrEntry",       "referenceTsOff", "unknownTsOff", "t0",
                                  "bandwidthField", "teField",        "fField",       "nfField"};
    for (const char *mode : {"simpleMode", "deviceMode", "systemMode", "calibrateMode"}) {
        chooseMode(mode);
        for (const char *input : inputs) {
            if (!field(input)->isEnabled())
                continue;
            for (const QString &typed : texts) {
                type(input, typed);
                for (const char *result :
                     {"teField", "fField", "nfField", "gainField", "floorField"}) {
                    if (result == std::string_view(input))
                        continue; // the text just typed
                    EXPECT_TRUE(shownText.match(text(result)).hasMatch())
                        << mode << " " << input << "=" << typed.left(12).toStdString() << ": "
                        << result << " shows '" << text(result).toStdString() << "'";
                }
            }
        }
    }
}

// A real calibration file: the entry is a frequency, the ENR in effect comes from the file;
// editing the field never changes the shared entry, which the next activation brings back.
TEST_F(CalculatorPageTest, CalibrationFileTurnsTheEntryIntoAFrequency)
{
    const QString path = writeFile("source.dat", "; MHz, dB\r\n200;14.0\r\n100,15.0\r\n");
    {
        SettingsStore store;
        store.write(keys::UseEnrFile, 1);
        store.write(keys::EnrCalibrationFile, path.toStdString());
        store.writeNumber(keys::ENR, 150.0, 3);
    }
    makePage();
    chooseMode("systemMode");
    run({{"reading1", "10"}, {"reading2", "0"}});
    EXPECT_EQ(caption("enrEntry")->text(), "F (MHz)");
    EXPECT_TRUE(caption("enrInEffect")->isEnabled());
    expectShown({{"enrEntry", "150.000"}, {"enrInEffect", "14.500"}, {"teField", " 615.146"}},
                "150 MHz");
    type("enrEntry", "250");
    expectShown({{"enrInEffect", "14.000"}}, "250 MHz, past the last row");
    EXPECT_EQ(m_shared.enrEntry(), 150.0);
    m_page->activate();
    expectShown({{"enrEntry", "150.000"}, {"enrInEffect", "14.500"}, {"teField", " 615.146"}},
                "reactivated");

    // The file switched off on Setup and the entry back at 25: an ENR in dB again.
    m_engine->settings().useEnrFile = false;
    m_shared.setEnrEntry(25.0);
    m_page->activate();
    EXPECT_EQ(caption("enrEntry")->text(), "ENR (dB)");
    EXPECT_FALSE(caption("enrInEffect")->isEnabled());
    expectShown({{"enrInEffect", ""}, {"teField", " 9896.561"}}, "file off");
}

TEST_F(CalculatorPageTest, HelpGivesEachModesWorkedExample)
{
    CalculatorPage &page = makePage();
    HelpDialog *help = HelpDialog::showTopic(nullptr, page.helpTopic());
    EXPECT_EQ(help->topic(), "calculator");
    for (const char *number : {"9896.561", "15.456", "9.691", "15.318", "-143.975", "22.708"})
        EXPECT_TRUE(help->text().contains(QLatin1String(number))) << number;
    help->close();
}

// The noise bandwidth Show Spectrum read is offered only once there is one, and one click
// puts it (kHz) into the bandwidth field, which brings the noise floor: NF 0 dB, 290 K.
TEST_F(CalculatorPageTest, MeasuredNoiseBandwidthIsOfferedForTheFloor)
{
    makePage();
    auto *offer = child<QPushButton>(m_page.get(), "measuredBandwidth");
    EXPECT_FALSE(offer->isVisible());
    m_shared.setMeasuredNoiseBandwidthHz(1000.0);
    m_page->deactivatePage();
    m_page->activate();
    ASSERT_TRUE(offer->isVisible());
    EXPECT_EQ(offer->text(), "Use measured 1.000");
    QTest::mouseClick(offer, Qt::LeftButton);
    EXPECT_EQ(text("bandwidthField"), "1.000");
    EXPECT_EQ(text("floorField"), " -143.975");
}


// Outside Simple, Te, F, NF, the gain and the floor are results: enabled (the normal text
// colour), not editable, selectable for copying; the floor says its unit.
TEST_F(CalculatorPageTest, YFactorResultsAreReadableAndSelectable)
{
    makePage();
    run({{"deviceMode"}, {"reading1", "10"}, {"reading2", "0"}, {"reading3", "25"},
         {"reading4", "10"}, {"bandwidthField", "1"}});
    for (const char *name : {"teField", "fField", "nfField", "gainField", "floorField"}) {
        QLineEdit *f = field(name);
        EXPECT_TRUE(f->isEnabled() && f->isReadOnly()) << name;
        const QString shown = f->text();
        ASSERT_FALSE(shown.isEmpty()) << name;
        QTest::mouseClick(f, Qt::LeftButton);
        QTest::keyClick(f, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(f->selectedText(), shown) << name;
        QTest::keyClicks(f, "7");
        EXPECT_EQ(f->text(), shown) << name;
    }
    expectShown({{"teField", " 2410.842"}}, "after the clicks and keys");
    auto *unit = child<QLabel>(m_page.get(), "floorUnit");
    EXPECT_EQ(unit->text(), "dBm");
    EXPECT_NEAR(unit->geometry().center().y(), field("floorField")->geometry().center().y(), 2);
    EXPECT_EQ(field("enrInEffect")->palette().color(QPalette::Base),
              field("enrInEffect")->palette().color(QPalette::Window));
}

// A mode change blanks every result the new mode has not computed: Y Factor Device before the
// DUT readings shows no System Te as the DUT's; Calibrate Noise Source shows only its ENR.
TEST_F(CalculatorPageTest, AModeChangeBlanksWhatTheNewModeHasNotComputed)
{
    makePage();
    run({{"systemMode"}, {"bandwidthField", "1"}, {"reading1", "10"}, {"reading2", "0"}});
    expectShown({{"teField", " 9896.561"}}, "system");
    const Shown blank{{"teField", ""}, {"fField", ""}, {"nfField", ""}, {"gainField", ""},
                      {"floorField", ""}};
    run({{"deviceMode"}});
    expectShown(blank, "device without the DUT readings");
    run({{"calibrateMode"}});
    expectShown(blank, "calibrate without the unknown readings");
    run({{"reading3", "8"}, {"reading4", "0"}});
    expectShown({{"teField", ""}, {"floorField", ""}, {"gainField", " 22.708"}}, "calibrate");
    run({{"systemMode"}});
    expectShown({{"teField", " 9896.561"}, {"gainField", ""}}, "system again");
}

// Text that is not a number is marked where it is typed, and nothing is computed from it:
// the results it feeds go blank, and come back with a number.
TEST_F(CalculatorPageTest, TextThatIsNoNumberIsMarkedAndComputesNothing)
{
    makePage();
    run({{"systemMode"}, {"bandwidthField", "1"}, {"reading1", "10"}, {"reading2", "0"}});
    const Shown system{{"teField", " 9896.561"}, {"floorField", " -128.519"}};
    expectShown(system, "system");
    const std::pair<const char *, const char *> typed[] = {
        {"reading1", "abc"}, {"reading2", "nan"},   {"enrEntry", "0x1A"},
        {"referenceTsOff", "inf"}, {"t0", "abc"}, {"bandwidthField", "-"}};
    for (const auto &[name, bad] : typed) {
        const QString before = text(name);
        type(name, bad);
        EXPECT_TRUE(field(name)->property("notANumber").toBool()) << name;
        EXPECT_TRUE(field(name)->toolTip().startsWith("Not a number: ")) << name;
        EXPECT_EQ(text("floorField"), "") << name;
        if (name != std::string_view("bandwidthField")) {
            EXPECT_EQ(text("teField"), "") << name;
        }
        type(name, before);
        EXPECT_FALSE(field(name)->property("notANumber").toBool()) << name;
        expectShown(system, name);
    }
    run({{"calibrateMode"}, {"reading3", "8"}, {"reading4", "0"}, {"unknownTsOff", "abc"}});
    expectShown({{"gainField", ""}}, "calibrate, unknown TSoff abc");

    // Simple: the typed quantity marked, the other two and the floor blank.
    run({{"simpleMode"}, {"nfField", "abc"}});
    EXPECT_TRUE(field("nfField")->property("notANumber").toBool());
    expectShown({{"teField", ""}, {"fField", ""}, {"floorField", ""}}, "simple, NF abc");
    type("nfField", "3");
    EXPECT_FALSE(field("nfField")->property("notANumber").toBool());
    expectShown({{"fField", " 1.995"}}, "simple, NF 3");
}

// Corrections on typed readings (Y = 10 in both pairs, ENR 15 dB, TSoff 290 K): 0.3 dB at
// 295 K ahead of the DUT gives Te = (728.956 - 0.07152 * 295) / 1.07152 - 728.956 / 10.7152 =
// 592.581 K and a gain of 10.300 dB; a negative loss computes nothing and says why; a
// double-sideband converter doubles the noise factor of 3.262 (656.061 K): 8.146 dB, and
// halves the gain: 6.990 dB.
TEST_F(CalculatorPageTest, CorrectionsApplyToTheTypedReadings)
{
    makePage();
    run({{"deviceMode", nullptr}, {"reading1", "0"}, {"reading2", "-10"}, {"reading3", "10"},
         {"reading4", "0"}, {"enrEntry", "15"}, {"referenceTsOff", "290"}});
    EXPECT_EQ(text("teField"), " 656.061");
    type("inputLoss", "0.3");
    type("inputLossTemperature", "295");
    expectShown({{"gainField", " 10.300"}, {"teField", " 592.581"}, {"nfField", " 4.834"}},
                "input loss");
    auto *note = child<QLabel>(m_page.get(), "correctionsNote");
    EXPECT_EQ(note->text(), "corrected for: input loss 0.30 dB at 295 K");
    type("inputLoss", "-0.3");
    expectShown({{"gainField", ""}, {"teField", ""}, {"nfField", ""}}, "negative loss");
    EXPECT_EQ(note->text(), "Not computed: Input loss: a loss must be a number of 0 dB or more.");
    type("inputLoss", "0"); // then erased: no loss
    QTest::keyClick(field("inputLoss"), Qt::Key_Backspace);
    child<QComboBox>(m_page.get(), "converterKind")->setCurrentIndex(2);
    expectShown({{"gainField", " 6.990"}, {"teField", " 1602.121"}, {"nfField", " 8.146"}},
                "double sideband");
    EXPECT_EQ(note->text(), "corrected for: double sideband converter");
    // System mode applies the calibration path's loss alone.
    chooseMode("systemMode");
    EXPECT_EQ(note->text(), "");
    EXPECT_EQ(text("teField"), " 728.956");
}

} // namespace
} // namespace quillon
