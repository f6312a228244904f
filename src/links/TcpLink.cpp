#include "TcpLink.h"

#include "TcpPorts.h"
#include "core/AppError.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
QString resolverMessage(int rc) {
    if (rc == EAI_SYSTEM)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromLocal8Bit(gai_strerror(rc));
}

// IPv4 only: the link binds to 0.0.0.0.
quint32 resolveHost(const QString& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = getaddrinfo(host.toLocal8Bit().constData(), nullptr, &hints, &res);
    if (rc != 0 || !res)
        throw AppError(QStringLiteral("connect: WSocketResolveHost: Cannot convert host address '%1', %2")
                           .arg(host, resolverMessage(rc)));
    const quint32 ip = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return ip;
}

// A number or a service name of /etc/services.
quint16 resolvePort(const QString& port) {
    quint16 p = 0;
    const int rc = TcpPorts::resolve(port, p);
    if (rc != 0)
        throw AppError(QStringLiteral("connect: WSocketResolvePort: Cannot convert port '%1', %2")
                           .arg(port, resolverMessage(rc)));
    return p;
}
} // namespace

TcpLink::TcpLink(QObject* parent) : QObject(parent) {
    socket_.setProxy(QNetworkProxy::NoProxy);
    connect(&socket_, &QAbstractSocket::stateChanged, this, &TcpLink::onSocketState);
    connect(&socket_, &QAbstractSocket::connected, this, &TcpLink::onConnected);
    connect(&socket_, &QIODevice::readyRead, this, &TcpLink::readSocket);
}

TcpLink::~TcpLink() {
    socket_.disconnect(this);
    socket_.abort();
}

void TcpLink::setAddr(const QString& addr) {
    const QString value = addr.trimmed();
    if (value == addr_)
        return;
    if (state_ != wsClosed)
        throw AppError(QStringLiteral("Cannot change Addr if not closed"));
    addr_ = value;
}

void TcpLink::setPort(const QString& port) {
    const QString value = port.trimmed();
    if (value == port_)
        return;
    if (state_ != wsClosed)
        throw AppError(QStringLiteral("Cannot change Port if not closed"));
    port_ = value;
}

void TcpLink::connectTo(const QString& addr, const QString& port) {
    setAddr(addr);
    setPort(port);
    if (state_ != wsClosed)
        throw AppError(QStringLiteral("Connect: Socket already in use"));
    if (addr_.isEmpty())
        throw AppError(QStringLiteral("Connect: No IP Address Specified"));
    if (port_.isEmpty())
        throw AppError(QStringLiteral("Connect: No Port Specified"));
    const quint32 ip = resolveHost(addr_);
    const quint16 p = resolvePort(port_);
    setState(wsConnecting);
    socket_.connectToHost(QHostAddress(ip), p);
}

void TcpLink::close() {
    if (state_ == wsClosed && socket_.state() == QAbstractSocket::UnconnectedState)
        return;
    socket_.abort();
    setState(wsClosed);
}

void TcpLink::sendString(QByteArrayView bytes) {
    if (bytes.isEmpty() || state_ != wsConnected)
        return;
    socket_.write(bytes.data(), bytes.size());
}

void TcpLink::setState(State s) {
    if (s == state_)
        return;
    state_ = s;
    Q_EMIT stateChanged(s);
}

void TcpLink::onConnected() {
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Linger on with a time-out of 0: closing drops what is not yet sent at once.
    const linger l{1, 0};
    ::setsockopt(int(socket_.socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    setState(wsConnected);
}

void TcpLink::onSocketState(QAbstractSocket::SocketState s) {
    switch (s) {
    case QAbstractSocket::UnconnectedState:
        drainSocket(); // what the other side sent before it closed
        setState(wsClosed);
        break;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        setState(wsConnecting);
        break;
    case QAbstractSocket::BoundState:
        setState(wsBound);
        break;
    case QAbstractSocket::ListeningState:
        setState(wsListening);
        break;
    case QAbstractSocket::ConnectedState:
    case QAbstractSocket::ClosingState:
        break; // connected is announced by onConnected, with the socket options set
    }
}

void TcpLink::readSocket() {
    readScheduled_ = false;
    if (!socket_.isOpen() || socket_.bytesAvailable() <= 0)
        return;
    // A piece at a time: a modem server that floods cannot hold the window's thread for
    // longer than one piece takes, the ticks and the display go on in between.
    QByteArray data = socket_.read(kMaxPiece);
    data.removeIf([](char c) { return c == '\0'; });
    if (!data.isEmpty())
        Q_EMIT dataReceived(data);
    if (socket_.isOpen() && socket_.bytesAvailable() > 0 && !readScheduled_) {
        readScheduled_ = true;
        QTimer::singleShot(0, this, &TcpLink::readSocket);
    }
}

void TcpLink::drainSocket() {
    while (socket_.isOpen() && socket_.bytesAvailable() > 0)
        readSocket();
}
