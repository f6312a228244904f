#include "WebApi.h"

#include "ChannelData.h"
#include "MonthData.h"
#include "core/AppError.h"
#include "tasks/StatusButton.h"
#include "tasks/TaskFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTimer>

namespace web {

namespace {
const QString kNoPath = QStringLiteral("Няма такава страница.");
const QString kBadJson = QStringLiteral("Тялото на заявката трябва да е JSON обект.");
constexpr int kMaxNameLength = 100;
constexpr int kMaxDirections = 100;
constexpr int kMaxRanges = 10000;

QJsonValue iso(const QDateTime& t) {
    if (!t.isValid())
        return QJsonValue::Null;
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

bool parseObject(const QByteArray& body, QJsonObject& out) {
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject())
        return false;
    out = d.object();
    return true;
}

bool isJson(const HttpRequest& r) {
    return r.header("content-type").split(';').value(0).trimmed().toLower() == "application/json";
}

// An Origin header, when a browser sends one, names this very host.
bool sameOrigin(const HttpRequest& r) {
    const QByteArray origin = r.header("origin");
    if (origin.isEmpty())
        return true;
    const QUrl o(QString::fromLatin1(origin));
    const QByteArray host = r.header("host");
    const QString authority = o.port() < 0 ? o.host() : QStringLiteral("%1:%2").arg(o.host()).arg(o.port());
    return o.isValid() && !host.isEmpty() && authority.compare(QString::fromLatin1(host), Qt::CaseInsensitive) == 0;
}

// A text from a client for the log: one line, bounded.
QString forLog(const QString& text, int max = 64) {
    QString t = text.left(max);
    for (QChar& c : t)
        if (c.category() == QChar::Other_Control)
            c = u'?';
    return t;
}

bool numberIn(const QString& text, int from, int to, int& out) {
    bool ok = false;
    out = text.toInt(&ok);
    return ok && out >= from && out <= to;
}

// The directions and the page of rows a listing asks for: ?direction=…(repeated)&offset=&limit=.
struct Listing {
    QVector<QString> directions;
    int offset = 0, limit = WebApi::kPageRows;
};
bool listingOf(const HttpRequest& r, Listing& l, HttpReply& reply) {
    for (const QString& d : r.query.allQueryItemValues(QStringLiteral("direction"), QUrl::FullyDecoded))
        l.directions.append(d);
    const auto given = [&](const char* key, int from, int to, int& out) {
        const QString k = QString::fromLatin1(key);
        return !r.query.hasQueryItem(k) || numberIn(r.queryValue(k), from, to, out);
    };
    if (l.directions.size() > kMaxDirections || !given("offset", 0, INT_MAX, l.offset) || !given("limit", 1, WebApi::kMaxPageRows, l.limit)) {
        reply.error(400, QStringLiteral("До %1 направления; offset е от 0 нагоре, limit от 1 до %2.").arg(kMaxDirections).arg(WebApi::kMaxPageRows));
        return false;
    }
    return true;
}

// The first of the directions that the base does not list, or none.
std::optional<QString> unknownDirection(const ChannelBaseView& base, const QVector<QString>& directions) {
    for (const QString& d : directions)
        if (!base.directions.contains(d))
            return d;
    return std::nullopt;
}

WebApi::Answer noDirection(const QString& d, int status) {
    return [d, status](HttpReply& r) { r.error(status, QStringLiteral("Направлението „%1“ не е в базата с канали.").arg(d)); };
}

QString taskDescription(const QString& name, const QString& type, int hour, int minute, int channels) {
    return QStringLiteral("„%1“, %2 %3:%4, %5 канала")
        .arg(name, type)
        .arg(hour, 2, 10, QChar(u'0'))
        .arg(minute, 2, 10, QChar(u'0'))
        .arg(channels);
}

// What a click on the status button would do, as the page offers it.
QJsonArray actionsFor(const QString& status, bool running, bool busy) {
    QJsonArray a;
    const QString caption = StatusButton::captionFor(status, QString());
    const StatusButton::Action act = StatusButton::clickAction(caption, running);
    if (caption == StatusButton::CaptionDisable)
        a.append(QStringLiteral("disable"));
    else if (caption == StatusButton::CaptionEnable)
        a.append(QStringLiteral("enable"));
    else if (act.newStatus || act.requestStop)
        a.append(QStringLiteral("stop"));
    if (!busy && status != text(TaskStatus::Disabled))
        a.append(QStringLiteral("start"));
    return a;
}

QMutex taskFileMutex; // two tasks added in one second choose their names one after the other

struct MonthId {
    int year = 0, month = 0;
};
bool monthOf(const QString& text, MonthId& m) {
    static const QRegularExpression kYymm(QStringLiteral("^[0-9]{4}$"));
    if (!kYymm.match(text).hasMatch())
        return false;
    m.year = 2000 + text.left(2).toInt();
    m.month = text.mid(2).toInt();
    return m.month >= 1 && m.month <= 12;
}
} // namespace

bool Relay::post(std::function<void()> f) {
    QMutexLocker lock(&mutex_);
    if (!target_)
        return false;
    QMetaObject::invokeMethod(target_, std::move(f), Qt::QueuedConnection);
    return true;
}

bool Relay::alive() const {
    QMutexLocker lock(&mutex_);
    return target_ != nullptr;
}

void Relay::close() {
    QMutexLocker lock(&mutex_);
    target_ = nullptr;
}

WebApi::WebApi(ApiSettings settings, StationBridge* bridge, QThreadPool* pool, QThreadPool* loginPool,
               QObject* parent)
    : QObject(parent), relay_(std::make_shared<Relay>(this)), settings_(std::move(settings)), bridge_(bridge), pool_(pool), loginPool_(loginPool),
      users_(settings_.usersFile) {
    clock_.start();
    refreshUsers();
}

WebApi::~WebApi() {
    relay_->close(); // before QObject removes what was posted to it
}

void WebApi::refreshUsers() {
    usersCheckedMs_ = clock_.elapsed();
    QStringList problems;
    if (users_.refresh(problems)) {
        // A user taken out of the file, or given another role, is logged out.
        sessions_.retain([this](const Sessions::Session& s) {
            const std::optional<Users::User> u = users_.find(s.user);
            return u && u->role == s.role;
        });
        for (const QString& p : problems)
            note(p, true);
        note(QStringLiteral("Уеб: %1 потребители от %2.").arg(users_.count()).arg(users_.path()));
    }
}

void WebApi::note(const QString& text, bool error) {
    QMetaObject::invokeMethod(bridge_, [b = bridge_, text, error] { b->note(text, error); }, Qt::QueuedConnection);
}

void WebApi::offload(HttpReply reply, std::function<Answer()> work, std::function<void()> after) {
    pool_->start([relay = relay_, reply = std::move(reply), work = std::move(work), after = std::move(after)]() mutable {
        Answer answer;
        try {
            answer = work();
        } catch (const AppError& e) {
            answer = [t = e.text()](HttpReply& r) { r.error(500, t); };
        } catch (const std::exception& e) {
            answer = [t = QString::fromLocal8Bit(e.what())](HttpReply& r) { r.error(500, t); };
        }
        relay->post([reply = std::move(reply), answer = std::move(answer), after = std::move(after)]() mutable {
            if (after)
                after();
            answer(reply);
        });
    });
}

void WebApi::onStation(HttpReply reply, std::function<StationBridge::Outcome(StationBridge&)> act) {
    QMetaObject::invokeMethod(
        bridge_,
        [relay = relay_, b = bridge_, reply = std::move(reply), act = std::move(act)]() mutable {
            if (!relay->alive())
                return; // the web face has stopped: nothing is done for it any more
            const StationBridge::Outcome out = act(*b);
            relay->post([reply = std::move(reply), out]() mutable { reply.json(out.status, out.body); });
        },
        Qt::QueuedConnection);
}

WebApi::Caller WebApi::caller(const HttpRequest& r) {
    if (clock_.elapsed() - usersCheckedMs_ >= kUsersCheckMs)
        refreshUsers();
    Caller c;
    c.token = Sessions::tokenIn(r.header("cookie"));
    c.session = sessions_.find(c.token, clock_.elapsed());
    return c;
}

bool WebApi::loggedIn(const HttpRequest& r, HttpReply& reply, Caller& c) {
    c = caller(r);
    if (c.session)
        return true;
    reply.error(401, QStringLiteral("Не сте влезли или сесията е изтекла."));
    return false;
}

bool WebApi::mayChange(const HttpRequest& r, HttpReply& reply, Caller& c, bool operatorOnly) {
    if (!sameOrigin(r)) {
        reply.error(403, QStringLiteral("Заявката идва от друг сайт."));
        return false;
    }
    if (!Sessions::sameToken(r.header("x-csrf-token"), c.session->csrf)) {
        reply.error(403, QStringLiteral("Липсва или е грешен ключът X-CSRF-Token."));
        return false;
    }
    if (operatorOnly && c.session->role != Role::Operator) {
        reply.error(403, QStringLiteral("Потребителят „%1“ е наблюдател: не може да променя нищо.").arg(c.session->user));
        return false;
    }
    return true;
}

void WebApi::handle(HttpRequest& r, HttpReply& reply) {
    if (r.badPath) {
        reply.error(404, kNoPath);
        return;
    }
    const QStringList& p = r.segments;
    if (p.isEmpty() || p[0] == u"login" || p[0] == u"static") {
        page(r, reply);
        return;
    }
    if (p.size() == 1 && p[0] == u"metrics") {
        if (r.method != HttpRequest::Method::Get)
            reply.error(405, QStringLiteral("Методът не е позволен."), {{"Allow", "GET"}});
        else
            metrics(r, reply);
        return;
    }
    // The API: its routes, the methods each takes.
    const QString a = p.value(1), b = p.value(3);
    QByteArray allowed;
    if (p[0] != u"api")
        allowed.clear();
    else if (p.size() == 2 && (a == u"login" || a == u"logout"))
        allowed = "POST";
    else if (p.size() == 2 && (a == u"session" || a == u"status" || a == u"channels" || a == u"months"))
        allowed = "GET";
    else if (p.size() == 2 && a == u"tasks")
        allowed = "GET, POST";
    else if (p.size() == 4 && a == u"tasks" && p[2].endsWith(u".tsk") && p[2].size() <= 100 &&
             QStringList{QStringLiteral("stop"), QStringLiteral("disable"), QStringLiteral("enable"),
                         QStringLiteral("start")}
                 .contains(b))
        allowed = "POST";
    else if (a == u"months" && ((p.size() == 3) || (p.size() == 4 && (b == u"workbook" || b == u"report")) ||
                                (p.size() == 5 && b == u"days")))
        allowed = "GET";
    if (allowed.isEmpty()) {
        reply.error(404, kNoPath);
        return;
    }
    const bool post = r.method == HttpRequest::Method::Post;
    if (!(post ? allowed.contains("POST") : r.method == HttpRequest::Method::Get && allowed.contains("GET"))) {
        reply.error(405, QStringLiteral("Методът не е позволен."), {{"Allow", allowed}});
        return;
    }
    if (a == u"login") {
        login(r, reply);
        return;
    }
    Caller c;
    if (!loggedIn(r, reply, c))
        return;
    const QString who = c.session->user;
    if (post && !mayChange(r, reply, c, a != u"logout"))
        return;
    if (a == u"logout") {
        sessions_.close(c.token);
        note(QStringLiteral("Уеб: %1 излезе.").arg(who));
        reply.json(200, QJsonObject{}, {{"Set-Cookie", Sessions::setCookie({}, reply.secure())}});
    } else if (a == u"session") {
        reply.json(200, QJsonObject{{QStringLiteral("name"), who},
                                    {QStringLiteral("role"), roleName(c.session->role)},
                                    {QStringLiteral("csrf"), QString::fromLatin1(c.session->csrf)}});
    } else if (a == u"status") {
        status(r, reply);
    } else if (a == u"tasks" && p.size() == 2) {
        post ? addTask(r, reply, who) : tasks(reply);
    } else if (a == u"tasks") {
        const QString file = p[2], action = b;
        onStation(reply, [file, action, who](StationBridge& s) { return s.taskAction(file, action, who); });
    } else if (a == u"channels") {
        channels(r, reply);
    } else if (a == u"months" && p.size() == 2) {
        monthList(reply);
    } else {
        month(r, reply, p);
    }
}

void WebApi::page(const HttpRequest& r, HttpReply& reply) {
    const QStringList& p = r.segments;
    if (r.method != HttpRequest::Method::Get) {
        reply.error(405, QStringLiteral("Методът не е позволен."), {{"Allow", "GET"}});
        return;
    }
    static const QByteArray kPagePolicy = "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                                          "base-uri 'none'; form-action 'self'";
    QString resource;
    QByteArray type;
    if (p.isEmpty() || (p.size() == 1 && p[0] == u"login")) {
        const bool in = caller(r).session != nullptr;
        // The operator's page only behind the login; the login page only before it.
        if (in == p.isEmpty()) {
            resource = p.isEmpty() ? QStringLiteral(":/web/index.html") : QStringLiteral(":/web/login.html");
            type = "text/html; charset=utf-8";
        } else {
            reply.send(303, {}, "text/plain", {{"Location", in ? "/" : "/login"}});
            return;
        }
    } else if (p.size() == 2 && p[0] == u"static" &&
               QStringList{QStringLiteral("app.js"), QStringLiteral("login.js"), QStringLiteral("style.css")}.contains(p[1])) {
        resource = QStringLiteral(":/web/") + p[1];
        type = p[1].endsWith(u".js") ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8";
    } else {
        reply.error(404, kNoPath);
        return;
    }
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) {
        reply.error(404, kNoPath);
        return;
    }
    reply.send(200, f.readAll(), type, {{"Content-Security-Policy", kPagePolicy}});
}

