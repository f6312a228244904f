#pragma once
// The real service with its web face, in a folder of its own, over a bank of simulated modems;
// an HTTP client with a cookie jar for its API, and raw connections for what no client sends.

#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "tasks/TaskFile.h"
#include "web/Users.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace webtest {

inline const QString kOperator = QStringLiteral("ivan");
inline const QString kOperatorPassword = QStringLiteral("Пар0ла-оператор");
inline const QString kViewer = QStringLiteral("maria");
inline const QString kViewerPassword = QStringLiteral("viewer-secret-7");

// A channel of the test base: direction "Русе", exchanges "Север" (1..6) and "Юг" (7..).
inline QString channelLine(int i) {
    return QStringLiteral("Русе -- %1  %2 Ch. --> #81%3")
        .arg(i <= 6 ? QStringLiteral("Север") : QStringLiteral("Юг"))
        .arg(i)
        .arg(i, 2, 10, QLatin1Char('0'));
}

struct WebStation {
    QTemporaryDir dir;
    QString bin = dir.filePath("bin"), work = dir.filePath("work");
    QProcess sim, service;
    QString seen;
    quint16 port = 0;
    QByteArray operatorHash, viewerHash;

    // A bank of `modems` answering from `answers` ("#8101 BUSY 300"), a base of `channels`
    // channels, the link settings with `pause` seconds, and a users file with an operator and a
    // viewer.
    bool make(int modems, const QStringList& answers, int channels = 10, int pause = 0) {
        QDir().mkpath(bin);
        QDir().mkpath(work);
        QStringList args{QStringLiteral("--modems"), QString::number(modems), QStringLiteral("--default"),
                         QStringLiteral("BUSY 200")};
        for (const QString& a : answers)
            args << QStringLiteral("--answer") << a;
        const QString first = realprogram::startSim(sim, args);
        if (first.isEmpty())
            return false;
        testfiles::writeText(work + "/KanvoAlt.ini", QStringLiteral("^127.0.0.1^\r\n9600^%1-%2^\r\nati\r\nat\r\n%3\r\n2\r\n")
                                                         .arg(first)
                                                         .arg(first.toInt() + modems - 1)
                                                         .arg(pause));
        QString base;
        for (int i = 1; i <= channels; ++i)
            base += QStringLiteral("Русе^%1^%2^#81%3^\r\n")
                        .arg(i <= 6 ? QStringLiteral("Север") : QStringLiteral("Юг"))
                        .arg(i)
                        .arg(i, 2, 10, QLatin1Char('0'));
        base += QStringLiteral("Видин^Център^1^#8201^\r\n");
        testfiles::writeText(work + "/ChBase.dat", base);
        operatorHash = web::Users::hashFor(kOperatorPassword.toUtf8());
        viewerHash = web::Users::hashFor(kViewerPassword.toUtf8(), "$2b$");
        testfiles::writeBytes(work + "/users", "# the web face's users\n" + kOperator.toUtf8() + ':' + operatorHash +
                                                   ":operator\n" + kViewer.toUtf8() + ':' + viewerHash + ":viewer\n");
        QFile::setPermissions(work + "/users", QFile::ReadOwner | QFile::WriteOwner);
        return QFile::copy(realprogram::binaryDir() + "/chantest-service", bin + "/chantest-service");
    }

    void task(const QString& file, const QString& name, const QString& type, int hour, int minute, int from, int to,
              const QString& status = QStringLiteral("Чакаща")) {
        QString text = TaskFile::buildHeader(name, type, hour, minute, status) + "\r\n";
        for (int i = from; i <= to; ++i)
            text += channelLine(i) + "\r\n";
        testfiles::writeText(work + u'/' + file, text);
    }

    // Starts the service listening on a free loopback port; false when it did not say where.
    bool start(const QStringList& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM", "NOTIFY_SOCKET"})
            env.remove(QString::fromLatin1(v));
        service.setProcessEnvironment(env);
        service.setProgram(bin + "/chantest-service");
        service.setArguments(QStringList{QStringLiteral("--folder"), work, QStringLiteral("--listen"),
                                         QStringLiteral("127.0.0.1:0"), QStringLiteral("--users"), work + "/users"} +
                             extra);
        service.start();
        static const QRegularExpression where(QStringLiteral("https?://127\\.0\\.0\\.1:([0-9]+)/"));
        for (int i = 0; i < 100 && port == 0; ++i) {
            service.waitForReadyRead(100);
            const QRegularExpressionMatch m = where.match(output());
            if (m.hasMatch())
                port = quint16(m.captured(1).toUInt());
            if (service.state() == QProcess::NotRunning)
                break;
        }
        return port != 0;
    }

