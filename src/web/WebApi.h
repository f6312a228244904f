#pragma once
// What the web face answers, on the web thread: the page and its files, the JSON API under
// /api/ and /metrics, each behind the login, the role and the CSRF token it needs. Whatever reads
// many files (a channel base, a month, a workbook, the report) runs on the worker pool; a
// password is checked on a pool of its own; a change is carried out on the station's thread by
// the bridge. The web thread itself never waits.

#include "HttpFront.h"
#include "Sessions.h"
#include "StationBridge.h"
#include "WebMetrics.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <functional>

namespace web {

// Hands work to the web thread from any thread for as long as the API lives: a job that ends
// after the API has gone is dropped.
class Relay {
public:
    explicit Relay(QObject* target) : target_(target) {}
    bool post(std::function<void()> f);
    bool alive() const;
    void close();

private:
    mutable QMutex mutex_;
    QObject* target_;
};

struct ApiSettings {
    QString folder;  // the working folder: task files, the channel base
    QString results; // the month files
    QString usersFile;
    bool metricsLogin = false;
};

class WebApi : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(HttpReply&)>;
    static constexpr int kMaxPendingLogins = 32;
    static constexpr int kFailedLoginDelayMs = 1000;
    static constexpr qint64 kReportMaxAgeMs = 15000; // the 24-hour metrics are made again after this
    static constexpr int kPageRows = 500;            // grid rows and channels in one answer, unless asked
    static constexpr int kMaxPageRows = 2000;
    static constexpr qint64 kUsersCheckMs = 2000;    // how soon a change of the users file counts

    WebApi(ApiSettings settings, StationBridge* bridge, QThreadPool* pool, QThreadPool* loginPool,
           QObject* parent = nullptr);
    ~WebApi() override;
    void handle(HttpRequest& r, HttpReply& reply);

private:
    struct Caller {
        const Sessions::Session* session = nullptr;
        QByteArray token;
    };

    // Access.
    Caller caller(const HttpRequest& r);
    bool loggedIn(const HttpRequest& r, HttpReply& reply, Caller& c);
    bool mayChange(const HttpRequest& r, HttpReply& reply, Caller& c, bool operatorOnly = true);
    void refreshUsers();
    // A line for the service's log.
    void note(const QString& text, bool error = false);

    // Running elsewhere and answering here; `after` runs here first, whatever the work gave.
    void offload(HttpReply reply, std::function<Answer()> work, std::function<void()> after = {});
    void onStation(HttpReply reply, std::function<StationBridge::Outcome(StationBridge&)> act);

    void page(const HttpRequest& r, HttpReply& reply);
    void login(const HttpRequest& r, HttpReply& reply);
    void metrics(const HttpRequest& r, HttpReply& reply);
    void status(const HttpRequest& r, HttpReply& reply);
    void tasks(HttpReply& reply);
    void addTask(const HttpRequest& r, HttpReply& reply, const QString& who);
    void channels(const HttpRequest& r, HttpReply& reply);
    void monthList(HttpReply& reply);
    void month(const HttpRequest& r, HttpReply& reply, const QStringList& path);
    void sendMetrics(HttpReply& reply);

    std::shared_ptr<Relay> relay_;
    const ApiSettings settings_;
    StationBridge* bridge_;
    QThreadPool* pool_;
    QThreadPool* loginPool_;
    Users users_;
    Sessions sessions_;
    LoginThrottle throttle_;
    QElapsedTimer clock_; // sessions and waits: monotonic
    int pendingLogins_ = 0;
    qint64 usersCheckedMs_ = -1;
    bool exporting_ = false; // a workbook or a report page is being made: one at a time
    // Basic credentials of /metrics checked lately (their SHA-256), and until when they hold.
    QHash<QByteArray, qint64> metricsCredentials_;
    // The report's 24-hour metrics as made last, and the replies waiting for the first.
    QByteArray reportMetrics_;
    qint64 reportMadeMs_ = -1;
    bool reportMaking_ = false;
    QList<HttpReply> metricsWaiting_;
};

} // namespace web