void WebApi::login(const HttpRequest& r, HttpReply& reply) {
    const qint64 now = clock_.elapsed();
    const qint64 wait = throttle_.waitMs(r.client, now);
    if (wait > 0) {
        const qint64 seconds = (wait + 999) / 1000;
        reply.error(429, QStringLiteral("Твърде много неуспешни опити за вход. Опитайте отново след %1 с.").arg(seconds),
                    {{"Retry-After", QByteArray::number(seconds)}});
        return;
    }
    if (!sameOrigin(r)) {
        reply.error(403, QStringLiteral("Заявката идва от друг сайт."));
        return;
    }
    QJsonObject o;
    if (!isJson(r) || !parseObject(r.body, o) || !o.value(QStringLiteral("name")).isString() ||
        !o.value(QStringLiteral("password")).isString()) {
        reply.error(400, QStringLiteral("Очаква се JSON обект {\"name\": …, \"password\": …}."));
        return;
    }
    const QString name = o.value(QStringLiteral("name")).toString();
    QByteArray password = o.value(QStringLiteral("password")).toString().toUtf8();
    if (name.size() > 64 || password.size() > Users::kMaxPassword) {
        reply.error(400, QStringLiteral("Името или паролата са твърде дълги."));
        return;
    }
    if (pendingLogins_ >= kMaxPendingLogins) {
        reply.error(503, QStringLiteral("Твърде много опити за вход наведнъж. Опитайте след малко."));
        return;
    }
    refreshUsers();
    const std::optional<Users::User> user = users_.find(name);
    // A name nobody has is checked against a decoy, so that the answer takes as long.
    const QByteArray hash = user ? user->hash : Users::decoy();
    ++pendingLogins_;
    const QHostAddress client = r.client;
    loginPool_->start([self = this, relay = relay_, reply, password, hash, user, name, client]() mutable {
        const bool ok = Users::verify(password, hash) && user.has_value();
        password.fill('\0');
        relay->post(
            [self, reply = std::move(reply), ok, user, name, client]() mutable {
                --self->pendingLogins_;
                const QString from = client.toString();
                if (!ok) {
                    self->throttle_.failed(client, self->clock_.elapsed());
                    self->note(QStringLiteral("Уеб: неуспешен вход като „%1“ от %2.").arg(forLog(name), from), true);
                    // Slowed down: a guess costs a second at least.
                    QTimer::singleShot(kFailedLoginDelayMs, self, [reply = std::move(reply)]() mutable {
                        reply.error(401, QStringLiteral("Грешно име или парола."));
                    });
                    return;
                }
                self->throttle_.succeeded(client);
                const QByteArray token = self->sessions_.open(user->name, user->role, self->clock_.elapsed());
                const Sessions::Session* s = self->sessions_.find(token, self->clock_.elapsed());
                self->note(QStringLiteral("Уеб: %1 (%2) влезе от %3.").arg(user->name, roleName(user->role), from));
                reply.json(200,
                           QJsonObject{{QStringLiteral("csrf"), QString::fromLatin1(s->csrf)},
                                       {QStringLiteral("name"), user->name},
                                       {QStringLiteral("role"), roleName(user->role)}},
                           {{"Set-Cookie", Sessions::setCookie(token, reply.secure())}});
            });
    });
}

