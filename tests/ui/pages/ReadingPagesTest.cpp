// The steps both reading pages share, on each page: the entry and the ENR file, the stated
// ENR uncertainty from the file, "Save as Defaut", and readings that end early.
#include "ReadingPageTestSupport.h"
#include "nf/EnrTable.h"
#include "ui/pages/ReadingPageWidgets.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/MeasureDevicePage.h"

#include <QApplication>

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
         messageText(kMsgDeviceStoppedDelivering)},
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


// Text that is not a number, typed into any field the page computes with, is marked there (a
// red frame, a tool tip saying what is expected), blanks the results it feeds instead of being
// read as 0 (Calibrate's target TSoff "abc" gave a plausible 14 dB), and "Measure" takes no
// reading but focuses the field. A number typed again brings the results back.
TYPED_TEST(ReadingPagesTest, TextThatIsNoNumberIsMarkedAndComputesNothing)
{
    auto &page = this->makePage();
    this->measureAll();
    const char *result = this->kDevice ? "nfField" : "enrResult";
    const QString shown = this->text(result);
    ASSERT_FALSE(shown.isEmpty());
    const int lines = this->logLines().size();
    std::vector<const char *> fields{"enrEntry", "enrUncertainty", "tsOffUncertainty"};
    if (this->kDevice)
        fields.insert(fields.end(), {"tsOff", "precisionTarget", "precisionMaxTime"});
    else
        fields.insert(fields.end(), {"tsOffReference", "tsOffTarget"});
    for (const char *name : fields) {
        auto *field = this->template child<QLineEdit>(&page, name);
        const QString before = field->text();
        for (const char *typed : {"abc", "nan", "inf", "0x1A", ""}) {
            if (*typed == '\0' && field->property("emptyAllowed").toBool())
                continue; // no stated uncertainty
            SCOPED_TRACE(std::string(name) + " = '" + typed + "'");
            this->type(name, QString::fromLatin1(typed));
            EXPECT_TRUE(field->property("notANumber").toBool());
            EXPECT_TRUE(field->toolTip().startsWith("Not a number: "));
            EXPECT_TRUE(field->styleSheet().contains("border"));
            // The precision shapes the series only: the results stay.
            const bool feeds = std::string_view(name).substr(0, 9) != "precision";
            EXPECT_EQ(this->text(result), feeds ? QString() : shown);
            EXPECT_EQ(this->total().isEmpty(), feeds);
            this->measure(0);
            EXPECT_EQ(this->logLines().size(), lines);
            EXPECT_EQ(this->m_sheet->focusWidget(), field);
        }
        this->type(name, before);
        EXPECT_FALSE(field->property("notANumber").toBool()) << name;
        EXPECT_FALSE(field->toolTip().startsWith("Not a number")) << name;
        EXPECT_EQ(this->text(result), shown) << name;
    }
    // A number with a unit after it is read by its leading number, as everywhere.
    this->type(this->kDevice ? "tsOff" : "tsOffTarget", "293 K");
    EXPECT_EQ(this->text(result), shown);
}

// A result that shows " Error" has no half-width beside it (an ENR of 0 dB makes the
// system's Te negative; the unknown source then reads about -10 dB); the gain, which does not
// depend on the ENR, keeps its own. A half-width too long for its field is shown compact.
TYPED_TEST(ReadingPagesTest, HalfWidthsStandOnlyBesideValidResults)
{
    auto &page = this->makePage();
    this->measureAll();
    this->type("enrEntry", "0");
    const char *const error = messageText(kMsgResultError);
    const std::vector<const char *> results =
        this->kDevice ? std::vector<const char *>{"te", "f", "nf"}
                      : std::vector<const char *>{"enr"};
    for (const char *r : results) {
        const QString name(r);
        EXPECT_EQ(this->text((name + (this->kDevice ? "Field" : "Result")).toLatin1()), error)
            << r;
        EXPECT_EQ(this->text((name + "Statistical").toLatin1()) +
                      this->text((name + "Total").toLatin1()),
                  "")
            << r;
    }
    if (this->kDevice) {
        EXPECT_TRUE(this->text("gainStatistical").startsWith(QString::fromUtf8("\u00b1 ")));
    }

    EXPECT_EQ(halfWidthForField("\u00b1 9543485643 K (95%)"),
              QString::fromUtf8("\u00b1 9.5e+09 K (95%)"));
    EXPECT_EQ(halfWidthForField("\u00b1 999999 K (95%)"), QString::fromUtf8("\u00b1 999999 K (95%)"));
    EXPECT_EQ(halfWidthForField("\u00b1 9960000 (95%)"), QString::fromUtf8("\u00b1 1.0e+07 (95%)"));
    auto *field = this->template child<QLineEdit>(&page, this->kDevice ? "teTotal" : "enrTotal");
    for (const char *widest : {"\u00b1 9.5e+09 K (95%)", "\u00b1 999999 K (95%)"})
        EXPECT_LT(field->fontMetrics().horizontalAdvance(QString::fromUtf8(widest)),
                  field->contentsRect().width() - 4)
            << widest;
}

