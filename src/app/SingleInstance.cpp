#include "app/SingleInstance.h"

#include "app/ActivationToken.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace velmora {

namespace {

const QByteArray kRaise = QByteArrayLiteral("raise\n");
// "raise token=" + the activation token + "\n".
const QByteArray kRaiseWithToken = QByteArrayLiteral("raise token=");
const QByteArray kRaised = QByteArrayLiteral("raised\n");
// Asked, but without a token a Wayland compositor keeps the window behind.
const QByteArray kAsked = QByteArrayLiteral("asked\n");
// A request is one short line; anything longer is not one of ours.
constexpr qsizetype kMaxRequest = 320;
constexpr int kRequestTimeoutMs = 3000;

QString RuntimeFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

} // namespace

TSingleInstance::TSingleInstance(const QString &folder, const QString &runtimeDir, QObject *parent)
    : QObject(parent)
{
    const QDir dir(runtimeDir.isEmpty() ? RuntimeFolder() : runtimeDir);
    const QString key = KeyFor(folder);
    m_lockPath = dir.filePath(key + QStringLiteral(".lock"));
    m_socketPath = dir.filePath(key + QStringLiteral(".sock"));
}

TSingleInstance::~TSingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file before the lock goes
}

QString TSingleInstance::KeyFor(const QString &folder)
{
    QString path = QFileInfo(folder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QDir(folder).absolutePath());
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("velmora-") + QString::fromLatin1(hash.left(16));
}

TSingleInstance::Result TSingleInstance::Start(int waitMs)
{
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // Stale only when its process is gone, however long a console has run.
    m_lock->setStaleLockTime(0);
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (m_lock->tryLock(0)) {
            Listen();
            return Result::First;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // No lock can be made here (runtime folder missing or read-only):
            // running unguarded beats not running at all.
            m_listenError = QStringLiteral("cannot create %1").arg(m_lockPath);
            m_lock.reset();
            return Result::First;
        }
        if (const Result asked = AskToRaise(int(qMax<qint64>(100, deadline.remainingTime())));
            asked != Result::Busy)
            return asked;
        if (deadline.hasExpired())
            return Result::Busy;
        // The console holding the lock is still starting: nothing is on the
        // screen yet, so a short sleep here freezes no window.
        QThread::msleep(100);
    }
}

TSingleInstance::Result TSingleInstance::AskToRaise(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(qMin(timeoutMs, 1000)))
        return Result::Busy;
    socket.write(ValidActivationToken(m_token) ? kRaiseWithToken + m_token + '\n' : kRaise);
    if (!socket.waitForBytesWritten(timeoutMs))
        return Result::Busy;
    QByteArray answer;
    QDeadlineTimer deadline(timeoutMs);
    while (!answer.contains('\n') && answer.size() < kMaxRequest) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        answer += socket.read(kMaxRequest - answer.size());
        if (deadline.hasExpired())
            break;
    }
    if (answer == kRaised)
        return Result::Raised;
    return answer == kAsked ? Result::Asked : Result::Busy;
}

void TSingleInstance::Listen()
{
    // Only the lock holder gets here, so a socket file left behind belongs to
    // a console that is gone.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        m_listenError = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &TSingleInstance::OnNewConnection);
}

void TSingleInstance::OnNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never finishes its line is dropped.
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); socket->deleteLater(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->property("answered").toBool()) {
                socket->readAll();
                return;
            }
            QByteArray request = socket->property("request").toByteArray();
            request += socket->read(kMaxRequest - request.size());
            if (!request.contains('\n') && request.size() < kMaxRequest) {
                socket->setProperty("request", request);
                return;
            }
            socket->setProperty("answered", true);
            QByteArray token;
            if (request.startsWith(kRaiseWithToken) && request.endsWith('\n'))
                token = request.mid(kRaiseWithToken.size(), request.size() - kRaiseWithToken.size() - 1);
            if (request == kRaise || ValidActivationToken(token)) {
                const bool takesEffect = UseActivationToken(token);
                emit RaiseRequested();
                socket->write(takesEffect ? kRaised : kAsked);
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace velmora
