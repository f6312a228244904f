#include "HttpFront.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QStringDecoder>

namespace web {

namespace {
// Nothing but what the page itself serves; the page and the report's page say more.
const QByteArray kDefaultPolicy = "default-src 'none'; frame-ancestors 'none'; base-uri 'none'";

void commonHeaders(QHttpServerResponder& r, bool secure, bool policyGiven) {
    r.writeHeader("Cache-Control", "no-store");
    r.writeHeader("X-Content-Type-Options", "nosniff");
    r.writeHeader("X-Frame-Options", "DENY");
    r.writeHeader("Referrer-Policy", "no-referrer");
    if (!policyGiven)
        r.writeHeader("Content-Security-Policy", kDefaultPolicy);
    if (secure)
        r.writeHeader("Strict-Transport-Security", "max-age=31536000");
}
} // namespace

QString HttpRequest::queryValue(const QString& key) const {
    return query.queryItemValue(key, QUrl::FullyDecoded);
}

QStringList PathSegments(const QByteArray& encodedPath, bool& bad) {
    bad = false;
    QStringList out;
    for (const QByteArray& raw : encodedPath.split('/')) {
        if (raw.isEmpty())
            continue;
        const QByteArray decoded = QByteArray::fromPercentEncoding(raw);
        if (decoded == "." || decoded == ".." || decoded.contains('/') || decoded.contains('\\') ||
            decoded.contains('\0'))
            bad = true;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(decoded);
        if (utf8.hasError())
            bad = true;
        out.append(text);
    }
    return out;
}

HttpReply::HttpReply(QHttpServerResponder&& responder, GuardedSocket* socket, bool secure)
    : state_(std::make_shared<State>()) {
    state_->responder.emplace(std::move(responder));
    state_->socket = socket;
    state_->secure = secure;
}

bool HttpReply::open() {
    if (!state_ || state_->sent)
        return false;
    state_->sent = true;
    // The client went away while the reply was being made: nobody to tell.
    if (!state_->socket || state_->socket->state() != QAbstractSocket::ConnectedState) {
        state_->responder.reset();
        return false;
    }
    return true;
}

void HttpReply::send(int status, const QByteArray& body, const QByteArray& type, const Headers& extra) {
    if (!open())
        return;
    QHttpServerResponder& r = *state_->responder;
    r.writeStatusLine(QHttpServerResponder::StatusCode(status));
    r.writeHeader("Content-Type", type);
    r.writeHeader("Content-Length", QByteArray::number(body.size()));
    bool policy = false;
    for (const auto& [name, value] : extra) {
        policy = policy || name == "Content-Security-Policy";
        r.writeHeader(name, value);
    }
    commonHeaders(r, state_->secure, policy);
    r.writeBody(body);
    state_->responder.reset();
    state_->socket->responded();
}

void HttpReply::json(int status, const QJsonObject& body, const Headers& extra) {
    json(status, QJsonDocument(body).toJson(QJsonDocument::Compact), extra);
}

void HttpReply::json(int status, const QByteArray& compactJson, const Headers& extra) {
    send(status, compactJson, "application/json; charset=utf-8", extra);
}

void HttpReply::error(int status, const QString& text, const Headers& extra) {
    json(status, QJsonObject{{QStringLiteral("error"), text}}, extra);
}

void HttpReply::file(const QString& path, const QByteArray& type, const QByteArray& disposition, bool temporary) {
    auto* f = new QFile(path);
    if (!f->open(QIODevice::ReadOnly)) {
        delete f;
        if (temporary)
            QFile::remove(path);
        error(500, QStringLiteral("Файлът не може да бъде прочетен."));
        return;
    }
    // Open, it is read to its end; its name is no longer needed.
    if (temporary)
        QFile::remove(path);
    if (!open()) {
        delete f;
        return;
    }
    const QByteArray hsts = state_->secure ? QByteArray("max-age=31536000") : QByteArray("max-age=0");
    // The responder owns the device and streams it as the client reads.
    state_->responder->write(f,
                             {{"Content-Type", type},
                              {"Content-Disposition", disposition},
                              {"Cache-Control", "no-store"},
                              {"X-Content-Type-Options", "nosniff"},
                              {"X-Frame-Options", "DENY"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Content-Security-Policy",
                               "default-src 'none'; style-src 'unsafe-inline'; img-src data:; frame-ancestors 'none'"},
                              {"Strict-Transport-Security", hsts}},
                             QHttpServerResponder::StatusCode::Ok);
    state_->responder.reset();
    state_->socket->responded();
}

HttpFront::HttpFront(const HttpLimits& limits, Handler handler, QObject* parent)
    : QAbstractHttpServer(parent), limits_(limits), handler_(std::move(handler)) {}

bool HttpFront::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    auto* guarded = qobject_cast<GuardedSocket*>(socket);
    if (!guarded) { // every connection comes through a GuardedServer
        socket->abort();
        return true;
    }
    guarded->requestTaken();
    HttpRequest r;
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        r.method = HttpRequest::Method::Get;
        break;
    case QHttpServerRequest::Method::Post:
        r.method = HttpRequest::Method::Post;
        break;
    default:
        r.method = HttpRequest::Method::Other;
    }
    const QUrl url = request.url();
    const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    r.target = QString::fromLatin1(path.left(200));
    r.segments = PathSegments(path, r.badPath);
    r.query = QUrlQuery(url.query(QUrl::FullyEncoded));
    qsizetype headerBytes = 0;
    for (const auto& [name, value] : request.headers()) {
        r.headers.insert(name.toLower(), value);
        headerBytes += name.size() + value.size() + 4;
    }
    r.body = request.body();
    r.client = guarded->client();
    r.secure = guarded->isEncrypted();
    if (trustProxy_ && r.client.isLoopback()) {
        const QHostAddress named(QString::fromLatin1(r.header("x-real-ip").trimmed()));
        if (!named.isNull())
            r.client = named;
        r.secure = r.secure || r.header("x-forwarded-proto").trimmed() == "https";
    }
    HttpReply reply(makeResponder(request, socket), guarded, r.secure);
    // As parsed, once more: the guard counted bytes on the wire.
    if (headerBytes > limits_.maxHeaderBytes) {
        reply.error(431, QStringLiteral("Заглавната част на заявката е твърде голяма."));
        return true;
    }
    if (r.body.size() > limits_.maxBodyBytes) {
        reply.error(413, QStringLiteral("Тялото на заявката е твърде голямо."));
        return true;
    }
    handler_(r, reply);
    return true;
}

void HttpFront::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    HttpReply reply(makeResponder(request, socket), qobject_cast<GuardedSocket*>(socket), false);
    reply.error(404, QStringLiteral("Няма такава страница."));
}

} // namespace web
