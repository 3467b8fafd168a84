#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

// What a later start asks of the running copy.
enum class TInstanceMessageType : quint8 {
    Activate = 1, // show the main window and bring it to the front
};

struct TInstanceMessage {
    TInstanceMessageType Type = TInstanceMessageType::Activate;
    QStringList Arguments;
};

// A local socket beside the instance lock, through which a later start hands a message to the
// copy that holds the lock. Only the lock holder listens, so a socket left by a dead copy is
// simply replaced.
class TInstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit TInstanceChannel(const QString& name, QObject* parent = nullptr);
    ~TInstanceChannel() override;

    // Starts listening; false when the socket cannot be made (the program goes on without).
    bool Listen();
    // Hands message to the running copy; true once that copy has taken it.
    static bool Send(const QString& name, const TInstanceMessage& message, int timeoutMs = 3000);
    static QString SocketPath(const QString& name);

Q_SIGNALS:
    void Received(const TInstanceMessage& message);

private:
    void Accept();

    QString name_;
    QLocalServer* server_ = nullptr;
};