void WebApi::metrics(const HttpRequest& r, HttpReply& reply) {
    if (!settings_.metricsLogin || caller(r).session) {
        sendMetrics(reply);
        return;
    }
    // Prometheus logs in with Basic credentials of the users file.
    const QByteArray auth = r.header("authorization");
    const QByteArray challenge = "Basic realm=\"chantest\", charset=\"UTF-8\"";
    if (!auth.startsWith("Basic ") || auth.size() > 2048) {
        reply.error(401, QStringLiteral("Нужен е вход."), {{"WWW-Authenticate", challenge}});
        return;
    }
    const qint64 now = clock_.elapsed();
    const QByteArray key = QCryptographicHash::hash(auth, QCryptographicHash::Sha256);
    const auto known = metricsCredentials_.constFind(key);
    if (known != metricsCredentials_.constEnd() && *known > now) {
        sendMetrics(reply);
        return;
    }
    if (throttle_.waitMs(r.client, now) > 0 || pendingLogins_ >= kMaxPendingLogins) {
        reply.error(429, QStringLiteral("Твърде много неуспешни опити за вход."));
        return;
    }
    QByteArray pair = QByteArray::fromBase64(auth.mid(6));
    const qsizetype colon = pair.indexOf(':');
    refreshUsers();
    const std::optional<Users::User> user = users_.find(QString::fromUtf8(pair.left(colon)));
    const QByteArray hash = user ? user->hash : Users::decoy();
    ++pendingLogins_;
    const QHostAddress client = r.client;
    loginPool_->start([self = this, relay = relay_, reply, pair, colon, hash, user, key, client, challenge]() mutable {
        const bool ok = colon > 0 && Users::verify(pair.mid(colon + 1), hash) && user.has_value();
        pair.fill('\0');
        relay->post(
            [self, reply = std::move(reply), ok, key, client, challenge]() mutable {
                --self->pendingLogins_;
                if (!ok) {
                    self->throttle_.failed(client, self->clock_.elapsed());
                    reply.error(401, QStringLiteral("Грешно име или парола."), {{"WWW-Authenticate", challenge}});
                    return;
                }
                if (self->metricsCredentials_.size() > 100)
                    self->metricsCredentials_.clear();
                self->metricsCredentials_.insert(key, self->clock_.elapsed() + 60000);
                self->sendMetrics(reply);
            });
    });
}

