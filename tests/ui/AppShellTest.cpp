// The application shell: start-up page choice, tab order, page activation and the close
// path with a running capture, the pages named in the package's texts, the About box, F1
// help, the wait dialog's hand-over from the capture thread, and the message box.
#include "PageTestSupport.h"
#include "core/SettingsStore.h"
#include "measure/SharedValues.h"
#include "ui/HelpDialog.h"
#include "ui/MainWindow.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"
#include "ui/QuillonApp.h"
#include "ui/Resources.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/MeasureDevicePage.h"
#include "ui/pages/MeasureNoisePage.h"
#include "ui/pages/SetupPage.h"
#include "ui/pages/SpectrumPage.h"

#include <QAction>
#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

using namespace quillon;

namespace {

// Runs `check` on the next modal dialog that appears, then closes it.
void onNextModal(std::function<void(QWidget *)> check)
{
    QTimer::singleShot(0, [check] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            onNextModal(check);
            return;
        }
        check(modal);
        modal->close();
    });
}

class AppShell : public quillon::test::PageTest
{
protected:
    std::unique_ptr<QuillonApp> makeApp()
    {
        EngineOptions options;
        options.portAudio = false; // the virtual bench is device 0
        auto app = std::make_unique<QuillonApp>(std::move(options));
        app->setPortProbe([] { return std::vector<std::string>{"USB", "Virtual bench"}; });
        return app;
    }

    // A set-up the program accepts: the bench, by its stored name, at 44.1 kHz mono.
    void storeValidSetup(int format = 8)
    {
        SettingsStore store;
        store.write(keys::WaveInDevice, 0);
        store.write(keys::WaveInDeviceName, "Quillon virtual bench");
        store.write(keys::WaveInFormat, format);
        QSettings raw("Tremont", "Quillon");
        raw.setValue("VirtualBench/Speed", 0.0);
        raw.setValue("VirtualBench/Seed", 7);
    }

    static QString activeCaption(QuillonApp &app)
    {
        return app.sheet().activePage() ? app.sheet().activePage()->caption() : QString();
    }
};

} // namespace

// No stored set-up, or a stored format out of the table: Setup with the device (the bench)
// and the format corrected, the record filled by Setup's initialisation; no capture.
TEST_F(AppShell, StartsOnSetupWithDeviceAndFormatCorrected)
{
    for (const auto &[stored, row, rate] : {std::tuple{-1, 8, 44100}, {25, 0, 11025}}) {
        if (stored >= 0)
            storeValidSetup(stored);
        auto app = makeApp();
        ASSERT_TRUE(app->startUp());
        EXPECT_EQ(activeCaption(*app), "Setup");
        const Settings &s = app->engine().settings();
        EXPECT_EQ(QString::asprintf("%d %d %d", s.waveInDevice, s.waveInFormat, s.sampleRate),
                  QString::asprintf("0 %d %d", row, rate));
        EXPECT_FALSE(app->engine().capture().running());
        EXPECT_FALSE(app->page<MeasureNoisePage>()->initialised()); // never shown
        EXPECT_EQ(app->shutDown(), 0);
        EXPECT_TRUE(app->pages().empty());
        EXPECT_EQ(app->page<SetupPage>(), nullptr);
    }
}

TEST_F(AppShell, ValidSetupOpensOnMeasureNoiseAndCaptures)
{
    storeValidSetup();
    auto app = makeApp();
    ASSERT_TRUE(app->startUp());
    EXPECT_EQ(activeCaption(*app), "Measure Noise");
    EXPECT_TRUE(app->engine().capture().running());

    // Tab order and captions; the window is fixed in size and has no maximize button.
    QTabWidget *tabs = app->sheet().tabs();
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i) {
        captions << tabs->tabText(i);
        EXPECT_EQ(tabs->widget(i), app->pages().at(static_cast<std::size_t>(i)));
    }
    EXPECT_EQ(captions.join('|'), "Measure Noise|Measure Device|Live Noise Figure|Show "
                                  "Spectrum|Calibrate Noise Source|Calculator|Sweep|Antenna and "
                                  "Sky|Setup");
    EXPECT_EQ(app->sheet().windowTitle(), "Quillon");
    EXPECT_FALSE(app->sheet().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(app->sheet().minimumSize(), app->sheet().maximumSize());
    EXPECT_FALSE(app->sheet().windowIcon().isNull());

    // Leaving the page stops the capture; coming back starts it again.
    tabs->setCurrentIndex(5);
    EXPECT_FALSE(app->engine().capture().running());
    tabs->setCurrentIndex(0);
    EXPECT_TRUE(app->engine().capture().running());
    // Show Spectrum captures blocks of one FFT size (8192 frames of 2 bytes).
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(app->engine().capture().running());
    EXPECT_EQ(app->engine().capture().blockLength(), 8192u * 2);
}

