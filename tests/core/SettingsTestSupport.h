#pragma once

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillon::test {

// Points the per-user store at a fresh temporary folder for each test.
class TempSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }
    void TearDown() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }

    // The store's file: <folder>/Tremont/Quillon.conf.
    QString storeFile() const { return m_dir.path() + "/Tremont/Quillon.conf"; }
    QString folder() const { return m_dir.path(); }

    QTemporaryDir m_dir;
};

} // namespace quillon::test