void WebApi::sendMetrics(HttpReply& reply) {
    const qint64 now = clock_.elapsed();
    const bool stale = reportMadeMs_ < 0 || now - reportMadeMs_ > kReportMaxAgeMs;
    if (stale && !reportMaking_) {
        reportMaking_ = true;
        pool_->start([self = this, relay = relay_, dir = settings_.results] {
            QByteArray made = month::ReportMetrics(dir, QDateTime::currentDateTime());
            relay->post(
                [self, made = std::move(made)] {
                    self->reportMetrics_ = made;
                    self->reportMadeMs_ = self->clock_.elapsed();
                    self->reportMaking_ = false;
                    for (HttpReply& r : self->metricsWaiting_)
                        self->sendMetrics(r);
                    self->metricsWaiting_.clear();
                });
        });
    }
    // Until the report has been made once, a scrape waits for it; later ones get the latest.
    if (reportMadeMs_ < 0) {
        if (metricsWaiting_.size() < 1000)
            metricsWaiting_.append(reply);
        else
            reply.error(503, QStringLiteral("Метриките още се подготвят."));
        return;
    }
    const std::shared_ptr<const StationView> view = bridge_->view();
    WebCounters counters;
    counters.loginFailures = throttle_.failures();
    reply.send(200, LiveMetrics(*view, counters) + reportMetrics_, "text/plain; version=0.0.4; charset=utf-8");
}

