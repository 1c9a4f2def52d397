#pragma once
// A session bus of the test's own, for stand-ins of desktop services: a
// dbus-daemon without service files, so that no service installed on this
// machine is started in place of a stand-in. The stand-ins live on a thread of
// their own, as a desktop's would in its own process, so the console's
// synchronous calls are answered.
//
//   class MyTest : public PrivateBusTest { ... };
//   standIn.moveToThread(&serviceThread);  // in SetUp, after the base's
//   Offer(&standIn, path, service);         // in the test
//   TThing thing(ClientBus());
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace velmora::test {

class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        const QString config = QDir(dir.path()).filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                   "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        file.close();
        daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config,
                                                    QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 10000 && daemon.state() != QProcess::NotRunning) {
            daemon.waitForReadyRead(200);
            out += daemon.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains('\n')) << "dbus-daemon did not start";
        address = QString::fromLatin1(out.trimmed());
        serviceThread.start();
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("velmora-test-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("velmora-test-client"));
        serviceThread.quit();
        serviceThread.wait();
        daemon.terminate();
        daemon.waitForFinished(3000);
    }
    QDBusConnection ServiceBus() const
    {
        return QDBusConnection::connectToBus(address, QStringLiteral("velmora-test-service"));
    }
    QDBusConnection ClientBus() const
    {
        return QDBusConnection::connectToBus(address, QStringLiteral("velmora-test-client"));
    }
    // Registered from the service's thread: exporting signals gives the
    // object a child there.
    void Offer(QObject *object, const QString &path, const QString &service)
    {
        bool registered = false;
        QMetaObject::invokeMethod(
            object,
            [&] {
                QDBusConnection bus = ServiceBus();
                registered = bus.registerObject(path, object,
                                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
                             && bus.registerService(service);
            },
            Qt::BlockingQueuedConnection);
        ASSERT_TRUE(registered);
    }

    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QThread serviceThread;
};

} // namespace velmora::test
