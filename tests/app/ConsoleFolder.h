#pragma once
// A console run in a temporary working folder of its own with default
// settings. The main window a test makes goes at tear-down, before the
// folder, and what it left for deferred deletion goes with it.
#include "app/Servermain.h"
#include "config/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace velmora::test {

class ConsoleInFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        Settings() = TSettings();
    }
    void TearDown() override
    {
        form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir::setCurrent(m_oldDir);
        Settings() = TSettings();
    }

    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;

private:
    QString m_oldDir;
};

} // namespace velmora::test