void WebApi::status(const HttpRequest& r, HttpReply& reply) {
    const std::shared_ptr<const StationView> v = bridge_->view();
    QJsonObject service{{QStringLiteral("started"), iso(v->serviceStarted)},
                        {QStringLiteral("lastCheck"), iso(v->lastCheck)},
                        {QStringLiteral("folder"), v->folder}};
    QJsonValue run = QJsonValue::Null;
    if (v->run) {
        const RunView& rv = *v->run;
        QJsonArray lines;
        for (const LineView& l : rv.lines)
            lines.append(QJsonObject{{QStringLiteral("name"), l.name},
                                     {QStringLiteral("state"), l.state},
                                     {QStringLiteral("channel"), l.channel}});
        run = QJsonObject{{QStringLiteral("task"), rv.task},
                          {QStringLiteral("file"), rv.file},
                          {QStringLiteral("type"), rv.type},
                          {QStringLiteral("channels"), rv.channels},
                          {QStringLiteral("done"), rv.done},
                          {QStringLiteral("percent"), rv.channels ? rv.done * 100 / rv.channels : 0},
                          {QStringLiteral("stopping"), rv.stopping},
                          {QStringLiteral("started"), iso(rv.started)},
                          {QStringLiteral("lines"), lines}};
    }
    // The log from the line after `log` (the latest 200 without it).
    bool ok = false;
    const quint64 after = r.queryValue(QStringLiteral("log")).toULongLong(&ok);
    quint64 next = 0;
    const QVector<LogRing::Line> got = bridge_->log().since(ok ? after : 0, ok ? 1000 : 200, next);
    QJsonArray log;
    for (const LogRing::Line& l : got)
        log.append(QJsonObject{{QStringLiteral("seq"), qint64(l.seq)},
                               {QStringLiteral("time"), iso(l.time)},
                               {QStringLiteral("text"), l.text},
                               {QStringLiteral("message"), l.message}});
    reply.json(200, QJsonObject{{QStringLiteral("now"), iso(QDateTime::currentDateTime())},
                                {QStringLiteral("service"), service},
                                {QStringLiteral("run"), run},
                                {QStringLiteral("log"), QJsonObject{{QStringLiteral("next"), qint64(next)},
                                                                    {QStringLiteral("lines"), log}}}});
}

