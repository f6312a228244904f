#pragma once
// Who is logged in: a session per login, named by a random token in an HttpOnly cookie, with its
// own CSRF token that every change must carry; sessions end at logout, after a time without a
// request and after a longest time. Failed logins are counted per client: past a few, each next
// attempt must wait longer. All of it lives in memory, on the web thread; bounded in number.

#include "Users.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <functional>

namespace web {

class Sessions {
public:
    static constexpr int kMaxSessions = 1000;
    static constexpr qint64 kIdleMs = 30 * 60 * 1000;      // half an hour without a request
    static constexpr qint64 kLongestMs = 12 * 3600 * 1000; // a shift
    static inline const QByteArray kCookie = "chantest_session";

    struct Session {
        QString user;
        Role role = Role::Viewer;
        QByteArray csrf;
        qint64 createdMs = 0, seenMs = 0;
    };

    // A new session; returns its token (the cookie's value).
    QByteArray open(const QString& user, Role role, qint64 nowMs);
    // The session of a token, touched; nullptr when there is none or it has expired.
    const Session* find(const QByteArray& token, qint64 nowMs);
    void close(const QByteArray& token);
    // Ends every session `keep` says no to (a user removed from the file, or whose role changed).
    void retain(const std::function<bool(const Session&)>& keep);
    int count() const { return int(sessions_.size()); }

    // The cookie's value in a Cookie header; empty without one.
    static QByteArray tokenIn(const QByteArray& cookieHeader);
    // Set-Cookie for the token (an empty one ends the cookie).
    static QByteArray setCookie(const QByteArray& token, bool secure);
    // Two tokens compared in a time that does not tell where they differ.
    static bool sameToken(const QByteArray& a, const QByteArray& b);

private:
    static QByteArray key(const QByteArray& token);
    void dropOldest();
    QHash<QByteArray, Session> sessions_; // by the SHA-256 of the token
};

class LoginThrottle {
public:
    static constexpr int kFree = 5;               // failures before the waits begin
    static constexpr qint64 kLongestWaitMs = 300000;
    static constexpr qint64 kForgetMs = 3600000;  // a client quiet this long starts afresh
    static constexpr int kMaxClients = 10000;

    // How long the client must still wait before its next attempt (0: it may try now).
    qint64 waitMs(const QHostAddress& client, qint64 nowMs) const;
    void failed(const QHostAddress& client, qint64 nowMs);
    void succeeded(const QHostAddress& client) { clients_.remove(client); }
    quint64 failures() const { return failures_; }

private:
    struct Entry {
        int failures = 0;
        qint64 lastMs = 0;
    };
    QHash<QHostAddress, Entry> clients_;
    quint64 failures_ = 0;
};

} // namespace web
