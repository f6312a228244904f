#include "WebService.h"

#include "HttpFront.h"
#include "StationBridge.h"
#include "WebApi.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <future>
#include <QHostInfo>
#include <QSslCertificate>
#include <QSslKey>

// The page's files, compiled in.
static void initWebResources() {
    Q_INIT_RESOURCE(web);
}

namespace web {

bool ParseListen(const QString& text, WebOptions::Address& out, QString& error) {
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon > 0 ? text.left(colon) : QString();
    bool ok = false;
    const uint port = colon > 0 ? text.mid(colon + 1).toUInt(&ok) : 0;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host == u"localhost")
        host = QStringLiteral("127.0.0.1");
    out.host = QHostAddress(host);
    out.port = quint16(port);
    if (!ok || port > 65535 || out.host.isNull()) {
        error = QStringLiteral("--listen иска АДРЕС:ПОРТ, например 127.0.0.1:8470 или [::1]:8470, а не „%1“.").arg(text);
        return false;
    }
    return true;
}

WebService::WebService(Station& station, const Clock& clock, std::function<void(const QString&, bool)> log)
    : bridge_(std::make_unique<StationBridge>(station, clock, std::move(log))) {
    initWebResources();
    pool_.setMaxThreadCount(2);
    loginPool_.setMaxThreadCount(1);
}

WebService::~WebService() {
    stop();
}

bool WebService::start(const WebOptions& o, const QString& folder, const QString& results, QString& error) {
    std::optional<QSslConfiguration> tls;
    if (!o.tlsCert.isEmpty() || !o.tlsKey.isEmpty()) {
        if (o.tlsCert.isEmpty() || o.tlsKey.isEmpty()) {
            error = QStringLiteral("--tls-cert и --tls-key се дават заедно.");
            return false;
        }
        if (!QSslSocket::supportsSsl()) {
            error = QStringLiteral("TLS не се поддържа: липсва библиотеката OpenSSL.");
            return false;
        }
        QFile cert(o.tlsCert), key(o.tlsKey);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Сертификатът %1 или ключът %2 не може да се прочете.").arg(o.tlsCert, o.tlsKey);
            return false;
        }
        const QList<QSslCertificate> chain = QSslCertificate::fromData(cert.readAll(), QSsl::Pem);
        const QByteArray keyBytes = key.readAll();
        QSslKey k(keyBytes, QSsl::Rsa, QSsl::Pem);
        if (k.isNull())
            k = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
        if (chain.isEmpty() || k.isNull()) {
            error = QStringLiteral("Сертификатът %1 или ключът %2 не е във формат PEM.").arg(o.tlsCert, o.tlsKey);
            return false;
        }
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificateChain(chain);
        c.setPrivateKey(k);
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        c.setProtocol(QSsl::TlsV1_2OrLater);
        tls = c;
    }
    std::promise<std::pair<QObject*, QEventLoop*>> started;
    thread_ = std::thread([&started] {
        QEventLoop loop; // the thread is adopted by Qt, and gets an event dispatcher with it
        QObject holder;
        started.set_value({&holder, &loop});
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    std::tie(holder_, loop_) = started.get_future().get();
    ApiSettings settings{folder, results, o.usersFile, o.metricsLogin};
    inWebThread([&] {
        auto* api = new WebApi(settings, bridge_.get(), &pool_, &loginPool_, holder_);
        auto* front = new HttpFront(
            o.limits, [api](HttpRequest& r, HttpReply& reply) { api->handle(r, reply); }, holder_);
        front->setTrustProxy(o.trustProxy);
        for (const WebOptions::Address& a : o.listen) {
            auto* server = new GuardedServer(o.limits);
            if (tls)
                server->setTls(*tls);
            if (!server->listen(a.host, a.port)) {
                error = QStringLiteral("Услугата не може да слуша на %1:%2: %3.")
                            .arg(a.host.toString())
                            .arg(a.port)
                            .arg(server->errorString());
                delete server;
                return;
            }
            ports_.append(server->serverPort());
            front->bind(server);
        }
    });
    if (!error.isEmpty()) {
        stop();
        return false;
    }
    return true;
}

void WebService::inWebThread(const std::function<void()>& f) {
    QMetaObject::invokeMethod(holder_, f, Qt::BlockingQueuedConnection);
}

void WebService::stop() {
    if (!thread_.joinable())
        return;
    // Every connection ends on the web thread, the API with them; jobs still under way find it
    // gone and drop their answers.
    inWebThread([this] {
        for (GuardedServer* s : holder_->findChildren<GuardedServer*>()) {
            s->close();
            for (GuardedSocket* c : s->findChildren<GuardedSocket*>())
                c->abort();
        }
        // The server before the API it hands requests to.
        const QObjectList made = holder_->children();
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            delete *it;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    pool_.waitForDone();
    loginPool_.waitForDone();
    // The thread's own state (OpenSSL's too) is gone once it is joined.
    QMetaObject::invokeMethod(holder_, [loop = loop_] { loop->quit(); });
    thread_.join();
    holder_ = nullptr;
    loop_ = nullptr;
    ports_.clear();
}

} // namespace web