    QString output() {
        seen += QString::fromUtf8(service.readAllStandardOutput());
        return seen;
    }

    // Ends the service as systemd does: true when it ended by itself with code 0 and no sanitizer
    // spoke on its standard error (the instrumented build's leaks and faults go there).
    bool stopCleanly(QString& why) {
        ::kill(pid_t(service.processId()), SIGTERM);
        if (!service.waitForFinished(30000)) {
            why = QStringLiteral("the service did not end after SIGTERM");
            return false;
        }
        const QString err = QString::fromLocal8Bit(service.readAllStandardError());
        why = QStringLiteral("exit code %1, standard error: %2").arg(service.exitCode()).arg(err.left(4000));
        return service.exitStatus() == QProcess::NormalExit && service.exitCode() == 0 && !err.contains(u"Sanitizer") &&
               !err.contains(u"runtime error");
    }
    QString results() const { return bin + "/Results"; }

    ~WebStation() {
        realprogram::stop(service);
        realprogram::stop(sim);
    }
};

struct Response {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray header(const QByteArray& name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
};

// A client of the API with a cookie jar of its own.
class Http {
public:
    explicit Http(quint16 port, const QString& scheme = QStringLiteral("http"))
        : base_(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port)) {
        nam_.setCookieJar(new QNetworkCookieJar(&nam_));
        nam_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    QString csrf;

    Response get(const QString& path, const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        return send("GET", path, {}, headers);
    }
    // A change, with the CSRF token of the last login unless `withToken` is false.
    Response post(const QString& path, const QByteArray& body = {}, bool withToken = true,
                  QList<QPair<QByteArray, QByteArray>> headers = {}) {
        if (withToken)
            headers.append(qMakePair(QByteArray("X-CSRF-Token"), csrf.toLatin1()));
        if (!body.isEmpty())
            headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
        return send("POST", path, body, headers);
    }
    Response postJson(const QString& path, const QJsonObject& o, bool withToken = true) {
        return post(path, QJsonDocument(o).toJson(QJsonDocument::Compact), withToken);
    }
    Response login(const QString& name, const QString& password) {
        const Response r = postJson(QStringLiteral("/api/login"),
                                    QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("password"), password}},
                                    false);
        if (r.status == 200)
            csrf = r.json().value(QStringLiteral("csrf")).toString();
        return r;
    }
    Response send(const QByteArray& method, const QString& path, const QByteArray& body,
                  const QList<QPair<QByteArray, QByteArray>>& headers) {
        QNetworkRequest request(QUrl(base_ + path));
        for (const auto& [k, v] : headers)
            request.setRawHeader(k, v);
        QNetworkReply* reply = nam_.sendCustomRequest(request, method, body);
        if (ignoreTlsErrors)
            reply->ignoreSslErrors();
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        Response r;
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.body = reply->readAll();
        r.headers = reply->rawHeaderPairs();
        reply->deleteLater();
        return r;
    }
    bool ignoreTlsErrors = false;

private:
    QString base_;
    QNetworkAccessManager nam_;
};

// Whether `got` holds a whole response: its header and as much body as it announces.
inline bool wholeResponse(const QByteArray& got) {
    const qsizetype end = got.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("\r\nContent-Length: *([0-9]+)"), QRegularExpression::CaseInsensitiveOption)
            .match(QString::fromLatin1(got.left(end)));
    return got.size() >= end + 4 + (m.hasMatch() ? m.captured(1).toLongLong() : 0);
}

// Bytes as they are sent, and what comes back: one response, or all until the server closes or
// `waitMs` passes.
inline QByteArray raw(quint16 port, const QByteArray& request, int waitMs = 3000) {
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(3000))
        return {};
    s.write(request);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs && s.state() == QAbstractSocket::ConnectedState && !wholeResponse(got)) {
        s.waitForReadyRead(50);
        got += s.readAll();
    }
    got += s.readAll();
    return got;
}

// The status code of a raw response; 0 for none.
inline int statusOf(const QByteArray& response) {
    return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
}

} // namespace webtest
