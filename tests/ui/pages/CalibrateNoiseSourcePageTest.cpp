// Calibrate Noise Source page on the bench, whose DUT output selects the unknown source: the
// series with and without "Noise Gen", the ENR lines and the computed ENR, its TSoff and T0.
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ReadingPageTestSupport.h"

namespace quillon {
namespace {

class CalibrateNoiseSourcePageTest : public test::ReadingPageTest<CalibrateNoiseSourcePage>
{
protected:
    void SetUp() override
    {
        ReadingPageTest::SetUp();
        setBench({.dutSwitchSelects = DutSwitchSelects::UnknownSource});
    }
};

// The readings each "Measure" takes, the source they were taken from (levels), and which
// buttons are enabled ("Measure" 0..3, "Noise Gen").
TEST_F(CalibrateNoiseSourcePageTest, NoiseGenTakesThePairOfItsButton)
{
    const std::tuple<const char *, bool, bool, int, const char *, const char *> cases[] = {
        {"no port: stored Noise Gen ignored", false, false, 0, "11110", "0"},
        {"hand switching, OFF button", true, false, 3, "11111", "3"},
        {"reference pair", true, true, 0, "10101", "01"},
        {"unknown pair", true, true, 2, "10101", "23"},
    };
    const BenchTruth truth = m_engine->bench().truth();
    for (const auto &[name, port, noiseGen, button, enabledNow, taken] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(logPath());
        useAutomationPort(port);
        SettingsStore().write(keys::AutomateNoiseSwitchInCalibrateFunction, port ? 0 : 1);
        m_engine->bench().setOutputs(true, true); // the unknown source on, by hand
        makePage();
        if (noiseGen)
            click("noiseGen");
        EXPECT_EQ(enabledOf({"measure0", "measure1", "measure2", "measure3", "noiseGen"}),
                  enabledNow);
        measure(button);
        EXPECT_EQ(readingsLogged(enrReadingLabel), taken);
        for (const char r : std::string_view(taken)) {
            const int i = r - '0';
            EXPECT_TRUE(test::readsState(power(i), truth, !noiseGen || i % 2 == 0,
                                         !noiseGen || i >= 2))
                << "reading " << i;
        }
    }
}

// "Not Calculated." until all four readings are present, then the "Computed ENR" as shown.
// The bench's unknown source is off at 350 K; with the target TSoff typed in, the ENR is the
// bench's 15 dB. Changing a TSoff recomputes at once.
TEST_F(CalibrateNoiseSourcePageTest, EnrLinesAndTheComputedEnr)
{
    setBench({.unknownOffTemperatureK = 350.0,
              .receiverNfDb = 3.0,
              .dutSwitchSelects = DutSwitchSelects::UnknownSource});
    makePage();
    m_shared.setAveraging(true);
    m_shared.setAverageCount(16);
    type("tsOffTarget", "350");
    click("noiseGen");
    click("measure0");
    click("measure2");
    const char *labels[] = {"Calbrated Noise Source (on)", "Calbrated Noise Source (off)",
                            "Unknown Noise Source (on)", "Unknown Noise Source (off)"};
    QStringList expected;
    for (int i = 0; i < 4; ++i)
        expected << QString("ENR,12/6/26 2:08:33,%1,%2,").arg(labels[i], logDb(power(i))) +
                        (i < 3 ? "Not Calculated." : text("enrResult") + ",");
    EXPECT_EQ(logLines(), expected);
    EXPECT_NEAR(text("enrResult").toDouble(), 15.0, 0.5);
    // Its half-widths: the stated off-temperature uncertainty widens only the total.
    const auto halfWidth = [this](const char *name) {
        const QString t = text(name);
        EXPECT_TRUE(t.startsWith(QString::fromUtf8("\u00b1 ")) && t.endsWith(" dB (95%)"))
            << t.toStdString();
        return t.section(' ', 1, 1).toDouble();
    };
    const double statistical = halfWidth("enrStatistical");
    EXPECT_GT(statistical, 0.005);
    EXPECT_LT(statistical, 0.5);
    type("tsOffUncertainty", "10");
    EXPECT_GT(halfWidth("enrTotal"), statistical);
    EXPECT_EQ(halfWidth("enrStatistical"), statistical);
    const double at350 = text("enrResult").toDouble();
    type("tsOffTarget", "293");
    // A colder unknown source for the same Y factor has the lower ENR: the receiver's
    // (TSoff + Te) / T0 of about 2.006 loses 57 K / 290 K, 10 log10(2.202 / 2.006) = 0.41 dB.
    EXPECT_NEAR(text("enrResult").toDouble(), at350 - 0.41, 0.03);
    click("clearReadings");
    EXPECT_EQ(text("enrResult") + text("reading0") + text("reading3") + text("enrStatistical") +
                  text("enrTotal"),
              "");
}

// Both TSoff from the store and never saved, T0 shown read-only; the dummy reads chosen on
// Measure Device meanwhile show at the next activation.
TEST_F(CalibrateNoiseSourcePageTest, TsOffAndT0FromTheStore)
{
    SettingsStore store;
    store.write(keys::TSoff, "296.15");
    store.write(keys::T0, "288");
    makePage();
    EXPECT_EQ(text("tsOffReference") + " " + text("tsOffTarget") + " " + text("t0Field"),
              "296.15 296.15 288.00");
    // T0 is Measure Device's: shown on the window's background, not as an editable field,
    // yet selectable.
    auto *t0 = child<QLineEdit>(m_page, "t0Field");
    EXPECT_TRUE(t0->isReadOnly() && t0->isEnabled());
    EXPECT_EQ(t0->palette().color(QPalette::Base), t0->palette().color(QPalette::Window));
    EXPECT_NE(t0->palette().color(QPalette::Base),
              child<QLineEdit>(m_page, "tsOffTarget")->palette().color(QPalette::Base));
    m_sheet->setActivePage(m_other);
    m_shared.setDummyReads(4);
    m_sheet->setActivePage(m_page);
    EXPECT_EQ(child<QComboBox>(m_page, "dummyReads")->currentText(), "4");
    type("tsOffReference", "300");
    saveAsDefault();
    EXPECT_EQ(SettingsStore().read(keys::TSoff), "296.15");
}


// The page's series use the "automatic dummy reads" both reading pages share, so the page
// shows that box: from the store at each activation (Measure Device may have changed it), and
// a click here is stored for both.
TEST_F(CalibrateNoiseSourcePageTest, AutomaticDummyReadsAreShownAndShared)
{
    SettingsStore().write(keys::AutomaticDummyReads, 1);
    makePage();
    auto *box = child<QCheckBox>(m_page, "autoDummy");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible() && box->isChecked());
    click("autoDummy");
    EXPECT_EQ(SettingsStore().read(keys::AutomaticDummyReads), 0);
    m_sheet->setActivePage(m_other);
    m_store->write(keys::AutomaticDummyReads, 1); // as Measure Device's box writes it
    m_sheet->setActivePage(m_page);
    EXPECT_TRUE(box->isChecked());
}

} // namespace
} // namespace quillon
