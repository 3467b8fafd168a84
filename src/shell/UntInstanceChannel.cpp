#include "UntInstanceChannel.h"

#include "UntInstanceLock.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr char Acknowledged = 1;
constexpr quint32 MaxMessageBytes = 1 << 20;

QByteArray Encode(const TInstanceMessage& message) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out << static_cast<quint8>(message.Type) << message.Arguments;
    QByteArray framed;
    QDataStream(&framed, QIODevice::WriteOnly) << static_cast<quint32>(body.size());
    return framed + body;
}

} // namespace

TInstanceChannel::TInstanceChannel(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {}

TInstanceChannel::~TInstanceChannel() = default;

QString TInstanceChannel::SocketPath(const QString& name) {
    const QString lock = TInstanceLock::LockPath(name);
    return lock.isEmpty() ? QString() : lock + QStringLiteral(".socket");
}

bool TInstanceChannel::Listen() {
    // A full path, in the lock's folder: a bare name would be made in the shared temporary
    // folder, where another user could take it first.
    const QString path = SocketPath(name_);
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path))
        return false;
    connect(server_, &QLocalServer::newConnection, this, &TInstanceChannel::Accept);
    return true;
}

void TInstanceChannel::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < qint64(sizeof(quint32)))
                return;
            quint32 size = 0;
            QDataStream(socket->peek(sizeof(quint32))) >> size;
            if (size > MaxMessageBytes) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < qint64(sizeof(quint32) + size))
                return;
            socket->read(sizeof(quint32));
            QDataStream in(socket->read(size));
            quint8 type = 0;
            TInstanceMessage message;
            in >> type >> message.Arguments;
            if (in.status() != QDataStream::Ok)
                return socket->abort();
            message.Type = static_cast<TInstanceMessageType>(type);
            socket->write(&Acknowledged, 1);
            socket->flush();
            socket->disconnectFromServer();
            Q_EMIT Received(message);
        });
    }
}

bool TInstanceChannel::Send(const QString& name, const TInstanceMessage& message, int timeoutMs) {
    const QString path = SocketPath(name);
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(Encode(message));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    if (!socket.bytesAvailable() && !socket.waitForReadyRead(timeoutMs))
        return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == Acknowledged;
}
