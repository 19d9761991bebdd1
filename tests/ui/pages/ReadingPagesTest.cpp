// The steps both reading pages share, on each page: the entry and the ENR file, the stated
// ENR uncertainty from the file, "Save as Defaut", and readings that end early.
#include "ReadingPageTestSupport.h"
#include "nf/EnrTable.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/MeasureDevicePage.h"

#include <string_view>
#include <type_traits>

namespace quillon {
namespace {

template <typename Page> class ReadingPagesTest : public test::ReadingPageTest<Page>
{
protected:
    static constexpr bool kDevice = std::is_same_v<Page, MeasureDevicePage>;
    void SetUp() override
    {
        test::ReadingPageTest<Page>::SetUp();
        // The bench's DUT output selects the unknown source while a source is calibrated.
        if (!kDevice)
            this->setBench({.dutSwitchSelects = DutSwitchSelects::UnknownSource});
    }
    // The total half-width of the page's main result (the noise figure, the computed ENR).
    QString total() { return this->text(kDevice ? "nfTotal" : "enrTotal"); }
};

using Pages = ::testing::Types<MeasureDevicePage, CalibrateNoiseSourcePage>;
TYPED_TEST_SUITE(ReadingPagesTest, Pages);

// The entry is a frequency while an ENR file is in use; without one a negative ENR counts as
// 0 dB. It is the shared entry.
TYPED_TEST(ReadingPagesTest, EntryIsTheEnrOrTheFrequencyOfTheFile)
{
    ASSERT_EQ(parseEnrData("10,20\n30,24\n", this->m_engine->enrTable()), kMsgNone);
    this->settings().useEnrFile = true;
    auto &page = this->makePage();
    const auto caption = [&](const char *name) {
        return this->template child<QLabel>(&page, name);
    };
    EXPECT_EQ(caption("enrCaption")->text(), "F (MHz)");
    EXPECT_TRUE(caption("enrComputedCaption")->isEnabled());
    this->type("enrEntry", "20");
    EXPECT_EQ(this->text("enrComputed"), "22.000");
    EXPECT_EQ(this->m_shared.enrEntry(), 20.0);
    this->m_sheet->setActivePage(this->m_other); // to Setup and back, the file no longer used
    this->settings().useEnrFile = false;
    this->m_sheet->setActivePage(&page);
    EXPECT_EQ(this->text("enrEntry"), "20.000"); // three decimals at every activation
    EXPECT_EQ(caption("enrCaption")->text(), "ENR (dB)");
    EXPECT_FALSE(caption("enrComputedCaption")->isEnabled());
    this->type("enrEntry", "-3");
    EXPECT_EQ(this->text("enrComputed") + QString::number(page.enrInEffect()), "0");
}

// With the file in use, the ENR's stated uncertainty is the file's third column at the entry
// (0.5 dB at 150 MHz, between 0.2 and 0.8), not the one typed: the total half-width is that of
// the same readings with 0.5 dB typed and no file, at the same ENR.
TYPED_TEST(ReadingPagesTest, StatedEnrUncertaintyIsTheFilesAtTheEntry)
{
    ASSERT_EQ(parseEnrData("100,25,0.2\n200,25,0.8\n", this->m_engine->enrTable()), kMsgNone);
    this->settings().useEnrFile = true;
    auto &page = this->makePage();
    this->type("enrEntry", "150");
    this->type("enrUncertainty", "0.1");
    this->measureAll();
    const QString fromFile = this->total();
    ASSERT_FALSE(fromFile.isEmpty());
    this->m_sheet->setActivePage(this->m_other);
    this->settings().useEnrFile = false;
    this->m_sheet->setActivePage(&page);
    this->type("enrEntry", "25");
    EXPECT_NE(this->total(), fromFile); // 0.1 dB as typed
    this->type("enrUncertainty", "0.5");
    EXPECT_EQ(this->total(), fromFile);
}

// Stored values show at activation (lowest bit of the automation flags); "Save as Defaut"
// writes the shared three, then the page's own, in order, not the entry; one message when
// the store fails.
TYPED_TEST(ReadingPagesTest, SaveAsDefautWritesTheSharedValuesThenThePagesOwn)
{
    const IntValue &noiseGen = this->kDevice ? keys::AutomateNoiseSwitchInMeasureFunction
                                             : keys::AutomateNoiseSwitchInCalibrateFunction;
    SettingsStore store;
    store.write(keys::DummyReads, 3);
    store.write(keys::TraceAverageCount, 12);
    store.write(keys::TraceAverageFlag, 1);
    store.write(noiseGen, 3);
    store.write(keys::AutomateDutSwitchInMeasureFunction, 2);
    store.write(keys::ENR, "21.5");
    auto &page = this->makePage();
    auto *dummyReads = this->template child<QComboBox>(&page, "dummyReads");
    EXPECT_EQ(dummyReads->currentText() + "," +
                  this->template child<QComboBox>(&page, "averageCount")->currentText(),
              "3,12");
    EXPECT_EQ(dummyReads->count(), 11);
    QString checked;
    for (const char *box : {"averageEnable", "noiseGen", "dutSwitch"})
        if (this->kDevice || box != std::string_view("dutSwitch"))
            checked += this->template child<QCheckBox>(&page, box)->isChecked() ? '1' : '0';
    EXPECT_EQ(checked, this->kDevice ? "110" : "11");
    this->choose("dummyReads", 0);
    this->choose("averageCount", 4);
    this->click("averageEnable");
    this->click("noiseGen");
    if (this->kDevice)
        this->click("dutSwitch");
    this->type("enrEntry", "19");
    const QString shared = "TraceAverageCount,TraceAverageFlag,DummyReads,";
    if (this->kDevice) {
        EXPECT_EQ(this->saveAsDefault(), shared + "AutomateNoiseSwitchInMeasureFunction,"
                                                  "AutomateDutSwitchInMeasureFunction");
        EXPECT_EQ(this->savedInts(keys::TraceAverageCount, keys::TraceAverageFlag, keys::DummyReads,
                                  noiseGen, keys::AutomateDutSwitchInMeasureFunction),
                  "5 0 0 0 1");
    } else {
        EXPECT_EQ(this->saveAsDefault(), shared + "AutomateNoiseSwitchInCalibrateFunction");
        EXPECT_EQ(this->savedInts(keys::TraceAverageCount, keys::TraceAverageFlag, keys::DummyReads,
                                  noiseGen),
                  "5 0 0 0");
    }
    EXPECT_EQ(SettingsStore().read(keys::ENR), "21.5");
    this->expectSaveFailureMessage();
}

// A reading that ends without completing, after one that completed: no line, the earlier
// value kept, the capture stopped, the series over, no hang; the message where there is one.
// The progress line counts the averaged blocks from the capture thread with the label.
TYPED_TEST(ReadingPagesTest, ReadingsEndingEarlyKeepTheEarlierValue)
{
    // The name, the device, what happens once the counted blocks come (0 nothing, 1 "Cancel",
    // 2 the window closes, 3 another tab is chosen), the message.
    const std::tuple<const char *, int, int, const char *> cases[] = {
        {"Cancel", test::kBench, 1, ""},
        {"window closed", test::kBench, 2, ""},
        {"page left", test::kBench, 3, ""},
        {"device stops delivering", test::kSilentDevice, 0,
         messageText(kMsgCannotOpenWaveDevice)},
        {"device does not open", test::kRefusingDevice, 0, ""},
        {"capture does not start", test::kNoStartDevice, 0,
         messageText(kMsgCannotOpenWaveDevice)},
    };
    const QString counting =
        QString("Reading %1 : ")
            .arg(QLatin1String(seriesReadingLabel(
                this->kDevice ? SeriesKind::Device : SeriesKind::Calibration, 0)));
    for (const auto &[name, device, action, message] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(this->logPath());
        this->settings().waveInDevice = test::kBench;
        this->setBench({});
        auto &page = this->makePage();
        this->click("measure0");
        const QString earlier = this->text("reading0");
        const double power = this->power(0);
        const QStringList lines = this->logLines();
        ASSERT_EQ(lines.size(), 1);

        this->settings().waveInDevice = device;
        this->setBench({}, true); // real time: 100 ms a block
        this->m_shared.setAveraging(true);
        // 32 blocks (3.2 s): the action at the first counted block comes long before the end.
        this->m_shared.setAverageCount(32);
        if (action != 0)
            this->whenDialogShows(
                [this, action] {
                    if (action == 1)
                        this->pressCancel();
                    else if (action == 2)
                        this->m_sheet->close();
                    else
                        this->m_sheet->setActivePage(this->m_other);
                },
                counting);
        test::BoxCatcher boxes;
        this->click("measure0");
        EXPECT_EQ(boxes.texts.join('|'), message);
        EXPECT_FALSE(page.seriesRunning() || this->m_engine->capture().running() ||
                     this->m_dialog->isVisible());
        EXPECT_EQ(this->text("reading0"), earlier);
        EXPECT_EQ(this->power(0), power);
        EXPECT_EQ(this->logLines(), lines);
    }
}

} // namespace
} // namespace quillon
