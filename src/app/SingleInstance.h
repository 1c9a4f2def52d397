#pragma once
// One console per working folder. Two consoles in one folder would overwrite
// each other's Velmora.ini, interleave their log lines and save the shortcut
// files over each other.
//
// The first console of a folder holds a lock file and listens on a local
// socket, both named after the folder (a hash of its canonical path) in the
// user's runtime folder. A later start finds the lock taken, asks the running
// console over the socket to bring its main window to the front, and exits.
//
// The lock, not the socket, decides who runs: a lock left by a console that
// died is recognised as stale (its process is gone) and taken over, and the
// socket file it left is removed only by the new lock holder.
//
//   TSingleInstance instance(QDir::currentPath());
//   switch (instance.Start()) {
//   case TSingleInstance::Result::First:  connect RaiseRequested, run
//   case TSingleInstance::Result::Raised: exit: the other console is in front
//   case TSingleInstance::Result::Asked:  exit: asked, but the desktop may keep it behind
//   case TSingleInstance::Result::Busy:   exit: locked, but nobody answered
//   }
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace velmora {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { First, Raised, Asked, Busy };

    // `folder` is the working folder; `runtimeDir` where the lock and socket
    // go (empty: the user's runtime folder).
    explicit TSingleInstance(const QString &folder, const QString &runtimeDir = QString(),
                             QObject *parent = nullptr);
    ~TSingleInstance() override;

    // Blocks for at most `waitMs` while a console that holds the lock is still
    // starting and not yet listening. Nothing is shown yet at that point.
    Result Start(int waitMs = 5000);

    // The desktop's activation token of this start (XDG_ACTIVATION_TOKEN, read
    // before the toolkit takes it): passed on, it lets a Wayland compositor
    // bring the running console forward.
    void SetActivationToken(const QByteArray &token) { m_token = token; }

    // "velmora-" and the first 16 hexadecimal digits of the SHA-256 of the
    // canonical path: equal for every spelling of one folder.
    static QString KeyFor(const QString &folder);

    QString LockPath() const { return m_lockPath; }
    QString SocketPath() const { return m_socketPath; }
    // Why listening failed after the lock was taken (the console then still
    // runs; only the raise requests of later starts are lost).
    QString ListenError() const { return m_listenError; }

signals:
    // Another start in this folder wants the main window in front.
    void RaiseRequested();

private:
    Result AskToRaise(int timeoutMs);
    void Listen();
    void OnNewConnection();

    QString m_lockPath;
    QString m_socketPath;
    QString m_listenError;
    QByteArray m_token;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace velmora