// The entry says what it is: beside it the ENR the file gives, readable (enabled, not
// editable, selectable); when the file was turned on or off since the page was last shown, a
// note says how the entry is read now, until the entry is edited.
TYPED_TEST(ReadingPagesTest, EntrySaysHowItIsReadNow)
{
    ASSERT_EQ(parseEnrData("10,20\n30,24\n", this->m_engine->enrTable()), kMsgNone);
    auto &page = this->makePage();
    auto *note = this->template child<QLabel>(&page, "entryNote");
    auto *computed = this->template child<QLineEdit>(&page, "enrComputed");
    EXPECT_FALSE(note->isVisible());
    this->type("enrEntry", "20");
    this->m_sheet->setActivePage(this->m_other);
    this->settings().useEnrFile = true;
    this->m_sheet->setActivePage(&page);
    ASSERT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains("20.000 is read as a frequency in MHz")) << note->text().toStdString();
    EXPECT_EQ(computed->text(), "22.000");
    EXPECT_TRUE(computed->isEnabled() && computed->isReadOnly());
    EXPECT_EQ(computed->palette().color(QPalette::Base),
              computed->palette().color(QPalette::Window));
    computed->selectAll();
    EXPECT_EQ(computed->selectedText(), "22.000");
    this->m_sheet->setActivePage(this->m_other); // shown again, the file still in use
    this->m_sheet->setActivePage(&page);
    EXPECT_FALSE(note->isVisible());
    this->m_sheet->setActivePage(this->m_other);
    this->settings().useEnrFile = false;
    this->m_sheet->setActivePage(&page);
    EXPECT_TRUE(note->text().contains("read as the ENR in dB"));
    this->type("enrEntry", "25");
    EXPECT_FALSE(note->isVisible());
}

// At 1024 x 768: the reading rows sit as close in one group as in the other, no group is
// stretched beyond its contents, the wait dialog covers no reading or result, every read-only
// field is readable and selectable, Tab walks the Measure buttons and then the typed fields
// (no result), and Ctrl+1 to Ctrl+4 measure their reading.
TYPED_TEST(ReadingPagesTest, PageReadsAtAGlanceAndWorksFromTheKeyboard)
{
    auto &page = this->makePage();
    this->m_sheet->resize(1024, 768);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(this->m_sheet.get()));
    EXPECT_LE(this->m_sheet->minimumSizeHint().width(), 1024);
    EXPECT_LE(this->m_sheet->minimumSizeHint().height(), 768);
    const auto y = [&](int reading) {
        auto *b = this->template child<QWidget>(&page, QString("measure%1").arg(reading).toLatin1());
        return b->mapTo(&page, QPoint(0, 0)).y();
    };
    EXPECT_EQ(y(1) - y(0), y(3) - y(2));
    for (QGroupBox *group : page.template findChildren<QGroupBox *>())
        if (group->parentWidget() == &page) {
            EXPECT_LE(group->height(), group->sizeHint().height() + 2)
                << group->title().toStdString();
        }

    this->m_sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(this->m_sheet.get()));
    this->template child<QWidget>(&page, "measure0")->setFocus();
    QStringList visited;
    for (int i = 0; i < 10; ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited.mid(0, 4), (QStringList{"measure0", "measure1", "measure2", "measure3"}));
    EXPECT_TRUE(visited.contains("enrEntry") && visited.contains("enrUncertainty"))
        << visited.join(',').toStdString();

    this->measureAll();
    const QRect dialog = this->m_dialog->frameGeometry();
    for (QLineEdit *field : page.template findChildren<QLineEdit *>()) {
        if (!field->isReadOnly())
            continue;
        const QRect shown(field->mapToGlobal(QPoint(0, 0)), field->size());
        EXPECT_FALSE(dialog.intersects(shown)) << field->objectName().toStdString();
        EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
        EXPECT_TRUE(field->focusPolicy() & Qt::ClickFocus) << field->objectName().toStdString();
    }

    this->click("clearReadings");
    this->click("noiseGen"); // off: each shortcut takes its one reading
    if (this->kDevice)
        this->click("dutSwitch");
    for (int i = 0; i < 4; ++i) {
        this->m_sheet->activateWindow(); // back from the wait dialog
        ASSERT_TRUE(QTest::qWaitForWindowActive(this->m_sheet.get()));
        // Through the window system, as a key press arrives (where shortcuts are matched).
        QTest::keyClick(this->m_sheet->windowHandle(), Qt::Key(Qt::Key_1 + i), Qt::ControlModifier);
        // A shortcut clicks the button after its press shows (a timer).
        const QByteArray field = QString("reading%1").arg(i).toLatin1();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !this->text(field).isEmpty(); }, 5000)) << i;
    }
}

} // namespace
} // namespace quillon
