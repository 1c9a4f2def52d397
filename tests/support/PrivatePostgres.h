#pragma once
// A private PostgreSQL server for the tests: a fresh cluster in a scratch
// folder, listening on a Unix socket in that folder and nowhere else, run as
// an unprivileged user when the tests run as root (the server refuses root).
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

namespace velmora::test {

class PrivatePostgres {
public:
    // Empty when this machine has no server to run.
    static QString BinDir()
    {
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &v : versions)
            if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(v)))
                return QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
        return QString();
    }

    bool Init()
    {
        if (BinDir().isEmpty() || !m_dir.isValid())
            return false;
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(m_dir.path().toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) != 0)
                return false;
        }
        return Run(QStringLiteral("initdb"), {QStringLiteral("-D"), Data(), QStringLiteral("-U"), QStringLiteral("tester"),
                                              QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                                              QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")});
    }
    bool Start()
    {
        const QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off"
                                               " -c synchronous_commit=off -c full_page_writes=off -c max_connections=30")
                                    .arg(m_dir.path());
        return Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), Data(), QStringLiteral("-l"), m_dir.filePath(QStringLiteral("log")),
                                              QStringLiteral("-o"), options, QStringLiteral("-w"), QStringLiteral("start")});
    }
    bool Stop()
    {
        return Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), Data(), QStringLiteral("-m"), QStringLiteral("fast"),
                                              QStringLiteral("-w"), QStringLiteral("stop")});
    }
    QString Connection() const
    {
        return QStringLiteral("host=%1 dbname=postgres user=tester").arg(m_dir.path());
    }
    QString Log() const { return m_log; }
    // The postmaster's process id; 0 while it is not running.
    qint64 ServerPid() const
    {
        QFile pid(Data() + QStringLiteral("/postmaster.pid"));
        return pid.open(QIODevice::ReadOnly) ? pid.readLine().trimmed().toLongLong() : 0;
    }

private:
    QString Data() const { return m_dir.filePath(QStringLiteral("data")); }
    bool Run(const QString &tool, QStringList args)
    {
        QProcess process;
        QString program = BinDir() + QLatin1Char('/') + tool;
        if (::geteuid() == 0) {
            args.prepend(program);
            args = QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--")} + args;
            program = QStringLiteral("runuser");
        }
        process.setWorkingDirectory(m_dir.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
        const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
        m_log += QString::fromLocal8Bit(process.readAll());
        return ok;
    }

    QTemporaryDir m_dir;
    QString m_log;
};

} // namespace velmora::test
