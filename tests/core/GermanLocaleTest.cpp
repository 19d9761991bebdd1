// Numbers typed and stored as text read and write with "." whatever the locale: a German
// locale built with localedef (Debian ships none generated), set as the program's
// QCoreApplication sets it, from the environment.
#include "core/SettingsTestSupport.h"

#include "core/NumberText.h"
#include "core/SettingsStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <cstdlib>

using namespace quillon;

namespace {

class GermanLocale : public quillon::test::TempSettingsTest
{
protected:
    void SetUp() override
    {
        TempSettingsTest::SetUp();
        ASSERT_TRUE(m_locales.isValid());
        const int rc = QProcess::execute(
            "localedef", {"-i", "de_DE", "-f", "UTF-8", m_locales.path() + "/de_DE.UTF-8"});
        ASSERT_EQ(rc, 0) << "localedef could not build de_DE.UTF-8 (package 'locales')";
        setenv("LOCPATH", m_locales.path().toLocal8Bit().constData(), 1);
        setenv("LC_ALL", "de_DE.UTF-8", 1);
        static int argc = 1;
        static char name[] = "quillon-test";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
        ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr); // as Qt does once per process
        // Proof that the C library now reads a comma as the decimal point.
        ASSERT_DOUBLE_EQ(std::strtod("293,50", nullptr), 293.5);
    }
    void TearDown() override
    {
        m_app.reset();
        std::setlocale(LC_ALL, "C");
        TempSettingsTest::TearDown();
    }

    QTemporaryDir m_locales;
    std::unique_ptr<QCoreApplication> m_app;
};

} // namespace

TEST_F(GermanLocale, ConversionsAndStoredNumbersIgnoreTheLocale)
{
    EXPECT_DOUBLE_EQ(parseDecimal("293.50"), 293.5);
    EXPECT_DOUBLE_EQ(parseDecimal("293,50"), 293.0);
    EXPECT_DOUBLE_EQ(parseDecimal("-1.5e2"), -150.0);
    EXPECT_EQ(formatFixed(293.5, 2), "293.50");
    EXPECT_EQ(formatFixed(-0.125, 3), "-0.125");
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.2f", 293.5);
    EXPECT_STREQ(printed, "293,50"); // what printf would have stored
    // Stored number texts round-trip.
    {
        SettingsStore store;
        ASSERT_TRUE(store.writeNumber(keys::TSoff, 293.5, 2));
        ASSERT_TRUE(store.writeNumber(keys::ENR, 15.25, 3));
    }
    SettingsStore store;
    EXPECT_EQ(store.read(keys::TSoff), "293.50");
    EXPECT_DOUBLE_EQ(store.readNumber(keys::TSoff), 293.5);
    EXPECT_DOUBLE_EQ(store.readNumber(keys::ENR), 15.25);
}
