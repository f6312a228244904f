#pragma once
// The connections of the web face, before Qt's HTTP server reads them: at most a set number per
// client and in all, a request begun must arrive whole within a few seconds (a slow client holds
// a connection, never the server), an idle or unread connection is closed, a header or a body past
// its limit is refused (431, 413) before anything parses it, and a request that the parser gives
// up on gets 400 rather than a silent close. With TLS the handshake is made here, within the same
// deadline, and the server sees only encrypted connections.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <optional>

namespace web {

struct HttpLimits {
    int maxHeaderBytes = 8 * 1024;
    int maxBodyBytes = 256 * 1024;
    int requestMs = 5000; // from a request's first byte to its last, and for the TLS handshake
    int idleMs = 30000;   // a kept-alive connection without a request, or one that reads nothing
    int perClient = 16;   // connections of one address at a time
    int total = 512;      // connections at all
};

// A response the program writes itself, where the HTTP server has no request to answer: a JSON
// body {"error": text}, and the connection closes.
QByteArray FixedResponse(int status, const QString& text);

class GuardedSocket : public QSslSocket {
    Q_OBJECT
public:
    GuardedSocket(const HttpLimits& limits, QObject* parent = nullptr);
    // Encrypts the connection; it is handed to the server once encrypted.
    void startHandshake(const QSslConfiguration& tls);

    // The server has read a whole request: what follows it belongs to the next one. The reply
    // is being made: no deadline runs until responded().
    void requestTaken();
    // The reply is written: the connection waits for the next request.
    void responded();
    // Answers with a fixed response before the server has read a request, and closes.
    void refuse(int status, const QString& text);
    // Qt's parser closes a connection whose request it cannot read: it is told why first.
    void disconnectFromHost() override;

    const QHostAddress& client() const { return client_; }
    void setClient(const QHostAddress& a) { client_ = a; }

private:
    void arrived();
    void scan(QByteArrayView bytes);
    void timedOut();
    void restartIdle();

    const HttpLimits limits_;
    QHostAddress client_;
    QTimer deadline_; // the request being received, or the handshake
    QTimer idle_;
    qint64 carried_ = 0;   // unread bytes already counted, left by the request before
    qint64 received_ = 0;  // bytes of the request being received
    qint64 headerBytes_ = 0;
    qint64 bodyBytes_ = 0;
    int lineLength_ = 0; // of the header line being received, without CR
    bool sawLine_ = false;
    bool headerDone_ = false;
    bool handling_ = false;
    bool closing_ = false;
};

class GuardedServer : public QTcpServer {
    Q_OBJECT
public:
    explicit GuardedServer(const HttpLimits& limits, QObject* parent = nullptr);
    // Encrypts every connection with this configuration.
    void setTls(const QSslConfiguration& tls) { tls_ = tls; }
    bool tls() const { return tls_.has_value(); }
    int connections() const { return total_; }

protected:
    void incomingConnection(qintptr handle) override;

private:
    void released(const QHostAddress& client);

    const HttpLimits limits_;
    std::optional<QSslConfiguration> tls_;
    QHash<QHostAddress, int> perClient_;
    int total_ = 0;
};

} // namespace web