void WebApi::tasks(HttpReply& reply) {
    const std::shared_ptr<const StationView> v = bridge_->view();
    const QString running = v->run ? v->run->file : QString();
    QStringList errors;
    QJsonArray rows;
    int no = 0;
    for (const TaskFile::Listed& t : TaskFile::readTable(settings_.folder, errors))
        rows.append(QJsonObject{{QStringLiteral("no"), ++no},
                                {QStringLiteral("name"), t.header.name},
                                {QStringLiteral("type"), t.header.type},
                                {QStringLiteral("start"), t.header.startText()},
                                {QStringLiteral("status"), t.header.status},
                                {QStringLiteral("file"), t.file},
                                {QStringLiteral("caption"), StatusButton::captionFor(t.header.status, QString())},
                                {QStringLiteral("actions"), actionsFor(t.header.status, t.file == running, v->run.has_value())}});
    reply.json(200, QJsonObject{{QStringLiteral("running"), running.isEmpty() ? QJsonValue() : QJsonValue(running)},
                                {QStringLiteral("tasks"), rows},
                                {QStringLiteral("errors"), QJsonArray::fromStringList(errors)}});
}

void WebApi::addTask(const HttpRequest& r, HttpReply& reply, const QString& who) {
    QJsonObject o;
    if (!isJson(r) || !parseObject(r.body, o)) {
        reply.error(400, kBadJson);
        return;
    }
    const QString name = o.value(QStringLiteral("name")).toString();
    if (name.contains(u'^') || name.contains(u'\n') || name.contains(u'\r') || name.size() > kMaxNameLength) {
        reply.error(400, QStringLiteral("Името на задачата не може да съдържа „^“ или нов ред и е до %1 знака.")
                             .arg(kMaxNameLength));
        return;
    }
    const QString typeText = o.value(QStringLiteral("type")).toString();
    const std::optional<TaskType> type = taskTypeOf(typeText);
    if (!type) {
        reply.error(400, QStringLiteral("Не е избран времеви тип. Моля изберете тип."));
        return;
    }
    const int hour = o.value(QStringLiteral("hour")).toInt(-1), minute = o.value(QStringLiteral("minute")).toInt(-1);
    if (*type != TaskType::Immediate && (hour < 0 || hour > 23 || minute < 0 || minute > 59)) {
        reply.error(400, QStringLiteral("Часът трябва да е от 0 до 23, минутите от 0 до 59."));
        return;
    }
    const QJsonArray dirs = o.value(QStringLiteral("directions")).toArray();
    const QJsonArray ranges = o.value(QStringLiteral("channels")).toArray();
    if (ranges.isEmpty()) {
        reply.error(400, QStringLiteral("Не е избран канал за проба. Моля изберете канал."));
        return;
    }
    if (dirs.size() > kMaxDirections || ranges.size() > kMaxRanges) {
        reply.error(413, QStringLiteral("Избрани са твърде много направления или отделни канали."));
        return;
    }
    QVector<QString> directions;
    for (const QJsonValue& d : dirs)
        directions.append(d.toString());
    QVector<QPair<int, int>> picked;
    for (const QJsonValue& v : ranges) {
        const QJsonArray pair = v.toArray();
        const int first = pair.at(0).toInt(-1), last = pair.size() == 2 ? pair.at(1).toInt(-1) : first;
        if (first < 0 || last < first) {
            reply.error(400, QStringLiteral("Каналите се дават като двойки [първи, последен]."));
            return;
        }
        picked.append({first, last});
    }
    std::sort(picked.begin(), picked.end());
    const QString base = o.value(QStringLiteral("base")).toString();
    offload(reply, [self = this, folder = settings_.folder, name, type = *type, hour, minute, directions, picked, base,
                    who]() -> Answer {
        const auto view = ReadChannelBase(folder);
        if (view->token != base)
            return [](HttpReply& r) { r.error(409, QStringLiteral("Базата с канали е променена: изберете каналите отново.")); };
        if (const auto d = unknownDirection(*view, directions))
            return noDirection(*d, 400);
        const auto listing = ListChannels(*view, directions);
        QList<QString> channels;
        // In the order of the list, each once, as the window saves the checked items: each run
        // (sorted) taken from where the runs before it ended.
        int next = 0;
        for (const auto& [first, last] : picked) {
            if (last >= listing->channels.size())
                return [](HttpReply& r) { r.error(400, QStringLiteral("Каналите са извън списъка на избраните направления.")); };
            for (int i = std::max(first, next); i <= last; ++i)
                channels.append(listing->channels[i]);
            next = std::max(next, last + 1);
        }
        const QDateTime now = QDateTime::currentDateTime();
        const bool immediate = type == TaskType::Immediate;
        const int h = immediate ? now.time().hour() : hour, m = immediate ? now.time().minute() : minute;
        QString file;
        {
            QMutexLocker lock(&taskFileMutex);
            const QDir dir(folder);
            file = TaskFile::chooseFileName(now, [&](const QString& n) { return QFileInfo::exists(dir.filePath(n)); });
            TaskFile::write(dir.filePath(file), TaskFile::buildHeader(name, type, h, m, TaskStatus::Waiting), channels);
        }
        const QString description = taskDescription(name, text(type), h, m, int(channels.size()));
        return [self, file, description, who](HttpReply& r) {
            self->onStation(r, [file, description, who](StationBridge& s) { return s.taskAdded(file, description, who); });
        };
    });
}

