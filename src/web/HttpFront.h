#pragma once
// The thin adapter over Qt's HTTP server: a request becomes a plain value (method, path
// segments, query, the headers the web face reads, body, client) and a reply that can be given
// at once or later, from the web thread, once a job is done; a reply whose client has gone is
// dropped. Every response carries the same protective headers.

#include "HttpGuard.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>
#include <QUrlQuery>
#include <functional>
#include <memory>

class QFile;

namespace web {

struct HttpRequest {
    enum class Method { Get, Post, Other };
    Method method = Method::Other;
    QString target;         // the path as sent, for the log
    QStringList segments;   // the decoded path segments; empty for "/"
    bool badPath = false;   // a segment "." or "..", an encoded slash, a NUL: no path of ours
    QUrlQuery query;
    QHash<QByteArray, QByteArray> headers; // names in lower case; the last of a repeated one
    QByteArray body;
    QHostAddress client;    // the peer, or the address a trusted proxy names
    bool secure = false;    // over TLS (here or at a trusted proxy)
    QByteArray header(const char* lowerName) const { return headers.value(QByteArray(lowerName)); }
    // The value of a query item, decoded; empty when absent.
    QString queryValue(const QString& key) const;
};

// Splits and decodes a path; `bad` is set for one that tries to leave its folder or hides a
// separator.
QStringList PathSegments(const QByteArray& encodedPath, bool& bad);

class HttpReply {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    HttpReply() = default;
    HttpReply(QHttpServerResponder&& responder, GuardedSocket* socket, bool secure);

    void send(int status, const QByteArray& body, const QByteArray& type, const Headers& extra = {});
    void json(int status, const QJsonObject& body, const Headers& extra = {});
    void json(int status, const QByteArray& compactJson, const Headers& extra = {});
    // {"error": text}
    void error(int status, const QString& text, const Headers& extra = {});
    // Streams a file (deleted by the reply once written when `temporary`).
    void file(const QString& path, const QByteArray& type, const QByteArray& disposition, bool temporary);
    bool sent() const { return !state_ || state_->sent; }
    bool secure() const { return state_ && state_->secure; }

private:
    struct State {
        std::optional<QHttpServerResponder> responder;
        QPointer<GuardedSocket> socket;
        bool secure = false;
        bool sent = false;
    };
    bool open();
    std::shared_ptr<State> state_;
};

class HttpFront : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Handler = std::function<void(HttpRequest&, HttpReply&)>;
    HttpFront(const HttpLimits& limits, Handler handler, QObject* parent = nullptr);
    // A proxy on this machine (nginx) names the client in X-Real-IP and says X-Forwarded-Proto.
    void setTrustProxy(bool on) { trustProxy_ = on; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    const HttpLimits limits_;
    Handler handler_;
    bool trustProxy_ = false;
};

} // namespace web
