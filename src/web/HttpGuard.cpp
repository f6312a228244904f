#include "HttpGuard.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace web {

namespace {
const char* reason(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}
} // namespace

QByteArray FixedResponse(int status, const QString& text) {
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson(QJsonDocument::Compact);
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" + body;
}

GuardedSocket::GuardedSocket(const HttpLimits& limits, QObject* parent) : QSslSocket(parent), limits_(limits) {
    // Before the server's own connection to readyRead, so that a request past its limits is
    // refused before it is parsed; the buffer never holds much more than a whole request.
    connect(this, &QIODevice::readyRead, this, &GuardedSocket::arrived);
    connect(this, &QIODevice::bytesWritten, this, &GuardedSocket::restartIdle);
    setReadBufferSize(2 * (limits_.maxHeaderBytes + limits_.maxBodyBytes));
    deadline_.setSingleShot(true);
    idle_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { refuse(408, QStringLiteral("Заявката не пристигна навреме.")); });
    connect(&idle_, &QTimer::timeout, this, &GuardedSocket::timedOut);
    idle_.start(limits_.idleMs); // until the first request begins
}

void GuardedSocket::startHandshake(const QSslConfiguration& tls) {
    setSslConfiguration(tls);
    idle_.stop();
    deadline_.start(limits_.requestMs);
    connect(this, &QSslSocket::encrypted, this, [this] {
        deadline_.stop();
        idle_.start(limits_.idleMs);
    });
    connect(this, &QSslSocket::sslErrors, this, [this] { abort(); });
    startServerEncryption();
}

void GuardedSocket::restartIdle() {
    if (!handling_ && !closing_)
        idle_.start(limits_.idleMs);
}

void GuardedSocket::timedOut() {
    // Nothing asked, or a reply the client does not read.
    closing_ = true;
    abort();
}

void GuardedSocket::arrived() {
    if (closing_) {
        readAll();
        return;
    }
    // The server reads everything that has come; what is unread now came since it last read,
    // but for the bytes of a next request left by the one before.
    const qint64 fresh = bytesAvailable() - carried_;
    const qint64 from = carried_;
    carried_ = 0;
    if (fresh <= 0)
        return;
    if (received_ == 0 && !handling_) {
        idle_.stop();
        deadline_.start(limits_.requestMs);
    }
    received_ += fresh;
    scan(QByteArrayView(peek(from + fresh)).sliced(from));
}

// Follows the request as far as its limits need: where its header ends (an empty line) and how
// many bytes came after it. The parsing itself is the server's.
void GuardedSocket::scan(QByteArrayView bytes) {
    qsizetype i = 0;
    for (; i < bytes.size() && !headerDone_; ++i) {
        const char c = bytes[i];
        ++headerBytes_;
        if (c == '\n') {
            if (lineLength_ == 0 && sawLine_)
                headerDone_ = true;
            sawLine_ = sawLine_ || lineLength_ > 0;
            lineLength_ = 0;
        } else if (c != '\r') {
            ++lineLength_;
        }
    }
    if (!headerDone_ && headerBytes_ > limits_.maxHeaderBytes) {
        refuse(431, QStringLiteral("Заглавната част на заявката е по-голяма от %1 KiB.").arg(limits_.maxHeaderBytes / 1024));
        return;
    }
    bodyBytes_ += bytes.size() - i;
    if (bodyBytes_ > limits_.maxBodyBytes)
        refuse(413, QStringLiteral("Тялото на заявката е по-голямо от %1 KiB.").arg(limits_.maxBodyBytes / 1024));
}

void GuardedSocket::requestTaken() {
    deadline_.stop();
    idle_.stop();
    handling_ = true;
    received_ = headerBytes_ = bodyBytes_ = 0;
    lineLength_ = 0;
    sawLine_ = headerDone_ = false;
    // A pipelined request that came with this one: the start of the next.
    carried_ = bytesAvailable();
    if (carried_ > 0) {
        received_ = carried_;
        scan(peek(carried_));
    }
}

void GuardedSocket::responded() {
    handling_ = false;
    if (closing_)
        return;
    if (received_ > 0)
        deadline_.start(limits_.requestMs);
    else
        idle_.start(limits_.idleMs);
}

void GuardedSocket::refuse(int status, const QString& text) {
    if (closing_)
        return;
    closing_ = true;
    deadline_.stop();
    idle_.stop();
    // The server must not parse what is left: it would answer a request already refused.
    disconnect(this, &QIODevice::readyRead, nullptr, nullptr);
    if (isTransactionStarted())
        commitTransaction();
    readAll();
    if (state() == ConnectedState && (mode() == UnencryptedMode || isEncrypted()))
        write(FixedResponse(status, text));
    QSslSocket::disconnectFromHost();
}

void GuardedSocket::disconnectFromHost() {
    if (!closing_ && received_ > 0 && !handling_) {
        refuse(400, QStringLiteral("Заявката не може да бъде прочетена."));
        return;
    }
    closing_ = true;
    deadline_.stop();
    idle_.stop();
    QSslSocket::disconnectFromHost();
}

GuardedServer::GuardedServer(const HttpLimits& limits, QObject* parent) : QTcpServer(parent), limits_(limits) {}

void GuardedServer::incomingConnection(qintptr handle) {
    auto* socket = new GuardedSocket(limits_, this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    const QHostAddress client = socket->peerAddress();
    socket->setClient(client);
    ++total_;
    const int mine = ++perClient_[client];
    connect(socket, &QObject::destroyed, this, [this, client] { released(client); });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    if (total_ > limits_.total || mine > limits_.perClient) {
        if (tls_) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->refuse(total_ > limits_.total ? 503 : 429,
                       total_ > limits_.total ? QStringLiteral("Твърде много връзки към услугата.")
                                              : QStringLiteral("Твърде много връзки от този адрес."));
        return;
    }
    if (!tls_) {
        addPendingConnection(socket);
        return;
    }
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { addPendingConnection(socket); });
    socket->startHandshake(*tls_);
}

void GuardedServer::released(const QHostAddress& client) {
    --total_;
    auto it = perClient_.find(client);
    if (it != perClient_.end() && --*it <= 0)
        perClient_.erase(it);
}

} // namespace web