void WebApi::channels(const HttpRequest& r, HttpReply& reply) {
    Listing asked;
    if (!listingOf(r, asked, reply))
        return;
    offload(reply, [folder = settings_.folder, directions = asked.directions, offset = asked.offset,
                    limit = asked.limit]() -> Answer {
        const auto base = ReadChannelBase(folder);
        QJsonObject out{{QStringLiteral("base"), base->token}};
        if (directions.isEmpty()) {
            QStringList all(base->directions.begin(), base->directions.end());
            out.insert(QStringLiteral("directions"), QJsonArray::fromStringList(all));
            return [out](HttpReply& r) { r.json(200, out); };
        }
        if (const auto d = unknownDirection(*base, directions))
            return noDirection(*d, 404);
        const auto listing = ListChannels(*base, directions);
        QJsonArray exchanges;
        for (int e = 0; e < listing->exchanges.size(); ++e) {
            QJsonArray marks;
            for (const auto& [first, last] : listing->marks[e])
                marks.append(QJsonArray{first, last});
            exchanges.append(QJsonObject{{QStringLiteral("name"), listing->exchanges[e]}, {QStringLiteral("marks"), marks}});
        }
        QJsonArray items;
        for (int i = offset; i < listing->channels.size() && i < offset + limit; ++i)
            items.append(QJsonObject{{QStringLiteral("text"), listing->channels[i]},
                                     {QStringLiteral("label"), month::Label(listing->channels[i])}});
        out.insert(QStringLiteral("directions"), QJsonArray::fromStringList(QStringList(directions.begin(), directions.end())));
        out.insert(QStringLiteral("exchanges"), exchanges);
        out.insert(QStringLiteral("total"), int(listing->channels.size()));
        out.insert(QStringLiteral("offset"), offset);
        out.insert(QStringLiteral("channels"), items);
        return [out](HttpReply& r) { r.json(200, out); };
    });
}

void WebApi::monthList(HttpReply& reply) {
    offload(reply, [dir = settings_.results]() -> Answer {
        static const QRegularExpression kFile(QStringLiteral("^([0-9]{4})\\.(tst|jrn)$"));
        QStringList ids;
        for (const QString& f : QDir(dir).entryList(QDir::Files)) {
            const QRegularExpressionMatch m = kFile.match(f);
            MonthId id;
            if (m.hasMatch() && monthOf(m.captured(1), id) && !ids.contains(m.captured(1)))
                ids.append(m.captured(1));
        }
        std::sort(ids.begin(), ids.end(), std::greater<>());
        QJsonArray months;
        for (const QString& i : ids) {
            MonthId id;
            monthOf(i, id);
            months.append(QJsonObject{{QStringLiteral("id"), i}, {QStringLiteral("title"), month::Title(id.year, id.month)}});
        }
        return [months](HttpReply& r) { r.json(200, QJsonObject{{QStringLiteral("months"), months}}); };
    });
}

