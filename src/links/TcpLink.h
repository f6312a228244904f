#pragma once
// The TCP modem link: a client connection to a modem server that passes bytes both ways.

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

class TcpLink : public QObject {
    Q_OBJECT
public:
    enum State {
        wsInvalidState,
        wsOpened,
        wsBound,
        wsConnecting,
        wsConnected,
        wsAccepting,
        wsListening,
        wsClosed
    };
    Q_ENUM(State)

    explicit TcpLink(QObject* parent = nullptr);
    ~TcpLink() override;

    State state() const { return state_; }
    bool isConnected() const { return state_ == wsConnected; }

    QString addr() const { return addr_; }
    QString port() const { return port_; }
    // Both trim blanks; a change while not closed raises AppError.
    void setAddr(const QString& addr);
    void setPort(const QString& port);

    // Sets address and port, checks them and starts the connection; returns at once in
    // wsConnecting. Raises AppError when the link is in use or the address or port is empty
    // or does not resolve. A connection that fails later just returns to wsClosed.
    void connectTo(const QString& addr, const QString& port);
    // Discards what is not yet sent and closes the connection (state wsClosed).
    void close();

    // Queues the bytes while connected; otherwise they are dropped.
    void sendString(QByteArrayView bytes);

Q_SIGNALS:
    // Bytes as they arrive, NUL bytes removed; data still pending when the other side closes
    // are delivered before the state becomes wsClosed.
    void dataReceived(const QByteArray& data);
    void stateChanged(TcpLink::State state);

private:
    void setState(State s);
    void onSocketState(QAbstractSocket::SocketState s);
    void onConnected();
    void readSocket();  // one piece; the rest follows from the event loop
    void drainSocket(); // everything still buffered

    static constexpr qint64 kMaxPiece = 32 * 1024;
    bool readScheduled_ = false;

    QTcpSocket socket_;
    QString addr_;
    QString port_;
    State state_ = wsClosed;
};