// The texts the package ships name every page of the window, from the one page list:
// quillon(1)'s list of pages, the AppStream description's and the package description's.
TEST_F(AppShell, ThePackagesTextsNameEveryPage)
{
    const auto text = [](const char *path) {
        QFile file(QStringLiteral(QUILLON_SOURCE_DIR "/") + QLatin1String(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        // Line breaks (and the control file's leading blanks) as one blank.
        return QString::fromUtf8(file.readAll()).simplified();
    };
    const QString manual = text("packaging/quillon.1.in");
    const QString metainfo = text("packaging/org.tremont.quillon.metainfo.xml.in");
    const QString control = text("debian/control");
    const qsizetype from = control.indexOf("The window's pages: ");
    ASSERT_GE(from, 0) << control.toStdString();
    const QString controlPages = control.mid(from, control.indexOf('.', from) - from);

    auto app = makeApp();
    ASSERT_TRUE(app->startUp()); // on Setup: nothing captures
    ASSERT_FALSE(app->pages().empty());
    for (const PropertyPage *page : app->pages()) {
        const QString caption = page->caption();
        EXPECT_TRUE(manual.contains(".TP .B " + caption + " ")) << caption.toStdString();
        EXPECT_TRUE(metainfo.contains("<li>" + caption + ": ")) << caption.toStdString();
        EXPECT_TRUE(controlPages.contains(caption)) << caption.toStdString();
    }
    EXPECT_EQ(app->shutDown(), 0);
}

TEST_F(AppShell, ClosingTheWindowWhileCapturingStopsFirst)
{
    storeValidSetup();
    auto app = makeApp();
    ASSERT_TRUE(app->startUp());
    auto *db = app->page<MeasureNoisePage>()->findChild<QLineEdit *>("dbField");
    // Let readings flow (speed 0: as fast as the page hands buffers back).
    ASSERT_NE(db, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!db->text().isEmpty(), 20000);
    ASSERT_TRUE(app->engine().capture().running());
    EXPECT_TRUE(app->sheet().close());
    EXPECT_FALSE(app->engine().capture().running());
    EXPECT_EQ(app->sheet().activePage(), nullptr);
    EXPECT_EQ(app->shutDown(), 0);
}

TEST_F(AppShell, HelpMenuOffersAboutAndPageHelp)
{
    storeValidSetup();
    auto app = makeApp();
    ASSERT_TRUE(app->startUp());
    auto *about = app->sheet().findChild<QAction *>("aboutAction");
    auto *help = app->sheet().findChild<QAction *>("pageHelpAction");
    ASSERT_NE(about, nullptr);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(about->text(), "&About Quillon...");
    EXPECT_EQ(help->shortcut(), QKeySequence(QKeySequence::HelpContents));

    QString aboutText, aboutTitle;
    onNextModal([&](QWidget *modal) {
        aboutTitle = modal->windowTitle();
        if (auto *text = modal->findChild<QLabel *>("aboutText"))
            aboutText = text->text();
        auto *icon = modal->findChild<QLabel *>("aboutIcon");
        EXPECT_TRUE(icon != nullptr && !icon->pixmap().isNull());
    });
    about->trigger();
    EXPECT_EQ(aboutTitle, "About Quillon");
    EXPECT_EQ(aboutText, QStringLiteral("Quillon Version ") + QUILLON_PROJECT_VERSION);

    // F1 on each page opens that page's topic.
    help->trigger();
    auto *dialog = app->sheet().findChild<HelpDialog *>("helpDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->topic(), "measure-noise");
    EXPECT_TRUE(dialog->text().contains("Crest Factor"));
    const std::pair<PropertyPage *, const char *> pages[] = {
        {app->page<SetupPage>(), "Virtual bench"},
        {app->page<MeasureDevicePage>(), "Dummy Reads"},
        {app->page<CalibrateNoiseSourcePage>(), "Target Device TSoff"},
        {app->page<SpectrumPage>(), "noise bandwidth"}};
    for (const auto &[page, text] : pages) {
        app->sheet().setActivePage(page);
        help->trigger();
        EXPECT_EQ(dialog->topic(), page->helpTopic());
        EXPECT_TRUE(dialog->text().contains(text)) << text;
    }
    dialog->setTopic("no-such-page");
    EXPECT_EQ(dialog->topic(), "overview");

    // The overview from the menu; links between topics, Back, Forward and Contents.
    dialog->setTopic("setup");
    auto *contents = app->sheet().findChild<QAction *>("helpContentsAction");
    ASSERT_NE(contents, nullptr);
    contents->trigger();
    EXPECT_EQ(dialog->topic(), "overview");
    dialog->followLink("measure-noise.html");
    EXPECT_EQ(dialog->topic(), "measure-noise");
    QTest::mouseClick(dialog->findChild<QPushButton *>("helpBack"), Qt::LeftButton);
    EXPECT_EQ(dialog->topic(), "overview");
    QTest::mouseClick(dialog->findChild<QPushButton *>("helpForward"), Qt::LeftButton);
    EXPECT_EQ(dialog->topic(), "measure-noise");
    QTest::mouseClick(dialog->findChild<QPushButton *>("helpContents"), Qt::LeftButton);
    EXPECT_EQ(dialog->topic(), "overview");
    dialog->close();
}

// The Measure Device page's entry, TSoff and T0 go to the store at exit as text with three,
// two and two decimals, saved or not; T0 is never edited, only rounded.
TEST_F(AppShell, ExitWritesTheMeasureDeviceValues)
{
    storeValidSetup();
    SettingsStore().write(keys::T0, "288.126");
    auto app = makeApp();
    ASSERT_TRUE(app->startUp());
    MeasureDevicePage *device = app->page<MeasureDevicePage>();
    app->sheet().setActivePage(device);
    for (const auto &[name, typed] : {std::pair{"enrEntry", "19.25"}, {"tsOff", "296.5"}}) {
        auto *field = device->findChild<QLineEdit *>(name);
        field->selectAll();
        QTest::keyClicks(field, typed);
    }
    EXPECT_EQ(app->shutDown(), 0);
    const SettingsStore saved;
    EXPECT_EQ(saved.read(keys::ENR) + " " + saved.read(keys::TSoff) + " " + saved.read(keys::T0),
              "19.250 296.50 288.13");
}

// The averaging flag is one value: switched off on Measure Device, Measure Noise shows it off
// when it is shown again (and does not switch it back on when it is left).
TEST_F(AppShell, AveragingFlagIsSharedBetweenThePages)
{
    storeValidSetup();
    SettingsStore().write(keys::TraceAverageFlag, 1);
    auto app = makeApp();
    ASSERT_TRUE(app->startUp());
    MeasureNoisePage *noise = app->page<MeasureNoisePage>();
    MeasureDevicePage *device = app->page<MeasureDevicePage>();
    auto *noiseEnable = noise->findChild<QCheckBox *>("averageEnable");
    EXPECT_TRUE(noiseEnable->isChecked());
    app->sheet().setActivePage(device);
    auto *deviceEnable = device->findChild<QCheckBox *>("averageEnable");
    EXPECT_TRUE(deviceEnable->isChecked());
    deviceEnable->click();
    app->sheet().setActivePage(noise);
    EXPECT_FALSE(noiseEnable->isChecked());
    app->sheet().setActivePage(app->page<CalibrateNoiseSourcePage>());
    EXPECT_FALSE(app->shared().averaging());
    EXPECT_EQ(app->shutDown(), 0);
}

// Every page's topic leads to the overview, and the overview to every topic: no page's help
// is out of reach.
TEST(HelpTopics, OverviewAndTopicsLinkBothWays)
{
    initResources();
    QDirIterator topics(":/quillon/help", {"*.html"});
    QStringList names;
    QString overview;
    while (topics.hasNext()) {
        QFile file(topics.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QString name = QFileInfo(file.fileName()).fileName();
        if (name == "overview.html")
            overview = text;
        else {
            names << name;
            EXPECT_TRUE(text.contains("href=\"overview.html\"")) << name.toStdString();
        }
    }
    ASSERT_GE(names.size(), 2);
    for (const QString &name : names)
        EXPECT_TRUE(overview.contains("href=\"" + name + "\"")) << name.toStdString();
}

TEST_F(AppShell, MessageBoxTitleIsTheApplicationAndTextComesFromTheTable)
{
    test::BoxCatcher boxes; // also expects one button
    showMessageBox(kMsgCannotOpenWaveDevice);
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgCannotOpenWaveDevice)});
}

// The capture thread's progress shows with the run's label, a late post from the run before
// never; "Cancel" ends the run as cancelled and the dialog does not show again for it;
// endRun closes a run that a later reject() no longer cancels.
TEST_F(AppShell, WaitDialogShowsItsOwnRunsProgressAndCancelEndsTheRun)
{
    MeasuringNoiseDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Measuring Noise");
    dialog.arm("Noise (ON)");
    std::thread([&] { dialog.postProgress({ReadingProgress::Kind::Dummy, 3}); }).join();
    dialog.arm("DUT (ON)"); // the post above arrives after the page has started this run
    dialog.showRun();
    EXPECT_TRUE(dialog.isVisible());
    std::thread([&] { dialog.postProgress({ReadingProgress::Kind::Counted, 4}); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.statusText(), "Reading DUT (ON) : 4");

    dialog.findChild<QPushButton *>("cancelButton")->click();
    EXPECT_TRUE(dialog.cancelled());
    EXPECT_FALSE(dialog.isVisible());
    dialog.showRun();
    EXPECT_FALSE(dialog.isVisible());

    dialog.arm();
    dialog.showRun();
    dialog.endRun();
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible() || dialog.cancelled());
}
