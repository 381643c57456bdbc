#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

namespace parlo {

namespace {
constexpr int kAnswerMs = 1000;
const QByteArray kOpen = QByteArrayLiteral("open\n");
} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent)
    , name_(socketName(key)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketName(const QString& key) {
    // A hash keeps the name short and free of slashes whatever the folder's path.
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("mello-parlo-") + QString::fromLatin1(digest.left(24));
}

bool SingleInstance::claim(bool showWindow) {
    {
        QLocalSocket socket;
        socket.connectToServer(name_);
        if (socket.waitForConnected(kAnswerMs)) {
            if (showWindow) {
                socket.write(kOpen);
                socket.waitForBytesWritten(kAnswerMs);
            }
            socket.disconnectFromServer();
            return false;
        }
    }
    // Nobody answers: a socket file left by a process that crashed is stale and may go.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains(kOpen))
                    Q_EMIT activationRequested();
            });
        }
    });
    // If listening fails the application still runs; it only cannot be found by a second start.
    server_->listen(name_);
    return true;
}

} // namespace parlo
