// Shared main of every test executable. Logic tests run on a QCoreApplication,
// so nothing they reach can need a screen; document tests get a
// QGuiApplication, window tests a QApplication, both on the offscreen platform.
#include <gtest/gtest.h>

#if VELMORA_TEST_APP == 2
#include <QApplication>
using TestApp = QApplication;
#elif VELMORA_TEST_APP == 1
#include <QGuiApplication>
using TestApp = QGuiApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
