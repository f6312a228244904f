#pragma once
// A real browser for the tests: Debian's chromium, headless, driven through the DevTools
// protocol over its WebSocket. It navigates, evaluates JavaScript in the page (awaiting promises),
// waits for a condition in the page, and takes screenshots.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

namespace webtest {

class Browser {
public:
    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }

    // Starts chromium on an empty page; false with the reason.
    bool start(QString& error, int width = 1400, int height = 1000) {
        if (program().isEmpty()) {
            error = QStringLiteral("chromium is not installed");
            return false;
        }
        process_.setProgram(program());
        process_.setArguments({QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                               QStringLiteral("--disable-dev-shm-usage"), QStringLiteral("--disable-background-networking"),
                               QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                               QStringLiteral("--disable-extensions"), QStringLiteral("--no-first-run"),
                               QStringLiteral("--no-default-browser-check"), QStringLiteral("--lang=bg"),
                               QStringLiteral("--user-data-dir=") + profile_.path(),
                               QStringLiteral("--remote-debugging-port=0"),
                               QStringLiteral("--window-size=%1,%2").arg(width).arg(height), QStringLiteral("about:blank")});
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start();
        if (!process_.waitForStarted(10000)) {
            error = QStringLiteral("chromium did not start");
            return false;
        }
        // It names its debugging port in the profile once it listens.
        const QString portFile = profile_.filePath(QStringLiteral("DevToolsActivePort"));
        QElapsedTimer t;
        t.start();
        QByteArray port;
        while (t.elapsed() < 20000 && port.isEmpty() && process_.state() == QProcess::Running) {
            QFile f(portFile);
            if (f.open(QIODevice::ReadOnly))
                port = f.readLine().trimmed();
            if (port.isEmpty())
                QThread::msleep(50);
        }
        if (port.isEmpty()) {
            error = QStringLiteral("chromium did not open its debugging port: ") + QString::fromLocal8Bit(process_.readAll());
            return false;
        }
        // The page it opened, and its WebSocket.
        QNetworkAccessManager nam;
        QNetworkReply* list = nam.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(QString::fromLatin1(port)))));
        wait(list, &QNetworkReply::finished, 10000);
        QString ws;
        for (const QJsonValue& v : QJsonDocument::fromJson(list->readAll()).array())
            if (v[QStringLiteral("type")].toString() == u"page")
                ws = v[QStringLiteral("webSocketDebuggerUrl")].toString();
        list->deleteLater();
        if (ws.isEmpty()) {
            error = QStringLiteral("chromium lists no page");
            return false;
        }
        QObject::connect(&socket_, &QWebSocket::textMessageReceived, [this](const QString& m) {
            const QJsonObject o = QJsonDocument::fromJson(m.toUtf8()).object();
            if (o.contains(QStringLiteral("id")))
                answers_.insert(o.value(QStringLiteral("id")).toInt(), o);
        });
        socket_.open(QUrl(ws));
        if (!wait(&socket_, &QWebSocket::connected, 10000)) {
            error = QStringLiteral("the page's WebSocket did not open");
            return false;
        }
        call(QStringLiteral("Page.enable"));
        call(QStringLiteral("Runtime.enable"));
        return true;
    }

    ~Browser() {
        socket_.close();
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }

    // A command and its result; an empty object after `timeoutMs` or on a protocol error.
    QJsonObject call(const QString& method, const QJsonObject& params = {}, int timeoutMs = 15000) {
        const int id = ++lastId_;
        socket_.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}})
                .toJson(QJsonDocument::Compact)));
        QElapsedTimer t;
        t.start();
        while (!answers_.contains(id) && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QJsonObject answer = answers_.take(id);
        if (answer.contains(QStringLiteral("error")))
            lastError = QJsonDocument(answer.value(QStringLiteral("error")).toObject()).toJson(QJsonDocument::Compact);
        return answer.value(QStringLiteral("result")).toObject();
    }

    bool navigate(const QString& url) {
        call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}});
        return waitFor(QStringLiteral("document.readyState === 'complete' && location.href !== 'about:blank'"), 15000);
    }

    // The value of a JavaScript expression in the page (a promise is awaited).
    QJsonValue eval(const QString& expression, int timeoutMs = 15000) {
        const QJsonObject r = call(QStringLiteral("Runtime.evaluate"),
                                   {{QStringLiteral("expression"), expression},
                                    {QStringLiteral("awaitPromise"), true},
                                    {QStringLiteral("returnByValue"), true}},
                                   timeoutMs);
        if (r.contains(QStringLiteral("exceptionDetails")))
            lastError = QJsonDocument(r.value(QStringLiteral("exceptionDetails")).toObject()).toJson(QJsonDocument::Compact);
        return r.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
    }

    // Polls until the expression is true in the page.
    bool waitFor(const QString& condition, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        do {
            if (eval(QStringLiteral("!!(%1)").arg(condition), 5000).toBool())
                return true;
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
        } while (t.elapsed() < timeoutMs);
        return false;
    }

    // The page as a PNG, the whole of it when `full`.
    QByteArray screenshot(bool full = false) {
        QJsonObject params{{QStringLiteral("format"), QStringLiteral("png")}};
        if (full)
            params.insert(QStringLiteral("captureBeyondViewport"), true);
        return QByteArray::fromBase64(call(QStringLiteral("Page.captureScreenshot"), params).value(QStringLiteral("data")).toString().toLatin1());
    }

    QString lastError;

private:
    template <class Object, class Signal> static bool wait(Object* o, Signal s, int ms) {
        QEventLoop loop;
        bool fired = false;
        QObject::connect(o, s, &loop, [&] {
            fired = true;
            loop.quit();
        });
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return fired;
    }

    QTemporaryDir profile_;
    QProcess process_;
    QWebSocket socket_;
    int lastId_ = 0;
    QHash<int, QJsonObject> answers_;
};

} // namespace webtest