void WebApi::month(const HttpRequest& r, HttpReply& reply, const QStringList& p) {
    MonthId id;
    if (!monthOf(p[2], id)) {
        reply.error(404, QStringLiteral("Месецът се дава като ГГММ, например 2605."));
        return;
    }
    const int days = month::Days(id.year, id.month);
    const QString what = p.value(3);
    int day = 0;
    if (what == u"days" && !numberIn(p[4], 1, days, day)) {
        reply.error(404, QStringLiteral("Денят е извън месеца: %1 има %2 дни.").arg(month::MonthName(id.month)).arg(days));
        return;
    }
    const QString channel = r.queryValue(QStringLiteral("channel"));
    if (what == u"days" && channel.isEmpty()) {
        reply.error(400, QStringLiteral("Изберете канал: ?channel=…"));
        return;
    }
    Listing asked;
    if (!listingOf(r, asked, reply))
        return;
    const bool comments = r.queryValue(QStringLiteral("comments")) == u"1";
    // A workbook or a report page of a big month takes a while: one at a time, so that the
    // pool stays free for the others.
    const bool heavy = what == u"workbook" || what == u"report";
    if (heavy && exporting_) {
        reply.error(503, QStringLiteral("Друг експорт още се прави. Опитайте след малко."), {{"Retry-After", "5"}});
        return;
    }
    std::function<void()> after;
    if (heavy) {
        exporting_ = true;
        after = [this] { exporting_ = false; };
    }
    offload(reply, [results = settings_.results, folder = settings_.folder, id, days, what, day, channel,
                    directions = asked.directions, offset = asked.offset, limit = asked.limit, comments]() -> Answer {
        const QString yymm = QStringLiteral("%1%2").arg(id.year % 100, 2, 10, QChar(u'0')).arg(id.month, 2, 10, QChar(u'0'));
        if (what == u"report") {
            auto out = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("chantest-web-XXXXXX.html")));
            out->setAutoRemove(false);
            QString error;
            if (!out->open() || !month::ReportPage(results, id.year, id.month, QDateTime::currentDateTime(), *out, error)) {
                out->remove();
                return [error](HttpReply& r) { r.error(404, error.isEmpty() ? month::kNoData : error); };
            }
            out->close();
            return [path = out->fileName()](HttpReply& r) { r.file(path, "text/html; charset=utf-8", "inline", true); };
        }
        const auto lines = month::Lines(results, id.year, id.month);
        if (!lines)
            return [](HttpReply& r) { r.error(404, month::kNoData); };
        if (what == u"days") {
            const month::Day d = month::DayTests(*lines, channel, id.year, id.month, day);
            QJsonArray tests;
            int n = 0;
            for (const month::Test& t : d.tests)
                tests.append(QJsonObject{{QStringLiteral("no"), ++n},
                                         {QStringLiteral("answer"), t.answer},
                                         {QStringLiteral("delay"), t.delay},
                                         {QStringLiteral("time"), t.time}});
            const QJsonObject out{{QStringLiteral("title"), d.title}, {QStringLiteral("channel"), channel},
                                  {QStringLiteral("day"), day}, {QStringLiteral("tests"), tests}};
            return [out](HttpReply& r) { r.json(200, out); };
        }
        // The rows: the channels of the chosen directions, as the selection lists give them; or
        // every channel of the month file.
        QStringList labels;
        if (directions.isEmpty()) {
            labels = month::Labels(*lines);
        } else {
            const auto base = ReadChannelBase(folder);
            if (const auto d = unknownDirection(*base, directions))
                return noDirection(*d, 404);
            for (const QString& item : ListChannels(*base, directions)->channels)
                labels.append(month::Label(item));
        }
        if (what == u"workbook") {
            QTemporaryFile out(QDir::temp().filePath(QStringLiteral("chantest-web-XXXXXX.xlsx")));
            if (!out.open())
                throw FileError(QStringLiteral("Cannot create file %1").arg(out.fileTemplate()));
            const QString path = out.fileName() + QStringLiteral(".xlsx");
            month::WriteWorkbook(*lines, labels, id.year, id.month, comments, path);
            const QByteArray disposition = "attachment; filename=\"" + yymm.toLatin1() + ".xlsx\"";
            return [path, disposition](HttpReply& r) {
                r.file(path, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", disposition, true);
            };
        }
        const int total = int(labels.size());
        const QVector<QStringList> rows = month::GridRows(*lines, labels.mid(offset, limit), days);
        QJsonArray grid;
        for (int i = 0; i < rows.size(); ++i) {
            QJsonArray marks;
            for (int d = 1; d <= days; ++d)
                marks.append(rows[i].value(d + 1));
            grid.append(QJsonObject{{QStringLiteral("no"), offset + i + 1},
                                    {QStringLiteral("label"), rows[i].value(1)},
                                    {QStringLiteral("marks"), marks}});
        }
        const QJsonObject out{{QStringLiteral("id"), yymm},
                              {QStringLiteral("year"), id.year},
                              {QStringLiteral("month"), id.month},
                              {QStringLiteral("title"), month::Title(id.year, id.month)},
                              {QStringLiteral("days"), days},
                              {QStringLiteral("total"), total},
                              {QStringLiteral("offset"), offset},
                              {QStringLiteral("rows"), grid}};
        return [out](HttpReply& r) { r.json(200, out); };
    }, after);
}

} // namespace web
